#pragma once

#include <QTreeWidget>

namespace camwarden {

// A one-column report list with a header and numbered rows (from 1). The
// click notification comes for a mouse click on a row and for every change
// of the selected row made with the keyboard. Once a row is selected the
// list is never left without one.
class ListView : public QTreeWidget {
    Q_OBJECT
public:
    explicit ListView(QWidget* parent = nullptr);

    void AddColumnHeader(const QString& text);
    void SetColumnWidthTwips(int twips);
    void AddItem(const QString& text);
    int Count() const { return topLevelItemCount(); }
    QString ItemText(int index) const;

    // Marks the row as selected without a click notification; throws
    // "Index out of bounds" for a row that does not exist.
    void SelectIndex(int index);
    int SelectedIndex() const;  // 0 when nothing is selected
    QString SelectedText() const;

Q_SIGNALS:
    void Click();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void Select(QTreeWidgetItem* item);
    void KeepSelection();

    QPersistentModelIndex lastSelected_;
};

}  // namespace camwarden

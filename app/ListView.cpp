#include "app/ListView.h"

#include "app/VbError.h"

#include <QHeaderView>
#include <QMouseEvent>

namespace camwarden {

ListView::ListView(QWidget* parent) : QTreeWidget(parent) {
    setColumnCount(0);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    header()->setStretchLastSection(false);
    header()->setSectionsMovable(false);
    connect(this, &QTreeWidget::itemSelectionChanged, this, &ListView::KeepSelection);
}

void ListView::AddColumnHeader(const QString& text) {
    setColumnCount(1);
    setHeaderLabels({text});
}

void ListView::SetColumnWidthTwips(int twips) {
    setColumnWidth(0, twips / 15);
}

void ListView::AddItem(const QString& text) {
    addTopLevelItem(new QTreeWidgetItem({text}));
}

QString ListView::ItemText(int index) const {
    if (index < 1 || index > Count()) throw VbError::IndexOutOfBounds();
    return topLevelItem(index - 1)->text(0);
}

void ListView::SelectIndex(int index) {
    if (index < 1 || index > Count()) throw VbError::IndexOutOfBounds();
    Select(topLevelItem(index - 1));
}

void ListView::Select(QTreeWidgetItem* item) {
    setCurrentItem(item);
    item->setSelected(true);
}

int ListView::SelectedIndex() const {
    const QList<QTreeWidgetItem*> selected = selectedItems();
    return selected.isEmpty() ? 0 : indexOfTopLevelItem(selected.front()) + 1;
}

QString ListView::SelectedText() const {
    const QList<QTreeWidgetItem*> selected = selectedItems();
    return selected.isEmpty() ? QString() : selected.front()->text(0);
}

void ListView::KeepSelection() {
    const QList<QTreeWidgetItem*> selected = selectedItems();
    if (!selected.isEmpty()) {
        lastSelected_ = indexFromItem(selected.front());
        return;
    }
    // A ctrl-click on the selected row would leave the list without a choice.
    if (lastSelected_.isValid()) {
        const QSignalBlocker block(this);
        Select(itemFromIndex(lastSelected_));
    }
}

void ListView::mouseReleaseEvent(QMouseEvent* event) {
    QTreeWidget::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && itemAt(event->position().toPoint()) != nullptr &&
        SelectedIndex() > 0) {
        Q_EMIT Click();
    }
}

void ListView::keyPressEvent(QKeyEvent* event) {
    const int before = SelectedIndex();
    QTreeWidget::keyPressEvent(event);
    if (SelectedIndex() != before && SelectedIndex() > 0) Q_EMIT Click();
}

}  // namespace camwarden

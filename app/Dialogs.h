#pragma once

#include <QString>
#include <optional>

class QWidget;

namespace camwarden {

enum class MsgIcon { None, Exclamation };

// Message boxes, the input box and the folder browser. Message boxes never
// block: the schedule keeps ticking while one is on screen.
class Dialogs {
public:
    virtual ~Dialogs() = default;

    // A box whose text is already on screen is not opened a second time.
    virtual void MsgBox(const QString& text, MsgIcon icon, const QString& title) = 0;
    // nullopt when cancelled.
    virtual std::optional<QString> InputBox(const QString& prompt, const QString& title,
                                            const QString& defaultText) = 0;
    // Empty when cancelled or when the choice is no folder on disk.
    virtual QString BrowseForFolder(QWidget* owner, const QString& title,
                                    const QString& startFolder) = 0;

    // The short title: the caption of boxes that name no title of their own.
    void SetAppTitle(const QString& title) { appTitle_ = title; }
    const QString& AppTitle() const { return appTitle_; }

    // OK only, no icon, the short title.
    void MsgBox(const QString& text) { MsgBox(text, MsgIcon::None, appTitle_); }

private:
    QString appTitle_;
};

}  // namespace camwarden

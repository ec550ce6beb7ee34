#pragma once

#include "app/Dialogs.h"
#include "app/Helpers.h"

#include <QPointer>
#include <QSet>

namespace camwarden {

class QtDialogs final : public Dialogs {
public:
    void MsgBox(const QString& text, MsgIcon icon, const QString& title) override;
    std::optional<QString> InputBox(const QString& prompt, const QString& title,
                                    const QString& defaultText) override;
    QString BrowseForFolder(QWidget* owner, const QString& title,
                            const QString& startFolder) override;
    using Dialogs::MsgBox;

private:
    QSet<QString> open_;  // texts on screen now
};

class QtShellFolders final : public ShellFolders {
public:
    QString SpecialFolderPath(int folder, bool create) override;
};

}  // namespace camwarden

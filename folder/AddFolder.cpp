#include "folder/AddFolder.h"

#include "app/Dialogs.h"

#include <QDir>

namespace camwarden::AddFolder {

QString BrowseForFolder(Dialogs& dialogs, QWidget* ownerWindow, const QString& title,
                        const QString& startFolder) {
    const QString chosen = dialogs.BrowseForFolder(ownerWindow, title, startFolder);
    return chosen.isEmpty() ? QString() : QDir::toNativeSeparators(chosen);
}

}  // namespace camwarden::AddFolder

#pragma once

#include <QString>

class QWidget;

namespace camwarden {

class Dialogs;

namespace AddFolder {
// The chosen folder in the platform's own notation, or empty on cancel.
QString BrowseForFolder(Dialogs& dialogs, QWidget* ownerWindow, const QString& title,
                        const QString& startFolder);
}  // namespace AddFolder

}  // namespace camwarden

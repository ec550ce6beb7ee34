#include "app/Os.h"

#include <unistd.h>
#include <QStandardPaths>

namespace camwarden::os {

QString UserId() {
    return QString::number(getuid());
}

QString SettingsFile(const QString& application) {
    // Resolved on every call: QSettings would remember the first config
    // home of the process.
    const QString home = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return home + QLatin1Char('/') + application + QLatin1Char('/') + application +
           QStringLiteral(".ini");
}

}  // namespace camwarden::os

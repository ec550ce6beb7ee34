#include "platform/Os.h"

#include <unistd.h>
#include <QDir>
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

QString SettingsKey(const QString& /*application*/) {
    return {};
}

InstanceNames DefaultInstanceNames() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    QString name = QStringLiteral("camwarden");
    if (folder.isEmpty()) {
        // No runtime folder of the user's own (cron, ssh, one another user
        // made): every user shares the temporary folder, so the names say
        // whose they are, or one user's copy would stop every other's.
        folder = QDir::tempPath();
        name += QLatin1Char('-') + UserId();
    }
    const QString base = folder + QLatin1Char('/') + name;
    return {base + QStringLiteral(".lock"), base + QStringLiteral(".sock")};
}

void LetRunningCopyComeForward(qintptr /*connection*/) {}

}  // namespace camwarden::os

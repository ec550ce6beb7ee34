#include "app/Os.h"

#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <ctime>

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

QString StateFolder() {
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    // A relative path is invalid by the XDG rules and is ignored.
    if (state.isEmpty() || QDir::isRelativePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/camwarden");
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

int64_t SinceBootMs() {
    timespec t = {};
#ifdef CLOCK_BOOTTIME
    if (clock_gettime(CLOCK_BOOTTIME, &t) != 0)
#endif
        clock_gettime(CLOCK_MONOTONIC, &t);
    return int64_t(t.tv_sec) * 1000 + t.tv_nsec / 1'000'000;
}

QString BootId() {
    QFile id(QStringLiteral("/proc/sys/kernel/random/boot_id"));
    return id.open(QIODevice::ReadOnly) ? QString::fromLatin1(id.readAll().trimmed()) : QString();
}

}  // namespace camwarden::os

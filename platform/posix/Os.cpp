#include "app/Os.h"

#include <unistd.h>
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

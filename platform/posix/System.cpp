#include "storage/System.h"

#include <QDir>
#include <QFile>
#include <ctime>

namespace camwarden::store::sys {

QString StateFolder() {
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    // A relative path is invalid by the XDG rules and is ignored.
    if (state.isEmpty() || QDir::isRelativePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/camwarden");
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

}  // namespace camwarden::store::sys

#include "platform/posix/Journal.h"

#include <sys/stat.h>
#include <unistd.h>
#include <QByteArray>
#include <QtGlobal>

namespace camwarden {

bool StderrIsJournal() {
    // The journal names its stream as "device:inode" in JOURNAL_STREAM.
    const QByteArray stream = qgetenv("JOURNAL_STREAM");
    const qsizetype colon = stream.indexOf(':');
    struct stat st = {};
    if (colon <= 0 || ::fstat(STDERR_FILENO, &st) != 0) return false;
    bool devOk = false;
    bool inoOk = false;
    const qulonglong dev = stream.left(colon).toULongLong(&devOk);
    const qulonglong ino = stream.mid(colon + 1).toULongLong(&inoOk);
    return devOk && inoOk && dev == st.st_dev && ino == st.st_ino;
}

}  // namespace camwarden

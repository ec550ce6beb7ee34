#pragma once

#include <QFile>
#include <QString>
#include <QtGlobal>
#include <mutex>

namespace camwarden {

// A log kept under a bound: past `bound` bytes the file becomes
// "<name>.old.<suffix>", replacing an older one, and a new file starts, so
// the log never takes much more than twice the bound. Safe from any thread.
class LogFile {
public:
    static constexpr qint64 kBound = qint64(2) * 1024 * 1024;

    // Makes the file and its folder when missing; appends to one there.
    explicit LogFile(QString path, qint64 bound = kBound);
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    void Write(const QString& line);

    // A window program on Windows has no standard error: from now on until
    // this object goes every message is written here, formatted with its
    // date and time, and passed on to Qt's own output (the debugger's,
    // OutputDebugString, or a console when started from one).
    void Install();

private:
    void Turn();  // under m_

    std::mutex m_;
    QString path_;
    QString old_;
    qint64 bound_;
    QFile file_;
    bool installed_ = false;
};

}  // namespace camwarden

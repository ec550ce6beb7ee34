#include "platform/win/LogFile.h"

#include <QDir>
#include <QFileInfo>
#include <atomic>

namespace camwarden {
namespace {

// A message handler is a plain function; it finds the log installed here,
// and Qt's own output to pass each message on to.
// NOLINTBEGIN(cppcoreguidelines-avoid-non-const-global-variables)
std::atomic<LogFile*> g_log{nullptr};
std::atomic<QtMessageHandler> g_next{nullptr};
// NOLINTEND(cppcoreguidelines-avoid-non-const-global-variables)

void Handler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (LogFile* log = g_log.load()) log->Write(qFormatLogMessage(type, context, message));
    if (const QtMessageHandler next = g_next.load()) next(type, context, message);
}

constexpr auto kOpenMode = QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered;

}  // namespace

LogFile::LogFile(QString path, qint64 bound) : path_(std::move(path)), bound_(bound) {
    const QFileInfo info(path_);
    QDir().mkpath(info.absolutePath());
    old_ = info.absolutePath() + QLatin1Char('/') + info.completeBaseName() +
           QStringLiteral(".old.") + info.suffix();
    file_.setFileName(path_);
    // Without the file Qt's own output still has every line.
    if (file_.open(kOpenMode) && file_.size() >= bound_) Turn();
}

LogFile::~LogFile() {
    if (installed_) {
        qInstallMessageHandler(g_next.load());
        g_log = nullptr;
    }
}

void LogFile::Install() {
    if (installed_) return;
    installed_ = true;
    g_log = this;
    g_next = qInstallMessageHandler(Handler);
}

void LogFile::Write(const QString& line) {
    const QByteArray bytes = (line + QStringLiteral("\r\n")).toUtf8();
    const std::lock_guard lock(m_);
    if (!file_.isOpen()) return;
    file_.write(bytes);
    if (file_.size() >= bound_) Turn();
}

void LogFile::Turn() {
    file_.close();
    QFile::remove(old_);
    QFile::rename(path_, old_);
    file_.setFileName(path_);
    file_.open(kOpenMode);
}

}  // namespace camwarden

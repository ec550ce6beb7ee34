#include "app/SystemWiring.h"
#include "platform/Os.h"
#include "platform/win/LogFile.h"
#include "platform/win/SessionEnd.h"
#include "platform/win/WinRegistry.h"

#include <QWidget>

namespace camwarden::wiring {

QString CommandLineDescription() {
    return QStringLiteral(
        "Records short webcam clips on a schedule into a folder.\n\n"
        "Settings: HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings\\Quillory,\n"
        "  keys Camwarden and CaptureDriver.\n"
        "Start at log-on: HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run.\n"
        "Log: %LOCALAPPDATA%\\Quillory\\Camwarden\\camwarden.log.");
}

std::shared_ptr<void> StartLogging(const char* timedLines) {
    if (qEnvironmentVariableIsEmpty("QT_MESSAGE_PATTERN"))
        qSetMessagePattern(QLatin1String(timedLines));
    // No standard error for a window program: the log goes to a file.
    auto log = std::make_shared<LogFile>(os::StateFolder() + QStringLiteral("/camwarden.log"));
    log->Install();
    return log;
}

std::unique_ptr<Registry> MakeRegistry() {
    return std::make_unique<WinRegistry>();
}

std::shared_ptr<void> WatchCloseRequests(QWidget* window,
                                         const std::function<void()>& finishClips) {
    // At log-off Windows ends the process once the handler returns: the
    // clip being recorded is finished first.
    auto sessionEnd = std::make_shared<SessionEnd>(finishClips);
    QObject::connect(sessionEnd.get(), &SessionEnd::CloseRequested, window, &QWidget::close);
    return sessionEnd;
}

void StartUpOver() {}

}  // namespace camwarden::wiring

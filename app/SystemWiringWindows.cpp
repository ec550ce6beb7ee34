#include "app/Logging.h"
#include "app/SystemWiring.h"
#include "platform/Os.h"
#include "platform/win/LogFile.h"
#include "platform/win/SessionEnd.h"
#include "platform/win/WinRegistry.h"
#include "platform/win/WinText.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QWidget>
#include <utility>

namespace camwarden::wiring {

// Laid out for a message box: its font is proportional, so no columns.
QString CommandLineDescription() {
    return QStringLiteral(
        "Records short webcam clips on a schedule into a folder.\n\n"
        "Settings: HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings\\Quillory, keys "
        "Camwarden and CaptureDriver.\n"
        "Start at log-on: HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run.\n"
        "Log: %LOCALAPPDATA%\\Quillory\\Camwarden\\camwarden.log.");
}

QString CameraOptionDescription() {
    return QStringLiteral(
        "Camera for this run: a camera's name as Video Source lists it, such as \"USB Video "
        "Device\", or its device path, such as \\\\?\\usb#vid_046d&pid_0825&mi_00#...\\global; "
        "\"test\" for the built-in test camera, or \"test-mjpeg\" for a test camera that delivers "
        "MJPEG like most webcams.");
}

int AnswerCommandLine(Answer answer, const QCommandLineParser& /*parser*/, const QString& problem) {
    const QString help =
        QStringLiteral("Usage: camwarden.exe [--camera CAMERA]\n\n--camera CAMERA\n    ") +
        CameraOptionDescription() +
        QStringLiteral("\n\n--help, /?\n    Shows this.\n\n--version\n    Shows the version.\n\n") +
        CommandLineDescription();
    QString text;
    UINT icon = MB_ICONINFORMATION;
    switch (answer) {
        case Answer::Help:
            text = help;
            qCInfo(lcApp).noquote() << "asked for help:" << text;
            break;
        case Answer::Version:
            text = QCoreApplication::applicationName() + QLatin1Char(' ') +
                   QCoreApplication::applicationVersion();
            qCInfo(lcApp).noquote() << "asked for the version:" << text;
            break;
        case Answer::Problem:
            text = problem + QStringLiteral("\n\n") + help;
            icon = MB_ICONERROR;
            qCWarning(lcApp).noquote() << "not starting:" << problem;
            break;
    }
    MessageBoxW(nullptr, text.toStdWString().c_str(),
                QCoreApplication::applicationName().toStdWString().c_str(),
                MB_OK | icon | MB_SETFOREGROUND);
    return answer == Answer::Problem ? 2 : 0;
}

std::shared_ptr<void> StartLogging(const char* timedLines) {
    if (qEnvironmentVariableIsEmpty("QT_MESSAGE_PATTERN"))
        qSetMessagePattern(QLatin1String(timedLines));
    // No standard error for a window program: the log goes to a file.
    auto log = std::make_shared<LogFile>(os::StateFolder() + QStringLiteral("/camwarden.log"));
    log->Install();
    return log;
}

void UseOwnPlugins() {
    // Installed, bin\camwarden.exe has its plugins in lib\gstreamer-1.0; a
    // build tree has none there and takes the SDK's from the environment.
    const QString plugins =
        QCoreApplication::applicationDirPath() + QStringLiteral("/../lib/gstreamer-1.0");
    if (!QFileInfo(plugins).isDir()) return;
    // Another GStreamer's plugins would load beside the program's own, and
    // a registry shared with it would describe its plugins, not these.
    const std::pair<const wchar_t*, QString> settings[] = {
        {L"GST_PLUGIN_SYSTEM_PATH_1_0", QDir::cleanPath(plugins)},
        {L"GST_PLUGIN_SYSTEM_PATH", QDir::cleanPath(plugins)},
        {L"GST_PLUGIN_PATH_1_0", {}},
        {L"GST_PLUGIN_PATH", {}},
        {L"GST_REGISTRY_1_0", os::StateFolder() + QStringLiteral("/gstreamer-registry.bin")},
        {L"GST_REGISTRY", os::StateFolder() + QStringLiteral("/gstreamer-registry.bin")},
    };
    // GLib reads the process's environment, not the C runtime's copy.
    for (const auto& [name, value] : settings)
        SetEnvironmentVariableW(name, value.isNull()
                                          ? nullptr
                                          : QDir::toNativeSeparators(value).toStdWString().c_str());
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

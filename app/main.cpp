#include "app/CaretRest.h"
#include "app/ClassicStyle.h"
#include "app/EventLoopWatch.h"
#include "app/Form1.h"
#include "app/Logging.h"
#include "app/SingleInstance.h"
#include "platform/gst/GstCaptureSystem.h"
#include "platform/qt/QtDialogs.h"
#include "platform/qt/QtTrayShell.h"
#include "tray/QuilloryIcon.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#ifdef Q_OS_UNIX
#include "platform/posix/Journal.h"
#include "platform/posix/UnixSignals.h"
#endif
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
#include "platform/xdg/XdgAutostartRegistry.h"
#endif
#ifdef Q_OS_WIN
#include "app/Os.h"
#include "platform/win/LogFile.h"
#include "platform/win/SessionEnd.h"
#include "platform/win/WinRegistry.h"
#endif

namespace {

// Stands in when GStreamer itself is unusable: every connect finds no webcam.
class NoCaptureSystem final : public camwarden::CaptureSystem {
public:
    std::unique_ptr<camwarden::CaptureWindow> CreateCaptureWindow(const QString&,
                                                                  QWidget*) override {
        return nullptr;
    }
    void SetClipFailedHandler(ClipFailedHandler) override {}
};

const QCommandLineOption& CameraOption() {
    static const QCommandLineOption camera(
        QStringLiteral("camera"),
        QStringLiteral("Camera for this run: a device path such as /dev/video2 or a camera's name, "
                       "\"test\" for the "
                       "built-in test camera, or \"test-mjpeg\" for a test camera that delivers "
                       "MJPEG like most webcams."),
        QStringLiteral("camera"));
    return camera;
}

// Log lines kept in a file need the time of each; the journal adds its own.
constexpr const char* kTimedLines =
    "%{time yyyy-MM-dd hh:mm:ss.zzz} %{if-category}%{category}: %{endif}%{message}";

void DescribeCommandLine(QCommandLineParser& parser) {
#ifdef Q_OS_WIN
    parser.setApplicationDescription(QStringLiteral(
        "Records short webcam clips on a schedule into a folder.\n\n"
        "Settings: HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings\\Quillory,\n"
        "  keys Camwarden and CaptureDriver.\n"
        "Start at log-on: HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run.\n"
        "Log: %LOCALAPPDATA%\\Quillory\\Camwarden\\camwarden.log."));
#else
    parser.setApplicationDescription(QStringLiteral(
        "Records short webcam clips on a schedule into a folder.\n\n"
        "Settings: $XDG_CONFIG_HOME/Quillory/Quillory.ini (default ~/.config), sections\n"
        "  [Camwarden] and [CaptureDriver].\n"
        "Start at log-on: $XDG_CONFIG_HOME/autostart/camwarden.desktop.\n"
        "Debug logging: QT_LOGGING_RULES=\"camwarden.*.debug=true\" camwarden"));
#endif
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption(CameraOption());
}

bool AsksOnlyForText(int argc, char* argv[]) {
    return std::any_of(argv + 1, argv + argc, [](const char* arg) {
        const std::string_view a(arg);
        return a == "--help" || a == "-h" || a == "-?" || a == "--help-all" || a == "--version" ||
               a == "-v";
    });
}

}  // namespace

int main(int argc, char* argv[]) {
    using namespace camwarden;
    QCoreApplication::setApplicationName(QLatin1String(kProductTitle));
    QCoreApplication::setApplicationVersion(QStringLiteral(CAMWARDEN_VERSION));
    QCoreApplication::setOrganizationName(QLatin1String(kAppName));
    // Help and version need no display: answered before any window system is asked for.
    if (AsksOnlyForText(argc, argv)) {
        const QCoreApplication text(argc, argv);
        QCommandLineParser parser;
        DescribeCommandLine(parser);
        parser.process(text);  // prints and exits
        return 0;
    }
#ifdef Q_OS_UNIX
    UnixSignals::CatchEarly();
    if (qEnvironmentVariableIsEmpty("QT_MESSAGE_PATTERN") && !StderrIsJournal()) {
        qSetMessagePattern(QLatin1String(kTimedLines));
    }
#endif
#ifdef Q_OS_WIN
    if (qEnvironmentVariableIsEmpty("QT_MESSAGE_PATTERN")) {
        qSetMessagePattern(QLatin1String(kTimedLines));
    }
    // No standard error for a window program: the log goes to a file.
    LogFile log(os::StateFolder() + QStringLiteral("/camwarden.log"));
    log.Install();
#endif
    // QApplication takes "-style" out of the arguments, so look first.
    const bool styleAsked = std::any_of(argv + 1, argv + argc, [](const char* arg) {
        return std::string_view(arg).starts_with("-style");
    });
    QApplication app(argc, argv);
    // Hidden in the tray is not closed: only the window's close request ends the run.
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(QuilloryIcon());
    // Lets the desktop match the window with its launcher and icon (Wayland needs it).
    QGuiApplication::setDesktopFileName(QStringLiteral(CAMWARDEN_APP_ID));
    // The classic style draws the framed, captioned layout the program always
    // had, and repaints the once-a-second countdown for a fraction of what
    // Fusion's gradients cost. A style the user asks for still wins.
    if (qEnvironmentVariableIsEmpty("QT_STYLE_OVERRIDE") && !styleAsked) {
        // The application takes the style over.
        QApplication::setStyle(std::make_unique<ClassicStyle>().release());
    }

    // Qt has taken its own options out by now; anything else unknown stops the start.
    QCommandLineParser parser;
    DescribeCommandLine(parser);
    const bool parsed = parser.parse(QCoreApplication::arguments());
    if (!parsed || !parser.positionalArguments().isEmpty()) {
        const QString why = parsed ? QStringLiteral("Unexpected argument '%1'.")
                                         .arg(parser.positionalArguments().constFirst())
                                   : parser.errorText();
        std::fprintf(stderr, "camwarden: %s (see camwarden --help)\n", qPrintable(why));
        return 2;
    }

    // A second start stays invisible, touches nothing, and brings the first forward.
    SingleInstance instance;
    if (!instance.Acquire()) {
        if (!instance.ProfileTaken().isEmpty()) {
            // Another machine's copy cannot be asked to show itself.
            qCWarning(lcApp).noquote() << "not starting:" << instance.ProfileTaken();
            return 0;
        }
        instance.AskRunningToShow(qEnvironmentVariable("XDG_ACTIVATION_TOKEN"));
        qCInfo(lcApp).noquote() << "not starting: another copy of the program holds"
                                << instance.LockPath() << "and was asked to show its window";
        return 0;
    }
    if (!instance.Problem().isEmpty()) {
        qCWarning(lcApp).noquote() << "running anyway:" << instance.Problem();
    }

    Platform platform;
    platform.settings = std::make_unique<QSettingsStore>();
    platform.dialogs = std::make_unique<QtDialogs>();
    platform.capture = MakeGstCaptureSystem(parser.value(CameraOption()));
    if (!platform.capture) platform.capture = std::make_unique<NoCaptureSystem>();
    platform.shell = std::make_unique<QtShellFolders>();
    platform.clock = std::make_unique<SystemClock>();
    platform.tray = std::make_unique<QtTrayShell>();
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    platform.registry = std::make_unique<XdgAutostartRegistry>(
        XdgAutostartRegistry::DefaultAutostartFolder(), QLatin1String(kProductTitle),
        QStringLiteral(CAMWARDEN_APP_ID), QStringLiteral("Records webcam clips on a schedule"));
#endif
#ifdef Q_OS_WIN
    platform.registry = std::make_unique<WinRegistry>();
#endif
    platform.programFolder = QCoreApplication::applicationDirPath();
    platform.dataFolder =
        QDir::cleanPath(platform.programFolder + QStringLiteral("/" CAMWARDEN_DATA_FROM_BIN));
    platform.executablePath = QCoreApplication::applicationFilePath();
    platform.minimiseSeen = !OnWayland();

    const CaretRest caretRest;
    ProgramState state;
    auto form = std::make_unique<Form1>(platform, state);
    QObject::connect(&instance, &SingleInstance::ShowRequested, form.get(),
                     [&form](const QString& activationToken) {
                         // Qt's Wayland support raises a window with the token it finds here.
                         if (!activationToken.isEmpty())
                             qputenv("XDG_ACTIVATION_TOKEN", activationToken.toLatin1());
                         form->ShowAndFocus();
                     });
#ifdef Q_OS_UNIX
    UnixSignals signals;
    QObject::connect(&signals, &UnixSignals::CloseRequested, form.get(), &QWidget::close);
#endif
#ifdef Q_OS_WIN
    // At log-off Windows ends the process once the handler returns: the
    // clip being recorded is finished first.
    SessionEnd sessionEnd([&platform] { platform.capture->Shutdown(); });
    QObject::connect(&sessionEnd, &SessionEnd::CloseRequested, form.get(), &QWidget::close);
#endif
    // The desktop session ending quits the application: the window is
    // unloaded on the way out like a close request would.
    QObject::connect(&app, &QCoreApplication::aboutToQuit, form.get(), &Form1::Form_QueryUnload);

    form->Form_Load();
    form->ShowAfterLoad();
    // Marks the moment the window is up and the program waits for events.
    QTimer::singleShot(0, [] {
        qCInfo(lcApp) << "ready";
#ifdef Q_OS_UNIX
        UnixSignals::StartUpOver();
#endif
    });
    const auto watch = EventLoopWatch::IfWanted();
    // A close request may already have come during start-up (a signal while
    // the tray notice was up); the run is then over.
    const int rc = form->Unloaded() ? 0 : QApplication::exec();
    form.reset();
    // Clips still being finished get a bounded wait. One whose camera or
    // folder no longer answers is left behind: its thread could wake at any
    // moment of an orderly teardown, so the run ends here.
    if (!platform.capture->Shutdown()) {
        instance.Release();
        qCWarning(lcApp) << "ended without the clips that would not finish";
        std::fflush(stderr);
        std::_Exit(rc);
    }
    platform.capture.reset();
    return rc;
}

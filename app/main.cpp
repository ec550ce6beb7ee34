#include "app/CaretRest.h"
#include "app/ClassicStyle.h"
#include "app/EventLoopWatch.h"
#include "app/Form1.h"
#include "app/Logging.h"
#include "app/SingleInstance.h"
#include "app/SystemWiring.h"
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
#include <span>
#include <string_view>

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
    static const QCommandLineOption camera(QStringLiteral("camera"),
                                           camwarden::wiring::CameraOptionDescription(),
                                           QStringLiteral("camera"));
    return camera;
}

// Log lines kept in a file need the time of each; the journal adds its own.
constexpr const char* kTimedLines =
    "%{time yyyy-MM-dd hh:mm:ss.zzz} %{if-category}%{category}: %{endif}%{message}";

void DescribeCommandLine(QCommandLineParser& parser) {
    parser.setApplicationDescription(camwarden::wiring::CommandLineDescription());
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption(CameraOption());
}

bool AnyArgument(int argc, char* argv[], std::span<const std::string_view> wanted) {
    return std::any_of(argv + 1, argv + argc, [wanted](const char* arg) {
        return std::find(wanted.begin(), wanted.end(), std::string_view(arg)) != wanted.end();
    });
}

// "/?" is how Windows programs are asked for help; elsewhere it is no path anyone means.
constexpr std::string_view kHelpArgs[] = {"--help", "-h", "-?", "--help-all", "/?"};
constexpr std::string_view kVersionArgs[] = {"--version", "-v"};

}  // namespace

int main(int argc, char* argv[]) {
    using namespace camwarden;
    QCoreApplication::setApplicationName(QLatin1String(kProductTitle));
    QCoreApplication::setApplicationVersion(QStringLiteral(CAMWARDEN_VERSION));
    QCoreApplication::setOrganizationName(QLatin1String(kAppName));
    // Help and version need no display: answered before any window system is asked for.
    const bool help = AnyArgument(argc, argv, kHelpArgs);
    if (help || AnyArgument(argc, argv, kVersionArgs)) {
        const QCoreApplication text(argc, argv);
        const auto log = wiring::StartLogging(kTimedLines);
        QCommandLineParser parser;
        DescribeCommandLine(parser);
        return wiring::AnswerCommandLine(help ? wiring::Answer::Help : wiring::Answer::Version,
                                         parser);
    }
    const auto log = wiring::StartLogging(kTimedLines);
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
        return wiring::AnswerCommandLine(wiring::Answer::Problem, parser, why);
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
    wiring::UseOwnPlugins();
    platform.capture = MakeGstCaptureSystem(parser.value(CameraOption()));
    if (!platform.capture) platform.capture = std::make_unique<NoCaptureSystem>();
    platform.shell = std::make_unique<QtShellFolders>();
    platform.clock = std::make_unique<SystemClock>();
    platform.tray = std::make_unique<QtTrayShell>();
    platform.registry = wiring::MakeRegistry();
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
    const auto closeRequests =
        wiring::WatchCloseRequests(form.get(), [&platform] { platform.capture->Shutdown(); });
    // The desktop session ending quits the application: the window is
    // unloaded on the way out like a close request would.
    QObject::connect(&app, &QCoreApplication::aboutToQuit, form.get(), &Form1::Form_QueryUnload);

    form->Form_Load();
    form->ShowAfterLoad();
    // Marks the moment the window is up and the program waits for events.
    QTimer::singleShot(0, [] {
        qCInfo(lcApp) << "ready";
        wiring::StartUpOver();
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

#include "app/Form1.h"
#include "app/SystemWiring.h"
#include "platform/posix/Journal.h"
#include "platform/posix/UnixSignals.h"
#include "platform/xdg/XdgAutostartRegistry.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QWidget>
#include <cstdio>

namespace camwarden::wiring {

QString CommandLineDescription() {
    return QStringLiteral(
        "Records short webcam clips on a schedule into a folder.\n\n"
        "Settings: $XDG_CONFIG_HOME/Quillory/Quillory.ini (default ~/.config), sections\n"
        "  [Camwarden] and [CaptureDriver].\n"
        "Start at log-on: $XDG_CONFIG_HOME/autostart/camwarden.desktop.\n"
        "Debug logging: QT_LOGGING_RULES=\"camwarden.*.debug=true\" camwarden");
}

QString CameraOptionDescription() {
    return QStringLiteral(
        "Camera for this run: a device path such as /dev/video2 or a camera's name, \"test\" for "
        "the built-in test camera, or \"test-mjpeg\" for a test camera that delivers MJPEG like "
        "most webcams.");
}

int AnswerCommandLine(Answer answer, const QCommandLineParser& parser, const QString& problem) {
    switch (answer) {
        case Answer::Help:
            std::fputs(qPrintable(parser.helpText()), stdout);
            return 0;
        case Answer::Version:
            std::printf("%s %s\n", qPrintable(QCoreApplication::applicationName()),
                        qPrintable(QCoreApplication::applicationVersion()));
            return 0;
        case Answer::Problem:
            break;
    }
    std::fprintf(stderr, "camwarden: %s (see camwarden --help)\n", qPrintable(problem));
    return 2;
}

std::shared_ptr<void> StartLogging(const char* timedLines) {
    UnixSignals::CatchEarly();
    // The journal times its lines itself.
    if (qEnvironmentVariableIsEmpty("QT_MESSAGE_PATTERN") && !StderrIsJournal())
        qSetMessagePattern(QLatin1String(timedLines));
    return nullptr;
}

void UseOwnPlugins() {}

std::unique_ptr<Registry> MakeRegistry() {
    return std::make_unique<XdgAutostartRegistry>(
        XdgAutostartRegistry::DefaultAutostartFolder(), QLatin1String(kProductTitle),
        QStringLiteral(CAMWARDEN_APP_ID), QStringLiteral("Records webcam clips on a schedule"));
}

std::shared_ptr<void> WatchCloseRequests(QWidget* window,
                                         const std::function<void()>& /*finishClips*/) {
    // A signal ends the run as a close request does; the clip is finished on the way out.
    auto signals = std::make_shared<UnixSignals>();
    QObject::connect(signals.get(), &UnixSignals::CloseRequested, window, &QWidget::close);
    return signals;
}

void StartUpOver() {
    UnixSignals::StartUpOver();
}

}  // namespace camwarden::wiring

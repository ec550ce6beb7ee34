// Puts the program's tray icon up through the production shell and shows the
// minimise notice, so a script can look at both on a real tray host.
#include <QApplication>
#include <QCommandLineParser>
#include <QTextStream>
#include <QTimer>
#include <cstdio>

#include "platform/qt/QtTrayShell.h"
#include "tray/QuilloryIcon.h"
#include "tray/cSysTray.h"

int main(int argc, char** argv) {
    using namespace camwarden;
    QApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption balloonAfter(QStringLiteral("balloon-after"),
                                          QStringLiteral("Show the notice after ms."),
                                          QStringLiteral("ms"), QStringLiteral("1000"));
    const QCommandLineOption quitAfter(QStringLiteral("quit-after"),
                                       QStringLiteral("Take the icon out and quit after ms."),
                                       QStringLiteral("ms"), QStringLiteral("15000"));
    parser.addOptions({balloonAfter, quitAfter});
    parser.process(app);

    QTextStream out(stdout);
    QtTrayShell shell;
    auto tray = std::make_unique<cSysTray>(shell);
    out << "tray available: " << (shell.IsSystemTrayAvailable() ? "yes" : "no") << Qt::endl;

    QObject::connect(tray.get(), &cSysTray::MouseDown,
                     [&](int b, int id) { out << "MouseDown " << b << ' ' << id << Qt::endl; });
    QObject::connect(tray.get(), &cSysTray::MouseUp,
                     [&](int b, int id) { out << "MouseUp " << b << ' ' << id << Qt::endl; });
    QObject::connect(tray.get(), &cSysTray::MouseDblClick,
                     [&](int b, int id) { out << "MouseDblClick " << b << ' ' << id << Qt::endl; });

    tray->LoadConfiguration({true, Picture::FromIcon(QuilloryIcon()), QString()});
    out << "icon added: " << (shell.Icon() && shell.Icon()->isVisible() ? "yes" : "no") << Qt::endl;

    QTimer::singleShot(parser.value(balloonAfter).toInt(), [&] {
        out << "balloon up" << Qt::endl;
        tray->ShowBalloon(QStringLiteral("has been minimized to the system tray.\r\n"
                                         "Click on the blue 'Q' icon (Q for Quillory) to bring "
                                         "the software back."),
                          QStringLiteral("Camwarden"), 5, true);
        out << "balloon wait over, showing: " << (tray->BalloonShowing() ? "yes" : "no")
            << Qt::endl;
    });
    QTimer::singleShot(parser.value(quitAfter).toInt(), [&] {
        tray->SetInTray(false);
        out << "icon removed" << Qt::endl;
        QApplication::quit();
    });
    return QApplication::exec();
}

// The least a window can cost while it waits: a bare Qt window, in the same
// style and size as the program's, that updates a countdown text and a bar
// once a second. idle_bench.sh runs it beside the waiting program.
#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QTime>
#include <QTimer>
#include <QWidget>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setStyle(QStringLiteral("Windows"));
    QWidget window;
    window.setFixedSize(536, 504);
    QLabel status(&window);
    status.setGeometry(8, 8, 520, 20);
    QProgressBar bar(&window);
    bar.setGeometry(16, 30, 488, 27);
    bar.setTextVisible(false);
    bar.setRange(0, 86400);
    window.show();

    int elapsed = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        ++elapsed;
        status.setText(QStringLiteral("Next clip in: ") +
                       QTime(0, 0).addSecs(86400 - elapsed).toString(QStringLiteral("hh:mm:ss")));
        bar.setValue(elapsed);
    });
    tick.start(1000);
    return QApplication::exec();
}

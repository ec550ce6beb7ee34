#include <QApplication>
#include <QLabel>
#include <QTimer>

// Leaks 4000 bytes from a timer's lambda and 4000 from a slot, after Qt has
// made its own one-time allocations (platform, fonts, style). Run under
// LeakSanitizer with the tests' suppressions, exactly these two are reported:
// the suppressions hide Qt's start-up and nothing that runs in a slot.
namespace {

void Leak() {
    char* volatile bytes = new char[4000];
    bytes[0] = 1;
}

class Receiver : public QObject {
public:
    void OnTimeout() { Leak(); }
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QLabel label(QStringLiteral("Leak check"));
    label.show();
    Receiver receiver;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &receiver, &Receiver::OnTimeout);
    timer.start(0);
    QTimer::singleShot(0, [] { Leak(); });
    QTimer::singleShot(100, &app, &QCoreApplication::quit);
    return QApplication::exec();
}

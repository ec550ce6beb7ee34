#pragma once

#include <QObject>
#include <memory>

class QSocketNotifier;

namespace camwarden {

// Turns SIGTERM, SIGINT and SIGHUP into a Qt signal on the UI thread, so
// that logout, a service stop or Ctrl+C close the window like its close box
// does and the clip being recorded is finished, not cut.
class UnixSignals : public QObject {
    Q_OBJECT
public:
    // Catches the signals from now on; those that come before an object
    // exists wait for it. Call first thing, so a signal during start-up
    // closes the program instead of killing it.
    static void CatchEarly();
    // Until this is called a second signal ends the program at once: a
    // start-up that hangs (a camera or provider that does not answer) must
    // not keep Ctrl+C waiting for good.
    static void StartUpOver();

    UnixSignals();
    ~UnixSignals() override;
    UnixSignals(const UnixSignals&) = delete;
    UnixSignals& operator=(const UnixSignals&) = delete;

Q_SIGNALS:
    // Once for every batch of signals waiting: a second Ctrl+C while the
    // first is handled asks for nothing new.
    void CloseRequested();

private:
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace camwarden

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
    UnixSignals();
    ~UnixSignals() override;

Q_SIGNALS:
    void CloseRequested();

private:
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace camwarden

#pragma once

#include <QObject>
#include <functional>

namespace camwarden {

// Windows has no signals to end a program by: log-off, shutdown and restart
// (WM_QUERYENDSESSION / WM_ENDSESSION), a close request from another
// program (WM_CLOSE, as taskkill sends without /f) and console control
// events (Ctrl+C, a console's close button) arrive here instead, on a
// hidden top-level window of its own, so they come even while the program's
// window has never been shown. Each becomes CloseRequested, on the UI
// thread, as a click on the close box would. When the system ends the
// process the moment the handler returns (session end, console closed),
// `finish` runs right after, while it still waits: it must leave the clip
// being recorded complete on disk, within a few seconds.
class SessionEnd final : public QObject {
    Q_OBJECT
public:
    explicit SessionEnd(std::function<void()> finish, QObject* parent = nullptr);
    ~SessionEnd() override;
    SessionEnd(const SessionEnd&) = delete;
    SessionEnd& operator=(const SessionEnd&) = delete;

    // The hidden window, for tests that send it what Windows would.
    void* WindowHandle() const { return window_; }

Q_SIGNALS:
    void CloseRequested();

private:
    friend class SessionEndWindow;  // the hidden window's procedure
    // Asks for the close; with `ending`, the process will not outlive the
    // handler, so the clips are finished before it returns.
    void End(bool ending);

    std::function<void()> finish_;
    void* window_ = nullptr;         // HWND
    void* finishedEvent_ = nullptr;  // set once `finish` has run, for the console's thread
    bool finished_ = false;
};

}  // namespace camwarden

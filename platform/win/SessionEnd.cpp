#include "platform/win/SessionEnd.h"

#include <windows.h>

#include <atomic>

namespace camwarden {
namespace {

// From the console's handler thread: wParam 1 when the process ends as soon
// as the handler returns.
constexpr UINT kConsoleEvent = WM_APP + 1;
constexpr wchar_t kClass[] = L"CamwardenSessionEnd";
// Windows ends a process five seconds after its console was closed.
constexpr DWORD kConsoleBoundMs = 4500;

// The console's handler runs on a thread of its own and can reach only
// these; set while a SessionEnd exists.
// NOLINTBEGIN(cppcoreguidelines-avoid-non-const-global-variables)
std::atomic<HWND> g_window{nullptr};
std::atomic<HANDLE> g_finished{nullptr};
// NOLINTEND(cppcoreguidelines-avoid-non-const-global-variables)

BOOL WINAPI OnConsoleEvent(DWORD event) {
    HWND window = g_window.load();
    if (!window) return FALSE;
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            PostMessageW(window, kConsoleEvent, 0, 0);
            return TRUE;
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            PostMessageW(window, kConsoleEvent, 1, 0);
            WaitForSingleObject(g_finished.load(), kConsoleBoundMs);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

class SessionEndWindow {
public:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        // The window's user data is where Win32 keeps its owner, as an integer.
        auto* self = reinterpret_cast<SessionEnd*>(  // NOLINT(performance-no-int-to-ptr)
            GetWindowLongPtrW(window, GWLP_USERDATA));
        if (!self) return DefWindowProcW(window, message, wParam, lParam);
        switch (message) {
            case WM_QUERYENDSESSION:
                return TRUE;  // nothing to ask the user: every choice is already stored
            case WM_ENDSESSION:
                if (wParam) self->End(true);
                return 0;
            case WM_CLOSE:
                self->End(false);
                return 0;  // the window stays until the object goes
            case kConsoleEvent:
                self->End(wParam != 0);
                return 0;
            default:
                return DefWindowProcW(window, message, wParam, lParam);
        }
    }
};

SessionEnd::SessionEnd(std::function<void()> finish, QObject* parent)
    : QObject(parent), finish_(std::move(finish)) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW wc = {};
    wc.lpfnWndProc = SessionEndWindow::Proc;
    wc.hInstance = instance;
    wc.lpszClassName = kClass;
    RegisterClassW(&wc);  // fails harmlessly when an earlier object registered it
    // Top-level and never shown: a message-only window is not told that
    // the session ends, nor found by taskkill.
    HWND window = CreateWindowExW(0, kClass, L"Camwarden", WS_OVERLAPPED, 0, 0, 0, 0, nullptr,
                                  nullptr, instance, nullptr);
    if (!window) return;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    window_ = window;
    finishedEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_finished = static_cast<HANDLE>(finishedEvent_);
    g_window = window;
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

SessionEnd::~SessionEnd() {
    if (!window_) return;
    SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
    g_window = nullptr;
    SetEvent(static_cast<HANDLE>(finishedEvent_));  // a handler still waiting goes on
    SetWindowLongPtrW(static_cast<HWND>(window_), GWLP_USERDATA, 0);
    DestroyWindow(static_cast<HWND>(window_));
}

void SessionEnd::End(bool ending) {
    Q_EMIT CloseRequested();
    if (!ending) return;
    if (!finished_ && finish_) {
        finished_ = true;
        finish_();
    }
    SetEvent(static_cast<HANDLE>(finishedEvent_));
}

}  // namespace camwarden

#include "platform/posix/UnixSignals.h"

#include <sys/socket.h>
#include <unistd.h>
#include <QSocketNotifier>
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <string_view>

namespace camwarden {
namespace {

constexpr std::array kCaught{SIGTERM, SIGINT, SIGHUP};

// A signal handler can reach nothing but a plain descriptor; it is set once
// before the handlers are installed and never changes afterwards.
std::array<int, 2> g_pipe{-1, -1};  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)
// Signals seen while starting, and whether start-up is over; lock-free, so
// the handler may touch them.
std::atomic<int> g_early{0};           // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)
std::atomic<bool> g_startedUp{false};  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);

extern "C" void OnSignal(int sig) {
    if (!g_startedUp.load() && g_early.fetch_add(1) > 0) {
        // Nothing is recorded before start-up is over, so nothing is lost.
        constexpr std::string_view kWhy =
            "camwarden: a second signal while still starting up; ending at once\n";
        [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, kWhy.data(), kWhy.size());
        ::_exit(128 + sig);
    }
    // The interrupted code may be just about to read errno.
    const int saved = errno;
    const char byte = static_cast<char>(sig);
    // Non-blocking: when the pipe is full a close request is already waiting,
    // and a handler that blocked would hang the program.
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[0], &byte, 1);
    errno = saved;
}

bool Install() {
    if (g_pipe[0] < 0 &&
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_pipe.data()) != 0)
        return false;
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : kCaught) ::sigaction(sig, &action, nullptr);
    return true;
}

}  // namespace

void UnixSignals::CatchEarly() {
    Install();
}

void UnixSignals::StartUpOver() {
    g_startedUp = true;
}

UnixSignals::UnixSignals() {
    if (!Install()) return;
    notifier_ = std::make_unique<QSocketNotifier>(g_pipe[1], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] {
        std::array<char, 64> bytes{};
        while (::read(g_pipe[1], bytes.data(), bytes.size()) > 0) {
        }
        Q_EMIT CloseRequested();
    });
}

UnixSignals::~UnixSignals() {
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    for (int sig : kCaught) ::sigaction(sig, &action, nullptr);
}

}  // namespace camwarden

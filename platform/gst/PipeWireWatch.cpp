#include "platform/gst/PipeWireWatch.h"

#include <pipewire/pipewire.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QByteArray>
#include <QString>
#include <algorithm>
#include <cerrno>
#include <cstdint>

namespace camwarden::capgst {

namespace {

// After a drop the daemon is asked again quickly at first, then at most
// this far apart, for as long as it stays away.
constexpr int64_t kFirstRetryMs = 250;
constexpr int64_t kLongestRetryMs = 30000;

}  // namespace

struct PipeWireWatch::Impl {
    Handler handler;
    pw_thread_loop* loop = nullptr;
    pw_context* context = nullptr;
    pw_core* core = nullptr;
    spa_hook listener{};
    spa_source* retry = nullptr;
    int syncSeq = 0;
    bool lost = false;  // reported dropped, and not back yet
    int64_t nextRetryMs = kFirstRetryMs;

    ~Impl() {
        if (loop) pw_thread_loop_stop(loop);
        if (core) pw_core_disconnect(core);
        if (retry) pw_loop_destroy_source(pw_thread_loop_get_loop(loop), retry);
        if (context) pw_context_destroy(context);
        if (loop) pw_thread_loop_destroy(loop);
    }

    // These run with the loop locked: on its thread, or under its lock.
    bool Connect() {
        core = pw_context_connect(context, nullptr, 0);
        if (!core) return false;
        static const pw_core_events events = [] {
            pw_core_events e{};
            e.version = PW_VERSION_CORE_EVENTS;
            e.done = &Impl::OnDone;
            e.error = &Impl::OnError;
            return e;
        }();
        listener = {};
        pw_core_add_listener(core, &listener, &events, this);
        // The daemon is there once it answers.
        syncSeq = pw_core_sync(core, PW_ID_CORE, 0);
        return true;
    }

    void RetryLater() {
        timespec after{static_cast<time_t>(nextRetryMs / 1000),
                       static_cast<long>(nextRetryMs % 1000 * 1000000)};
        pw_loop_update_timer(pw_thread_loop_get_loop(loop), retry, &after, nullptr, false);
        nextRetryMs = std::min(nextRetryMs * 2, kLongestRetryMs);
    }

    static void OnDone(void* data, uint32_t id, int seq) {
        auto* self = static_cast<Impl*>(data);
        if (id != PW_ID_CORE || seq != self->syncSeq) return;
        self->nextRetryMs = kFirstRetryMs;
        if (!self->lost) return;
        self->lost = false;
        self->handler(true);
    }

    static void OnError(void* data, uint32_t id, int /*seq*/, int res, const char* /*message*/) {
        auto* self = static_cast<Impl*>(data);
        // Only the connection itself failing counts: the daemon is gone.
        if (id != PW_ID_CORE || (res != -EPIPE && res != -ECONNRESET)) return;
        if (!self->lost) {
            self->lost = true;
            self->handler(false);
        }
        self->RetryLater();
    }

    static void OnRetry(void* data, uint64_t /*expirations*/) {
        auto* self = static_cast<Impl*>(data);
        if (self->core) {
            spa_hook_remove(&self->listener);
            pw_core_disconnect(self->core);
            self->core = nullptr;
        }
        if (!self->Connect()) self->RetryLater();
    }
};

std::unique_ptr<PipeWireWatch> PipeWireWatch::Start(Handler handler) {
    pw_init(nullptr, nullptr);
    auto impl = std::make_unique<Impl>();
    impl->handler = std::move(handler);
    impl->loop = pw_thread_loop_new("camwarden-pipewire-watch", nullptr);
    if (!impl->loop) return nullptr;
    impl->context = pw_context_new(pw_thread_loop_get_loop(impl->loop), nullptr, 0);
    if (!impl->context) return nullptr;
    impl->retry =
        pw_loop_add_timer(pw_thread_loop_get_loop(impl->loop), &Impl::OnRetry, impl.get());
    if (!impl->retry || !impl->Connect()) return nullptr;
    if (pw_thread_loop_start(impl->loop) < 0) return nullptr;
    return std::unique_ptr<PipeWireWatch>(new PipeWireWatch(std::move(impl)));
}

int PipeWireWatch::NewConnection() {
    const QString name = qEnvironmentVariable("PIPEWIRE_REMOTE", QStringLiteral("pipewire-0"));
    QString dir = qEnvironmentVariable("PIPEWIRE_RUNTIME_DIR");
    if (dir.isEmpty()) dir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const QByteArray path = (name.startsWith(u'/') ? name : dir + u'/' + name).toLocal8Bit();
    sockaddr_un address{};
    if (path.size() >= static_cast<qsizetype>(sizeof(address.sun_path))) return -1;
    address.sun_family = AF_UNIX;
    std::copy(path.begin(), path.end(), address.sun_path);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

void PipeWireWatch::CloseConnection(int fd) {
    if (fd >= 0) close(fd);
}

PipeWireWatch::PipeWireWatch(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

PipeWireWatch::~PipeWireWatch() = default;

}  // namespace camwarden::capgst

#include "platform/gst/AgeKeeper.h"

#include <algorithm>
#include <utility>

#include "platform/gst/CaptureLog.h"

namespace camwarden::capgst {

namespace {
// The thread waits by a clock that stops while the machine sleeps: it looks
// at the clock at least this often, so clips that came due during a sleep
// go within this of the machine waking.
constexpr std::chrono::milliseconds kLookBound{std::chrono::hours(1)};
}  // namespace

AgeKeeper::~AgeKeeper() {
    if (thread_.joinable()) thread_.detach();
}

void AgeKeeper::Set(const QString& folder, int days, Look look, std::shared_ptr<void> keepAlive) {
    std::lock_guard lock(m_);
    if (stop_ || (folder == told_.folder && days == told_.days)) return;
    told_.folder = folder;
    told_.days = days;
    ++events_;
    if (days > 0 && !thread_.joinable())
        thread_ = std::thread(
            [this, look = std::move(look), keepAlive = std::move(keepAlive)] { Run(look); });
    wake_.notify_all();
}

bool AgeKeeper::On() const {
    std::lock_guard lock(m_);
    return told_.days > 0;
}

void AgeKeeper::Noted(const store::Moment& started) {
    std::lock_guard lock(m_);
    if (told_.days <= 0) return;
    if (!told_.noted || started.sinceBootMs < told_.noted->sinceBootMs) told_.noted = started;
    ++events_;
    wake_.notify_all();
}

AgeKeeper::Told AgeKeeper::TakeLocked() {
    Told taken = told_;
    told_.noted.reset();
    return taken;
}

AgeKeeper::Told AgeKeeper::Take() {
    std::lock_guard lock(m_);
    return TakeLocked();
}

void AgeKeeper::Nudge() {
    std::lock_guard lock(m_);
    ++events_;
    wake_.notify_all();
}

void AgeKeeper::Run(const Look& look) {
    std::unique_lock lock(m_);
    while (!stop_) {
        const uint64_t seen = events_;
        const Told told = TakeLocked();
        lock.unlock();
        const auto wait = look(told);
        lock.lock();
        const auto changed = [&] { return stop_ || events_ != seen; };
        if (told_.days > 0) {
            wake_.wait_for(lock, std::min(wait.value_or(kLookBound), kLookBound), changed);
        } else {
            wake_.wait(lock, changed);
        }
    }
    done_ = true;
    wake_.notify_all();
}

void AgeKeeper::End(std::chrono::milliseconds bound) {
    std::unique_lock lock(m_);
    stop_ = true;
    wake_.notify_all();
    if (!thread_.joinable()) return;
    if (wake_.wait_for(lock, bound, [&] { return done_; })) {
        lock.unlock();
        thread_.join();
    } else {
        qCWarning(lcCapture) << "The folder kept within an age limit does not answer; leaving "
                                "it as it is";
        thread_.detach();
    }
}

}  // namespace camwarden::capgst

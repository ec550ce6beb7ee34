#pragma once

#include <QString>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "storage/RecordedClips.h"

namespace camwarden::capgst {

// The age limit's thread. Told the limit from the window's thread and each
// clip made from the clips' threads, it looks at the folder, then sleeps
// until the next clip comes due or it is told of a change. Its lock is held
// alone, never while a folder is read.
class AgeKeeper {
public:
    struct Told {
        QString folder;
        int days = 0;
        std::optional<store::Moment> noted;  // the earliest clip made since the last look
    };
    // Looks at the folder as told; how long until it should look again.
    using Look = std::function<std::optional<std::chrono::milliseconds>(const Told&)>;

    AgeKeeper() = default;
    ~AgeKeeper();
    AgeKeeper(const AgeKeeper&) = delete;
    AgeKeeper& operator=(const AgeKeeper&) = delete;

    // The first limit starts the thread, which runs `look`; `keepAlive`
    // holds what `look` reaches for as long as the thread runs.
    void Set(const QString& folder, int days, Look look, std::shared_ptr<void> keepAlive);
    bool On() const;
    void Noted(const store::Moment& started);
    // What it was told since it last looked, for a look of the caller's own.
    Told Take();
    // Has the thread look again: what the caller found may bring its next look forward.
    void Nudge();
    // Stops the thread; one held up by a folder that does not answer is
    // left to itself after `bound`.
    void End(std::chrono::milliseconds bound);

private:
    void Run(const Look& look);
    Told TakeLocked();

    mutable std::mutex m_;
    std::condition_variable wake_;
    Told told_;
    uint64_t events_ = 0;  // bumped by everything the thread should look at
    bool stop_ = false;
    bool done_ = false;
    std::thread thread_;
};

}  // namespace camwarden::capgst

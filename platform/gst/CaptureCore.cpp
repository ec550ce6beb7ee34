#include "platform/gst/CaptureCore.h"

#include "platform/gst/CameraFeed.h"

#include <QSet>
#include <QStorageInfo>
#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <list>
#include <thread>
#include <utility>

#include "platform/gst/CaptureLog.h"
#include "storage/AgeLimit.h"
#include "storage/ClipFolder.h"
#include "storage/ClipJournal.h"
#include "storage/FsPath.h"
#include "storage/RecordedClips.h"

namespace camwarden::capgst {

using store::AgeLimit;
using store::ClipFolder;
using store::ClipJournal;
using store::ClockNote;
using store::FolderPart;
using store::Moment;
using store::RecordedClip;
using store::RecordedClips;

Q_LOGGING_CATEGORY(lcCapture, "camwarden.gst")

namespace {

// How long a process ending through exit() waits for its clips.
constexpr std::chrono::milliseconds kExitBound{3000};
// The age limit's thread waits by a clock that stops while the machine
// sleeps: it looks at the clock at least this often, so clips that came due
// during a sleep go within this of the machine waking.
constexpr std::chrono::milliseconds kAgeLookBound{std::chrono::hours(1)};
// How long quitting waits for the age limit's thread to let go of a folder.
constexpr std::chrono::milliseconds kAgeQuitBound{500};

// A library may end the process with exit() (Qt does when the display
// connection breaks), which runs no destructor of ours. The cores alive
// then are found here, so their clips still get their index. It is the one
// process-wide list: exit() hands its handlers no context to find them by.
struct LiveCores {
    std::mutex m;
    std::vector<CaptureCore*> cores;
};

LiveCores& Live() {
    static LiveCores live;
    return live;
}

void FinishClipsAtExit() {
    std::vector<CaptureCore*> cores;
    {
        std::lock_guard lock(Live().m);
        cores = Live().cores;
    }
    if (!cores.empty()) qCWarning(lcCapture) << "The process is ending; finishing its clips";
    for (CaptureCore* core : cores) core->Shutdown(kExitBound);
}

void Register(CaptureCore* core) {
    static std::once_flag once;
    // Made before the handler is registered, so it is still there when the handler runs.
    std::call_once(once, [] {
        Live();
        std::atexit(FinishClipsAtExit);
    });
    std::lock_guard lock(Live().m);
    Live().cores.push_back(core);
}

void Unregister(CaptureCore* core) {
    std::lock_guard lock(Live().m);
    std::erase(Live().cores, core);
}

}  // namespace

// The clips under way and what their threads report to. A clip's thread
// holds this too: one abandoned at quitting may come back long after the
// core is gone, and then finds the handlers cleared.
class CaptureCore::Clips final : public ClipHost {
public:
    struct Entry {
        std::shared_ptr<Clip> clip;
        std::thread thread;
        bool released = false;
    };

    Clips(const QString& journalFile, const QString& recordFile)
        : journal_(journalFile),
          recorded_(recordFile),
          folder_(
              [](const QString& path) -> std::optional<int64_t> {
                  const QStorageInfo storage(path);
                  if (!storage.isValid() || !storage.isReady()) return std::nullopt;
                  return storage.bytesAvailable();
              },
              &recorded_),
          clockNote_(ClockNote::BesideRecord(recordFile)),
          ages_(folder_, &recorded_, &Moment::Now, &clockNote_) {}

    // The age limit, told from the window's thread. It is kept by a thread of
    // its own, made with the first limit, that sleeps until a clip comes due.
    void SetAgeLimit(const QString& folder, int days, const std::shared_ptr<Clips>& self) {
        std::lock_guard lock(ageM_);
        if (ageStop_ || (folder == ageFolder_ && days == ageDays_)) return;
        ageFolder_ = folder;
        ageDays_ = days;
        ++ageEvents_;
        if (days > 0 && !keeper_.joinable()) keeper_ = std::thread([self] { self->KeepAges(); });
        ageWake_.notify_all();
    }

    // Forgets, on a thread of its own, the recorded clips whose files are
    // gone since the last run. Under m_.
    void TidyRecord(const std::shared_ptr<Clips>& self) {
        RunChore(self, [self] {
            {
                // With the record read: a jump of the clock since an earlier
                // run of this boot is held, whatever that run recorded.
                std::lock_guard lock(self->folderM_);
                self->ages_.WatchClockNow();
            }
            self->recorded_.ForgetVanished();
        });
    }

    // Repairs, on a thread of its own, the clips an earlier run left
    // unfinished; those that cannot be yet (their folder not there) stay
    // listed, and are tried again as each clip starts. Under m_.
    void RepairLeftovers(const std::shared_ptr<Clips>& self) {
        if (repairing_ || !journal_.HasLeftovers()) return;
        repairing_ = true;
        RunChore(self, [self] {
            for (const QString& file : self->journal_.Leftovers()) {
                if (RepairLeftover(file, !self->toldLater_.contains(file))) {
                    self->journal_.Ended(file);
                } else {
                    self->toldLater_.insert(file);
                }
            }
            std::lock_guard lock(self->m_);
            self->repairing_ = false;
        });
    }

    // Lists a folder whose clips are kept within a limit now, so that the
    // next clip does not wait for a large folder to be read.
    void ListAhead(const QString& folder, const std::shared_ptr<Clips>& self) {
        std::lock_guard lock(m_);
        if (listingAhead_) return;
        listingAhead_ = true;
        RunChore(self, [self, folder] {
            {
                std::lock_guard listing(self->folderM_);
                self->folder_.Prepare(folder);
            }
            std::lock_guard done(self->m_);
            self->listingAhead_ = false;
        });
    }

    std::shared_ptr<Clip> Start(ClipPlan plan, const std::shared_ptr<Clips>& self) {
        std::lock_guard lock(m_);
        Reap();
        RepairLeftovers(self);
        auto clip = std::make_shared<Clip>(std::move(plan), ++latest_);
        // The thread keeps the clip and this alive for as long as it runs.
        entries_.push_back(Entry{clip, std::thread([clip, self] { clip->Run(*self); })});
        return clip;
    }

    uint64_t Latest() const {
        std::lock_guard lock(m_);
        return latest_;
    }

    bool WaitUntilIdle(std::chrono::milliseconds bound) {
        std::unique_lock lock(m_);
        const bool idle = done_.wait_for(lock, bound, [&] {
            return std::all_of(chores_.begin(), chores_.end(),
                               [](const Chore& c) { return c.done; }) &&
                   std::all_of(entries_.begin(), entries_.end(),
                               [](const Entry& e) { return e.released; });
        });
        Reap();
        return idle;
    }

    // Asks every clip to finish; those still holding on after `bound` are
    // left to their threads, and nothing is heard from them again.
    bool Close(std::chrono::milliseconds bound) {
        EndKeeper(std::min(bound, kAgeQuitBound));
        std::vector<std::shared_ptr<Clip>> all;
        {
            std::lock_guard lock(m_);
            for (const Entry& e : entries_) all.push_back(e.clip);
        }
        for (const auto& c : all) c->RequestFinish();
        const auto start = std::chrono::steady_clock::now();
        const bool idle = WaitUntilIdle(bound);
        // Before the camera monitor stops, which would pull the device away.
        if (idle)
            feeds_.Close(std::max(std::chrono::milliseconds(0),
                                  bound - std::chrono::duration_cast<std::chrono::milliseconds>(
                                              std::chrono::steady_clock::now() - start)));
        std::lock_guard lock(m_);
        for (Entry& e : entries_) {
            qCWarning(lcCapture).noquote()
                << "Clip" << e.clip->File()
                << "does not let go of its camera or folder; leaving it as it is";
            e.thread.detach();
        }
        entries_.clear();
        // What is still being repaired stays listed for the next run. The
        // entries stay: their threads still mark them done.
        for (Chore& c : chores_)
            if (c.thread.joinable()) c.thread.detach();
        std::lock_guard calls(handlerM_);
        onFinished_ = nullptr;
        onFailed_ = nullptr;
        return idle;
    }

    void CameraGone(const Camera& camera) {
        {
            std::lock_guard lock(m_);
            for (const Entry& e : entries_) {
                if (!e.released && e.clip->camera() == camera)
                    e.clip->Fail(QStringLiteral("the camera is gone"));
            }
        }
        feeds_.Gone(camera);
    }

    void SetFinished(FinishedHandler h) {
        std::lock_guard lock(handlerM_);
        onFinished_ = std::move(h);
    }
    void SetFailed(FailedHandler h) {
        std::lock_guard lock(handlerM_);
        onFailed_ = std::move(h);
    }

    std::optional<DiskUse> LastDiskUse() override {
        std::lock_guard lock(m_);
        return lastDiskUse_;
    }

    void ExpireOld() override {
        {
            std::lock_guard lock(ageM_);
            if (ageDays_ <= 0) return;
        }
        LookAtAges();
        // What it found may bring the keeper's next look forward.
        std::lock_guard lock(ageM_);
        ++ageEvents_;
        ageWake_.notify_all();
    }

    bool MakeRoom(const ClipPlan& plan, int64_t need, QString* why) override {
        const QStringList inUse = InUse();
        // The folder as written, for the system to resolve as it does making the file.
        const QString folder = FolderPart(plan.file);
        std::lock_guard lock(folderM_);
        return folder_.MakeRoom(folder, plan.folderLimitBytes, need, inUse, why);
    }

    void Began(const QString& file) override {
        journal_.Began(file);
        const RecordedClip clip = recorded_.Add(ClipFolder::Resolved(file));
        // Handed to the age limit when it next looks: the folder may be busy now.
        std::lock_guard lock(ageM_);
        if (ageDays_ <= 0) return;
        if (!ageNoted_ || clip.started.sinceBootMs < ageNoted_->sinceBootMs)
            ageNoted_ = clip.started;
        ++ageEvents_;
        ageWake_.notify_all();
    }
    void Settled(const QString& file) override {
        journal_.Ended(file);
        std::lock_guard lock(folderM_);
        folder_.Settled(file);
    }

    bool WaitForCamera(const Clip& clip, std::chrono::milliseconds bound) override {
        std::unique_lock lock(m_);
        return done_.wait_for(lock, bound, [&] {
            return std::none_of(entries_.begin(), entries_.end(), [&](const Entry& e) {
                return !e.released && e.clip->id() < clip.id() && e.clip->camera() == clip.camera();
            });
        });
    }

    void Failed(const Clip& clip, const QString& why) override {
        std::lock_guard lock(handlerM_);
        if (onFailed_) onFailed_(clip.id(), clip.File(), why);
    }

    void Finished(const ClipReport& report) override {
        {
            std::lock_guard lock(m_);
            if (report.bytes > 0 && report.seconds > 0)
                lastDiskUse_ =
                    DiskUse{static_cast<double>(report.bytes) / report.seconds, report.seconds};
        }
        std::lock_guard lock(handlerM_);
        if (onFinished_) onFinished_(report);
    }

    void Released(const Clip& clip) override {
        {
            std::lock_guard lock(m_);
            for (Entry& e : entries_) {
                if (e.clip.get() == &clip) e.released = true;
            }
        }
        done_.notify_all();
    }

    CameraFeeds& Feeds() override { return feeds_; }
    void CloseFeeds(const QString& why) { feeds_.CloseAllNow(why); }
    void ReleaseFeeds() { feeds_.Release(); }
    std::mutex& Lock() { return m_; }

private:
    QStringList InUse() const {
        std::lock_guard lock(m_);
        QStringList files;
        for (const Entry& e : entries_)
            if (!e.released) files << e.clip->File();
        return files;
    }

    // Hands the age limit what it was told, and has it look. It may read
    // the folder: never on the window's thread.
    std::optional<std::chrono::milliseconds> LookAtAges() {
        QString folder;
        int days = 0;
        std::optional<Moment> noted;
        {
            std::lock_guard lock(ageM_);
            folder = ageFolder_;
            days = ageDays_;
            noted = std::exchange(ageNoted_, std::nullopt);
        }
        const QStringList inUse = days > 0 ? InUse() : QStringList();
        std::lock_guard lock(folderM_);
        ages_.Set(folder, days);
        if (noted) ages_.Noted(*noted);
        return ages_.Look(inUse);
    }

    // The age limit's thread: looks, then sleeps until the next clip comes
    // due or it is told of a change. With no limit it only waits to be told.
    void KeepAges() {
        std::unique_lock lock(ageM_);
        while (!ageStop_) {
            const uint64_t seen = ageEvents_;
            lock.unlock();
            const auto wait = LookAtAges();
            lock.lock();
            const auto told = [&] { return ageStop_ || ageEvents_ != seen; };
            if (ageDays_ > 0) {
                ageWake_.wait_for(lock, std::min(wait.value_or(kAgeLookBound), kAgeLookBound),
                                  told);
            } else {
                ageWake_.wait(lock, told);
            }
        }
        keeperDone_ = true;
        ageWake_.notify_all();
    }

    // Stops the age limit's thread; one held up by a folder that does not
    // answer is left to itself after `bound`.
    void EndKeeper(std::chrono::milliseconds bound) {
        std::unique_lock lock(ageM_);
        ageStop_ = true;
        ageWake_.notify_all();
        if (!keeper_.joinable()) return;
        if (ageWake_.wait_for(lock, bound, [&] { return keeperDone_; })) {
            lock.unlock();
            keeper_.join();
        } else {
            qCWarning(lcCapture) << "The folder kept within an age limit does not answer; leaving "
                                    "it as it is";
            keeper_.detach();
        }
    }

    // Joins the threads of released clips: each has no more to do than return.
    void Reap() {
        std::erase_if(chores_, [](Chore& c) {
            if (!c.done) return false;
            if (c.thread.joinable()) c.thread.join();
            return true;
        });
        std::erase_if(entries_, [](Entry& e) {
            if (!e.released) return false;
            if (e.thread.joinable()) e.thread.join();
            return true;
        });
    }

    mutable std::mutex m_;
    std::condition_variable done_;
    std::vector<Entry> entries_;
    uint64_t latest_ = 0;
    // Held while a handler runs, so that once they are cleared none is still
    // running into whoever set them.
    std::mutex handlerM_;
    FinishedHandler onFinished_;
    FailedHandler onFailed_;
    std::optional<DiskUse> lastDiskUse_;
    ClipJournal journal_;
    RecordedClips recorded_;
    CameraFeeds feeds_;
    std::mutex folderM_;   // held while the folder is listed or cleared out
    ClipFolder folder_;    // deletes by recorded_'s order
    ClockNote clockNote_;  // under folderM_
    AgeLimit ages_;        // under folderM_
    // What the keeper of the age limit is told; never held while a folder is read.
    std::mutex ageM_;
    std::condition_variable ageWake_;
    QString ageFolder_;
    int ageDays_ = 0;
    std::optional<Moment> ageNoted_;  // the earliest clip made since the limit last looked
    uint64_t ageEvents_ = 0;          // bumped by everything the keeper should look at
    bool ageStop_ = false;
    bool keeperDone_ = false;
    std::thread keeper_;
    // Work beside the clips; each counts as busy until done.
    struct Chore {
        std::thread thread;
        bool done = false;
    };
    std::list<Chore> chores_;  // stable, for the threads to find their own
    bool listingAhead_ = false;
    bool repairing_ = false;
    QSet<QString> toldLater_;  // leftovers told to stay listed; by the one repairing chore

    // Under m_.
    void RunChore(const std::shared_ptr<Clips>& self, std::function<void()> work) {
        Chore& chore = chores_.emplace_back();
        chore.thread = std::thread([self, &chore, work = std::move(work)] {
            work();
            {
                std::lock_guard lock(self->m_);
                chore.done = true;
            }
            self->done_.notify_all();
        });
    }
};

CaptureCore::CaptureCore(QString runCamera, SettingsLocation settings, const QString& journalFile,
                         const QString& recordFile)
    : settings_(std::move(settings)),
      clips_(std::make_shared<Clips>(journalFile, recordFile)),
      monitor_([clips = clips_](const Camera& gone) { clips->CameraGone(gone); },
               [clips = clips_] { clips->CloseFeeds(QStringLiteral("PipeWire went away")); }),
      runCamera_(std::move(runCamera)) {
    Register(this);
    {
        std::lock_guard lock(clips_->Lock());
        clips_->RepairLeftovers(clips_);
        clips_->TidyRecord(clips_);
    }
    if (const auto test = TestCameraFromName(runCamera_)) SetTestCameraPlugged(*test, true);
}

CaptureCore::~CaptureCore() {
    Unregister(this);
    Shutdown(kExitBound);
    // Taking the test cameras down is no camera going.
    monitor_.Stop();
    for (const auto& [kind, state] : testCameras_) UnplugTestCamera(state);
}

QString CaptureCore::RunCamera() const {
    std::lock_guard lock(m_);
    return runCamera_;
}

void CaptureCore::SetRunCamera(const QString& camera) {
    std::lock_guard lock(m_);
    runCamera_ = camera;
}

std::optional<Camera> CaptureCore::ChosenCamera() const {
    return ResolveCamera(Cameras(), RunCamera(), settings_.Load());
}

void CaptureCore::SetTestCameraPlugged(TestCameraKind kind, bool plugged) {
    auto& state = testCameras_[kind];
    if (!state) state = std::make_shared<TestCameraState>();
    if (plugged)
        PlugTestCamera(kind, state);
    else
        UnplugTestCamera(state);
}

std::shared_ptr<Clip> CaptureCore::StartClip(ClipPlan plan) {
    {
        std::lock_guard lock(m_);
        if (shutDown_) return nullptr;
    }
    return clips_->Start(std::move(plan), clips_);
}

void CaptureCore::ReleaseCameras() {
    clips_->ReleaseFeeds();
}

void CaptureCore::SetAgeLimit(const QString& folder, int days) {
    {
        std::lock_guard lock(m_);
        if (shutDown_) return;
    }
    clips_->SetAgeLimit(folder, days, clips_);
}

void CaptureCore::ListFolderAhead(const QString& folder) {
    {
        std::lock_guard lock(m_);
        if (shutDown_) return;
    }
    clips_->ListAhead(folder, clips_);
}

uint64_t CaptureCore::LatestClip() const {
    return clips_->Latest();
}

bool CaptureCore::WaitUntilIdle(std::chrono::milliseconds bound) {
    return clips_->WaitUntilIdle(bound);
}

bool CaptureCore::Shutdown(std::chrono::milliseconds bound) {
    {
        std::lock_guard lock(m_);
        if (shutDown_) return !abandoned_;
        shutDown_ = true;
    }
    const bool all = clips_->Close(bound);
    if (!all) qCWarning(lcCapture) << "Quitting before every clip was finished";
    std::lock_guard lock(m_);
    abandoned_ = !all;
    return all;
}

void CaptureCore::SetClipFinishedHandler(FinishedHandler handler) {
    clips_->SetFinished(std::move(handler));
}

void CaptureCore::SetClipFailedHandler(FailedHandler handler) {
    clips_->SetFailed(std::move(handler));
}

}  // namespace camwarden::capgst

#include "platform/gst/CaptureCore.h"

#include "platform/gst/AgeKeeper.h"
#include "platform/gst/CameraFeed.h"

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
#include "storage/ClipRepair.h"
#include "storage/FsPath.h"
#include "storage/RecordedClips.h"

namespace camwarden::capgst {

using store::AgeLimit;
using store::ClipFolder;
using store::ClipJournal;
using store::ClockNote;
using store::FolderPart;
using store::LeftoverRepair;
using store::Moment;
using store::RecordedClip;
using store::RecordedClips;

Q_LOGGING_CATEGORY(lcCapture, "camwarden.gst")

namespace {

// How long a process ending through exit() waits for its clips.
constexpr std::chrono::milliseconds kExitBound{3000};
// How long quitting waits for the age limit's thread to let go of a folder.
constexpr std::chrono::milliseconds kAgeQuitBound{500};

// A library may end the process with exit() (Qt does when the display
// connection breaks), which runs no destructor of ours. The cores alive
// then are listed here, so their clips still get their index. It is the one
// process-wide list: exit() hands its handlers no context to find them by.
class ExitRegistry {
public:
    // The one list; made before its handler is registered, so it is still
    // there when the handler runs (exit() undoes them in reverse).
    static ExitRegistry& Get() {
        static ExitRegistry registry;
        [[maybe_unused]] static const bool handled = std::atexit(&ExitRegistry::FinishClips) == 0;
        return registry;
    }

    void Add(CaptureCore* core) {
        std::lock_guard lock(m_);
        cores_.push_back(core);
    }
    void Remove(CaptureCore* core) {
        std::lock_guard lock(m_);
        std::erase(cores_, core);
    }

private:
    ExitRegistry() = default;

    static void FinishClips() {
        std::vector<CaptureCore*> cores;
        {
            std::lock_guard lock(Get().m_);
            cores = Get().cores_;
        }
        if (!cores.empty()) qCWarning(lcCapture) << "The process is ending; finishing its clips";
        for (CaptureCore* core : cores) core->Shutdown(kExitBound);
    }

    std::mutex m_;
    std::vector<CaptureCore*> cores_;
};

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
          ageLimit_(folder_, &recorded_, &Moment::Now, &clockNote_) {}

    // The age limit, told from the window's thread. It is kept by a thread of
    // its own, made with the first limit, that sleeps until a clip comes due.
    void SetAgeLimit(const QString& folder, int days, const std::shared_ptr<Clips>& self) {
        ages_.Set(
            folder, days, [this](const AgeKeeper::Told& told) { return LookAtAges(told); }, self);
    }

    // Forgets, on a thread of its own, the recorded clips whose files are
    // gone since the last run. Under m_.
    void TidyRecord(const std::shared_ptr<Clips>& self) {
        RunChore(self, [self] {
            {
                // With the record read: a jump of the clock since an earlier
                // run of this boot is held, whatever that run recorded.
                std::lock_guard lock(self->folderM_);
                self->ageLimit_.WatchClockNow();
            }
            self->recorded_.ForgetVanished();
        });
    }

    // Repairs, on a thread of its own, the clips an earlier run left
    // unfinished; those that cannot be yet (their folder not there) stay
    // listed, and are tried again as each clip starts. Under m_.
    void RepairLeftovers(const std::shared_ptr<Clips>& self) {
        if (!repair_.Begin()) return;
        RunChore(self, [self] { self->repair_.Run(); });
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
        ages_.End(std::min(bound, kAgeQuitBound));
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
        if (!ages_.On()) return;
        LookAtAges(ages_.Take());
        // What it found may bring the keeper's next look forward.
        ages_.Nudge();
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
        ages_.Noted(clip.started);
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
    // What an earlier run left: its unfinished clips repaired and its
    // record tidied, each on a thread of its own.
    void TakeOverFromEarlierRuns(const std::shared_ptr<Clips>& self) {
        std::lock_guard lock(m_);
        RepairLeftovers(self);
        TidyRecord(self);
    }

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
    std::optional<std::chrono::milliseconds> LookAtAges(const AgeKeeper::Told& told) {
        const QStringList inUse = told.days > 0 ? InUse() : QStringList();
        std::lock_guard lock(folderM_);
        ageLimit_.Set(told.folder, told.days);
        if (told.noted) ageLimit_.Noted(*told.noted);
        return ageLimit_.Look(inUse);
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

    // The locks here, and their one order: m_ may be held while a clip's own
    // lock or handlerM_ is taken, never the other way round; folderM_ is
    // taken with none of the others held, and the record's and the
    // journal's own locks are taken under it; the age keeper's lock is held alone.
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
    LeftoverRepair repair_{journal_};
    RecordedClips recorded_;
    CameraFeeds feeds_;
    std::mutex folderM_;   // held while the folder is listed or cleared out
    ClipFolder folder_;    // deletes by recorded_'s order
    ClockNote clockNote_;  // under folderM_
    AgeLimit ageLimit_;    // under folderM_
    AgeKeeper ages_;       // last but the chores: its thread reaches for the above
    // Work beside the clips; each counts as busy until done.
    struct Chore {
        std::thread thread;
        bool done = false;
    };
    std::list<Chore> chores_;  // stable, for the threads to find their own
    bool listingAhead_ = false;

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
    ExitRegistry::Get().Add(this);
    clips_->TakeOverFromEarlierRuns(clips_);
    if (const auto test = TestCameraFromName(runCamera_)) SetTestCameraPlugged(*test, true);
}

CaptureCore::~CaptureCore() {
    ExitRegistry::Get().Remove(this);
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

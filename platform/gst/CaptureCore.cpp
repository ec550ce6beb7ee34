#include "platform/gst/CaptureCore.h"

#include <algorithm>
#include <cstdlib>

#include "platform/gst/CaptureLog.h"

namespace camwarden::capgst {

Q_LOGGING_CATEGORY(lcCapture, "camwarden.capture")

namespace {

// How long a process ending through exit() waits for its clips.
constexpr std::chrono::milliseconds kExitBound{3000};

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

CaptureCore::CaptureCore(QString runCamera, SettingsLocation settings)
    : settings_(std::move(settings)),
      runCamera_(std::move(runCamera)),
      worker_([this](const std::stop_token& stop) { Run(stop); }) {
    Register(this);
    if (const auto test = TestCameraFromName(runCamera_)) SetTestCameraPlugged(*test, true);
}

CaptureCore::~CaptureCore() {
    Unregister(this);
    Shutdown(std::chrono::milliseconds(3000));
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

const std::shared_ptr<TestCameraState>& CaptureCore::TestCamera(TestCameraKind kind) {
    auto& state = testCameras_[kind];
    if (!state) state = std::make_shared<TestCameraState>();
    return state;
}

void CaptureCore::SetTestCameraPlugged(TestCameraKind kind, bool plugged) {
    const auto& state = TestCamera(kind);
    if (plugged)
        PlugTestCamera(kind, state);
    else
        UnplugTestCamera(state);
}

void CaptureCore::Wake() {
    {
        std::lock_guard lock(m_);
        woken_ = true;
    }
    wakeCv_.notify_all();
}

std::shared_ptr<Clip> CaptureCore::StartClip(ClipPlan plan, QString* error) {
    {
        std::lock_guard lock(m_);
        if (shutDown_) {
            if (error) *error = QStringLiteral("the capture layer has shut down");
            return nullptr;
        }
    }
    // The core outlives every running pipeline (Shutdown stops them all), so
    // the streaming threads may call back into it.
    auto clip = Clip::Start(
        std::move(plan), [this] { Wake(); }, error);
    if (!clip) return nullptr;
    {
        std::lock_guard lock(m_);
        clips_.push_back(clip);
    }
    Wake();
    return clip;
}

void CaptureCore::Finish(const std::shared_ptr<Clip>& clip) {
    if (clip) clip->RequestFinish();
}

template <typename Pred>
bool CaptureCore::WaitDone(std::chrono::milliseconds bound, Pred pred) {
    std::unique_lock lock(m_);
    return doneCv_.wait_for(lock, bound, [&] { return pred(); });
}

void CaptureCore::WaitForCamera(const Camera& camera, std::chrono::milliseconds bound) {
    WaitDone(bound, [&] {
        return std::none_of(clips_.begin(), clips_.end(),
                            [&](const auto& c) { return c->camera() == camera && !c->IsDone(); });
    });
}

bool CaptureCore::WaitUntilIdle(std::chrono::milliseconds bound) {
    return WaitDone(bound, [&] { return clips_.empty(); });
}

void CaptureCore::Shutdown(std::chrono::milliseconds bound) {
    std::vector<std::shared_ptr<Clip>> left;
    {
        std::lock_guard lock(m_);
        if (shutDown_) return;
        shutDown_ = true;
        left = clips_;
    }
    for (const auto& c : left) c->RequestFinish();
    if (!WaitUntilIdle(bound)) {
        qCWarning(lcCapture) << "Quitting before every clip was finished";
    }
    worker_.request_stop();
    Wake();
    if (worker_.joinable()) worker_.join();
    // Whatever the worker did not get to is cut off here, keeping what it wrote.
    {
        std::lock_guard lock(m_);
        left.clear();
        left.swap(clips_);
    }
    for (const auto& c : left) c->ForceEnd();
}

void CaptureCore::SetClipFinishedHandler(std::function<void(const ClipReport&)> handler) {
    std::lock_guard lock(m_);
    onFinished_ = std::move(handler);
}

std::optional<CaptureCore::DiskUse> CaptureCore::LastDiskUse() const {
    std::lock_guard lock(m_);
    return lastDiskUse_;
}

void CaptureCore::Run(const std::stop_token& stop) {
    auto next = SteadyTime::max();
    while (!stop.stop_requested()) {
        std::vector<std::shared_ptr<Clip>> clips;
        {
            std::unique_lock lock(m_);
            const auto ready = [&] { return woken_ || stop.stop_requested(); };
            if (next == SteadyTime::max())
                wakeCv_.wait(lock, ready);
            else
                wakeCv_.wait_until(lock, next, ready);
            woken_ = false;
            clips = clips_;
        }
        // Clips are looked after without the lock: ending a pipeline waits
        // for its streaming threads, which may be calling Wake.
        next = SteadyTime::max();
        std::vector<std::shared_ptr<Clip>> done;
        for (const auto& c : clips) {
            const auto due = c->Service(std::chrono::steady_clock::now());
            if (due)
                next = std::min(next, *due);
            else
                done.push_back(c);
        }
        if (done.empty()) continue;
        std::function<void(const ClipReport&)> handler;
        {
            std::lock_guard lock(m_);
            handler = onFinished_;
        }
        std::vector<ClipReport> reports;
        reports.reserve(done.size());
        for (const auto& c : done) reports.push_back(c->Report());
        if (handler) {
            for (const auto& r : reports) handler(r);
        }
        {
            std::lock_guard lock(m_);
            for (const auto& r : reports) {
                if (r.bytes > 0 && r.seconds > 0)
                    lastDiskUse_ = DiskUse{static_cast<double>(r.bytes) / r.seconds, r.seconds};
            }
            std::erase_if(clips_, [&](const auto& c) {
                return std::find(done.begin(), done.end(), c) != done.end();
            });
        }
        // Whoever waits for the clips to be done may count on the worker
        // holding none of them any more.
        clips.clear();
        done.clear();
        doneCv_.notify_all();
    }
}

}  // namespace camwarden::capgst

#include "platform/gst/Clip.h"

#include <QFileInfo>
#include <QStorageInfo>
#include <algorithm>

#include "platform/gst/CaptureLog.h"
#include "platform/gst/TimeStamp.h"
#include "storage/ClipRepair.h"

namespace camwarden::capgst {

using store::AviRepair;
using store::ClipFile;
using store::PassedOver;
using store::RemoveFrameless;
using store::RepairInPlace;
using store::SyncClip;

namespace {

using std::chrono::steady_clock;

// A thread that wakes this long after it meant to was stopped, not slow.
constexpr std::chrono::seconds kOversleep{1};
// Below this a clip is not even started: it could not hold a second of video.
constexpr long long kRoomFloor = 1024LL * 1024;
// Clips of one schedule come out alike in size but not exactly.
constexpr double kRoomMargin = 1.25;
constexpr double kShortestClip = 5;

// A clip the folder clearly has no room for is refused before it starts,
// so a full disk gives one report per clip instead of a string of broken
// files.
bool HasRoom(const ClipPlan& plan, const std::optional<DiskUse>& last, QString* why) {
    const QStorageInfo storage(QFileInfo(plan.file).absolutePath());
    if (!storage.isValid() || !storage.isReady()) return true;  // creating the file will say why
    const long long need = RoomNeeded(plan, last);
    const long long free = storage.bytesAvailable();
    if (free >= need) return true;
    *why = QStringLiteral("only %1 KB free in %2, a clip needs about %3 KB")
               .arg(free / 1024)
               .arg(storage.rootPath())
               .arg(need / 1024);
    return false;
}

GstElement* Make(const char* factory) {
    return gst_element_factory_make(factory, nullptr);
}

GstCapsPtr RateCaps(const char* media, Fraction rate) {
    return GstCapsPtr(
        gst_caps_new_simple(media, "framerate", GST_TYPE_FRACTION, rate.num, rate.den, nullptr));
}

QString Seconds(std::chrono::milliseconds t) {
    return QString::number(double(t.count()) / 1000, 'f', 1);
}

}  // namespace

long long RoomNeeded(const ClipPlan& plan, const std::optional<DiskUse>& last) {
    if (!last) return kRoomFloor;
    const double length = plan.timeLimitSeconds > 0 ? plan.timeLimitSeconds
                          : plan.meantSeconds > 0   ? plan.meantSeconds
                                                    : last->seconds;
    const double seconds = std::max(length, kShortestClip);
    return std::max(kRoomFloor,
                    static_cast<long long>(last->bytesPerSecond * seconds * kRoomMargin));
}

Clip::Clip(ClipPlan plan, uint64_t id)
    : plan_(std::move(plan)), id_(id), requested_(steady_clock::now()) {}

Clip::~Clip() {
    Release();
}

void Clip::Release() {
    if (feed_) {
        bool endedWell = false;
        {
            std::lock_guard lock(m_);
            endedWell = error_.isEmpty();
        }
        CameraFeed::LetGo(std::move(feed_), source_, endedWell);
    }
    if (pipeline_) {
        Stop();
        const GstBusPtr bus(gst_element_get_bus(pipeline_.get()));
        gst_bus_set_sync_handler(bus.get(), nullptr, nullptr, nullptr);
        if (muxPad_) gst_element_release_request_pad(mux_, muxPad_.get());
        muxPad_.reset();
        pipeline_.reset();
    }
    // Closed now, not whenever the last holder lets go: an open file keeps
    // its disk from being unmounted or made read-only.
    file_.reset();
}

std::chrono::milliseconds Clip::StallBound() const {
    const Fraction rate = plan_.format.outputRate;
    const auto threeFrames =
        rate.num > 0 ? std::chrono::milliseconds(3000LL * rate.den / rate.num) : kStallFloor;
    return std::max(kStallFloor, threeFrames);
}

QString Clip::File() const {
    std::lock_guard lock(m_);
    return plan_.file;
}

void Clip::Run(ClipHost& host) {
    const bool cameraFree = host.WaitForCamera(*this, kFinishBound);
    bool begin = false;
    {
        std::lock_guard lock(m_);
        if (!finishAsked_ && error_.isEmpty()) {
            begin = cameraFree;
            if (!cameraFree)
                error_ = QStringLiteral(
                    "the camera is still held by an earlier clip that has not "
                    "ended");
        }
    }
    if (begin) {
        QString why;
        // Each limit on its own: the clips past their age first, then the
        // oldest for the room.
        host.ExpireOld();
        const auto last = host.LastDiskUse();
        const bool room =
            (plan_.folderLimitBytes <= 0 || host.MakeRoom(plan_, RoomNeeded(plan_, last), &why)) &&
            HasRoom(plan_, last, &why);
        if (room && Build(host, &why) && Play(&why)) {
            Record(host);
        } else {
            std::lock_guard lock(m_);
            if (error_.isEmpty()) error_ = why;
        }
    }
    {
        std::lock_guard lock(m_);
        if (!error_.isEmpty() && !firstFrame_)
            qCWarning(lcCapture).noquote() << "Cannot capture into" << plan_.file << ":" << error_;
    }
    Finalize(host);
}

bool Clip::Build(ClipHost& host, QString* error) {
    const ChosenFormat& f = plan_.format;
    const auto failed = [&](const char* why) {
        if (error) *error = QString::fromUtf8(why);
        return false;
    };

    file_ = ClipFile::Create(plan_.file, error);
    if (!file_) return false;
    if (file_->path() != plan_.file) {
        qCInfo(lcCapture).noquote()
            << "A file named" << plan_.file << "is already there; recording into" << file_->path()
            << "instead";
        std::lock_guard lock(m_);
        plan_.file = file_->path();
    }
    host.Began(file_->path());

    pipeline_ = SinkElement(gst_pipeline_new("clip"));
    GstElementPtr src;
    if (CameraFeed::Wanted(plan_.camera)) {
        feed_ = host.Feeds().Open(plan_.camera, f.sourceCaps.get(), plan_.settings.controls, error);
        if (!feed_) return false;
        src = feed_->MakeSource();
    } else {
        src = MakeCameraSource(plan_.camera);
    }
    if (!pipeline_ || !src) return failed("the camera source cannot be made");

    GstElement* srcCaps = Make("capsfilter");
    GstElement* rate = Make("videorate");
    GstElement* rateCaps = Make("capsfilter");
    // A frame is stamped as a picture: MJPEG passed through is decoded for
    // it and encoded again.
    const bool decode = f.mjpeg && plan_.timeStamp;
    const bool encode = !f.mjpeg || decode;
    GstElement* dec = decode ? Make("jpegdec") : nullptr;
    GstElement* convert = f.mjpeg ? nullptr : Make("videoconvert");
    GstElement* rawCaps = f.mjpeg ? nullptr : Make("capsfilter");
    GstElement* enc = encode ? Make("jpegenc") : nullptr;
    GstElement* jpegCaps = Make("capsfilter");
    mux_ = Make("avimux");
    sink_ = Make("fdsink");
    GstElement* all[] = {srcCaps, rate, rateCaps, dec,  convert,
                         rawCaps, enc,  jpegCaps, mux_, sink_};
    bool complete = true;
    for (GstElement* e : all) {
        if (e) gst_bin_add(GST_BIN(pipeline_.get()), e);  // the pipeline owns it from here on
    }
    for (GstElement* e : {srcCaps, rate, rateCaps, jpegCaps, mux_, sink_}) complete &= e != nullptr;
    if (!f.mjpeg && (!convert || !rawCaps)) complete = false;
    if ((decode && !dec) || (encode && !enc)) complete = false;
    if (!complete) return failed("a GStreamer element is missing");
    gst_bin_add(GST_BIN(pipeline_.get()), src.get());
    source_ = src.get();

    g_object_set(srcCaps, "caps", f.sourceCaps.get(), nullptr);
    const char* media = f.mjpeg ? "image/jpeg" : "video/x-raw";
    g_object_set(rateCaps, "caps", RateCaps(media, f.outputRate).get(), nullptr);
    // A gap past the stall bound is no camera hiccup but the program stopped
    // or the machine asleep: filled with copies, it would make the clip
    // longer than its time.
    g_object_set(rate, "max-duplication-time",
                 guint64(std::chrono::nanoseconds(StallBound()).count()), nullptr);
    if (!f.mjpeg) {
        // Without this videoconvert would hand the encoder 4:4:4.
        const GstCapsPtr i420(
            gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "I420", nullptr));
        g_object_set(rawCaps, "caps", i420.get(), nullptr);
    }
    if (encode) g_object_set(enc, "quality", plan_.settings.jpegQuality, nullptr);
    const GstCapsPtr jpeg(gst_caps_new_empty_simple("image/jpeg"));
    g_object_set(jpegCaps, "caps", jpeg.get(), nullptr);
    g_object_set(sink_, "fd", file_->descriptor(), nullptr);

    const bool linked =
        !encode ? gst_element_link_many(src.get(), srcCaps, rate, rateCaps, jpegCaps, nullptr)
        : decode
            ? gst_element_link_many(src.get(), srcCaps, rate, rateCaps, dec, enc, jpegCaps, nullptr)
            : gst_element_link_many(src.get(), srcCaps, rate, rateCaps, convert, rawCaps, enc,
                                    jpegCaps, nullptr);
    if (!linked || !gst_element_link(mux_, sink_)) return failed("the pipeline cannot be linked");
    if (plan_.timeStamp) {
        const GstPadPtr raw(gst_element_get_static_pad(enc, "sink"));
        AttachTimeStamp(raw.get());
    }

    muxPad_.reset(gst_element_request_pad_simple(mux_, "video_%u"));
    const GstPadPtr jpegOut(gst_element_get_static_pad(jpegCaps, "src"));
    if (!muxPad_ || gst_pad_link(jpegOut.get(), muxPad_.get()) != GST_PAD_LINK_OK)
        return failed("the muxer does not take the video");

    gst_pad_add_probe(muxPad_.get(), GST_PAD_PROBE_TYPE_BUFFER, &Clip::OnFrame, this, nullptr);
    const GstBusPtr bus(gst_element_get_bus(pipeline_.get()));
    gst_bus_set_sync_handler(bus.get(), &Clip::OnBusMessage, this, nullptr);

    // Never longer than meant: stopped on time, a clip whose camera delivers
    // from its first moment would give its last fraction of a frame a whole
    // frame (76 for 5 s at 15 fps).
    const uint32_t limit = plan_.timeLimitSeconds > 0 ? plan_.timeLimitSeconds : plan_.meantSeconds;
    if (limit > 0) {
        limitFrames_ = gst_util_uint64_scale(limit, f.outputRate.num, f.outputRate.den);
        if (limitFrames_ == 0) limitFrames_ = 1;
    }
    return true;
}

bool Clip::Play(QString* error) {
    // Controls can be set once the source has its device open.
    if (gst_element_set_state(pipeline_.get(), GST_STATE_READY) != GST_STATE_CHANGE_FAILURE)
        ApplyPictureControls(source_, plan_.settings.controls);
    // A camera may take its time here (a PipeWire link that never comes up
    // holds this for half a minute); only this clip waits for it.
    const bool started =
        gst_element_set_state(pipeline_.get(), GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE;
    if (started && feed_) feed_->Attach(source_, [this](const QString& why) { Fail(why); });
    std::lock_guard lock(m_);
    if (!started) {
        *error = error_.isEmpty() ? QStringLiteral("the pipeline did not start") : error_;
        return false;
    }
    lastProgress_ = steady_clock::now();
    state_ = State::Recording;
    const ChosenFormat& f = plan_.format;
    QString how = f.mjpeg && !plan_.timeStamp
                      ? QStringLiteral("MJPEG passed through")
                      : QStringLiteral("%1encoded at quality %2")
                            .arg(f.mjpeg ? QStringLiteral("MJPEG decoded, ") : QString())
                            .arg(plan_.settings.jpegQuality);
    if (plan_.timeStamp) how += QStringLiteral(", time stamped");
    qCInfo(lcCapture).noquote()
        << "Clip started:" << plan_.file << "from" << plan_.camera.name
        << QStringLiteral("%1x%2").arg(f.width).arg(f.height) << how
        << QStringLiteral("%1/%2 fps").arg(f.outputRate.num).arg(f.outputRate.den);
    return true;
}

void Clip::Record(ClipHost& host) {
    const auto stallBound = StallBound();
    SteadyTime waitedUntil = SteadyTime::max();  // none
    for (;;) {
        enum class Act { None, SendEos, InjectEos, Close } act = Act::None;
        bool noteFailure = false;
        bool feedSilent = false;
        {
            std::unique_lock lock(m_);
            const auto now = steady_clock::now();
            // A wait that ends long past its time: the program was stopped.
            // Neither the camera nor the muxer had a chance meanwhile, so
            // their bounds count from now.
            if (now - waitedUntil > kOversleep) {
                lastProgress_ = std::max(lastProgress_, now);
                if (state_ == State::Finishing) deadline_ = now + kFinishBound;
            }
            waitedUntil = SteadyTime::max();
            if (state_ == State::Recording && !errorNeedsEos_ &&
                now - lastProgress_ >= stallBound) {
                // Whether the camera went quiet or the folder stopped taking
                // writes, nothing more is being recorded.
                if (error_.isEmpty())
                    error_ = firstFrame_
                                 ? QStringLiteral("no frame reached the file for %1 s")
                                       .arg(Seconds(stallBound))
                                 : QStringLiteral("the camera delivered no frame within %1 s")
                                       .arg(Seconds(stallBound));
                errorNeedsEos_ = true;
                feedSilent = feed_ && feed_->SilentFor(stallBound);
            }
            if (!error_.isEmpty() && !failureNoted_) noteFailure = true;
            if (eos_ || sinkFailed_) {
                act = Act::Close;
            } else {
                if (state_ == State::Recording &&
                    (finishAsked_ || limitReached_ || errorNeedsEos_)) {
                    state_ = State::Finishing;
                    deadline_ = now + kFinishBound;
                }
                if (state_ == State::Finishing) {
                    if (now >= deadline_) {
                        qCWarning(lcCapture).noquote()
                            << "Clip" << plan_.file
                            << "did not finish in time; closing it as it is";
                        act = Act::Close;
                    } else if (!eosSent_ && (errorNeedsEos_ || playing_)) {
                        // Until the pipeline is playing, sending it an event would wait
                        // on its state change while holding what that change needs.
                        eosSent_ = true;
                        act = errorNeedsEos_ ? Act::InjectEos : Act::SendEos;
                    }
                }
            }
            if (act == Act::None && !noteFailure) {
                waitedUntil = state_ == State::Finishing ? deadline_ : lastProgress_ + stallBound;
                changed_.wait_until(lock, waitedUntil);
                continue;
            }
        }
        // A kept connection that delivers nothing is not kept for the next clip.
        if (feedSilent) feed_->Break(QStringLiteral("no frame for %1 s").arg(Seconds(stallBound)));
        if (noteFailure) NoteFailure(host);
        switch (act) {
            case Act::SendEos:
                gst_element_send_event(pipeline_.get(), gst_event_new_eos());
                break;
            case Act::InjectEos:
                // The source has failed or gone quiet and may never send it:
                // end the stream at the muxer so it writes its index.
                gst_pad_send_event(muxPad_.get(), gst_event_new_eos());
                break;
            case Act::Close:
                return;
            case Act::None:
                break;
        }
    }
}

void Clip::NoteFailure(ClipHost& host) {
    QString why;
    {
        std::lock_guard lock(m_);
        if (failureNoted_ || error_.isEmpty()) return;
        failureNoted_ = true;
        why = error_;
    }
    host.Failed(*this, why);
}

void Clip::Stop() {
    if (pipeline_) gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
}

void Clip::Finalize(ClipHost& host) {
    bool closedProperly = false;
    {
        std::lock_guard lock(m_);
        closedProperly = eos_ && !sinkFailed_;
    }
    // A file the muxer finished is handed in before the pipeline is taken
    // down, which may hang on a device that does not let go.
    if (!closedProperly) Stop();
    const Kept kept = SettleFile(closedProperly);
    {
        std::lock_guard lock(m_);
        state_ = State::Done;
        finished_ = steady_clock::now();
    }
    const ClipReport r = Report();
    if (!file_) {
        if (r.error.isEmpty())
            qCInfo(lcCapture).noquote() << "Clip" << r.file << "ended before it began";
    } else if (r.error.isEmpty()) {
        // When the file really begins, for whoever compares clips with the schedule.
        const QString firstFrame =
            r.firstFrame ? QStringLiteral("; first frame %1 ms after the request")
                               .arg(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        *r.firstFrame - r.requested)
                                        .count())
                         : QString();
        qCInfo(lcCapture).noquote() << "Clip finished:" << r.file << "-" << r.frames << "frames,"
                                    << QString::number(r.seconds, 'f', 2) + " s" + firstFrame;
    } else if (r.frames > 0) {
        // Says where the frames are: a file moved away keeps them there.
        qCWarning(lcCapture).noquote() << "Clip ended by an error:" << r.file << "-" << r.frames
                                       << "frames," << QString::number(r.seconds, 'f', 2)
                                       << (kept == Kept::InPlace     ? "s kept;"
                                           : kept == Kept::Elsewhere ? "s kept where the file went;"
                                                                     : "s, none kept;")
                                       << r.error;
    }
    NoteFailure(host);
    if (file_) host.Settled(file_->path());
    host.Finished(r);
    Release();
    host.Released(*this);
}

Clip::Kept Clip::SettleFile(bool closedProperly) {
    if (!file_) return Kept::Nowhere;
    QString why;
    Kept kept = Kept::InPlace;
    if (!file_->StillInPlace(&why)) {
        {
            std::lock_guard lock(m_);
            if (error_.isEmpty()) error_ = why;
        }
        // Removed, or replaced under its name: nothing of it is ours to keep.
        if (!file_->Moved()) return Kept::Nowhere;
        kept = Kept::Elsewhere;
    }
    if (!closedProperly && frames_.load() > 0) {
        const AviRepair repaired = RepairInPlace(*file_);
        if (repaired.ok) {
            qCInfo(lcCapture).noquote()
                << "Clip" << plan_.file << "closed with its index:" << repaired.frames
                << "whole frames kept" + PassedOver(repaired);
            frames_ = repaired.frames;
        } else {
            // Players that scan the file still show what it holds.
            qCWarning(lcCapture).noquote()
                << "Clip" << plan_.file << "kept without index:" << repaired.error;
        }
    }
    const bool empty = frames_.load() == 0;
    QString unsynced;
    if (empty) {
        RemoveFrameless(*file_);
    } else {
        SyncClip(*file_, &unsynced);
    }
    std::lock_guard lock(m_);
    bytes_ = empty ? 0 : file_->Size();
    if (empty && error_.isEmpty()) error_ = QStringLiteral("no frame was recorded");
    if (!unsynced.isEmpty() && error_.isEmpty())
        error_ = QStringLiteral("the clip could not be put on disk: %1").arg(unsynced);
    return empty ? Kept::Nowhere : kept;
}

GstPadProbeReturn Clip::OnFrame(GstPad*, GstPadProbeInfo*, gpointer self) {
    auto* clip = static_cast<Clip*>(self);
    if (clip->limitFrames_ && clip->frames_.load() >= clip->limitFrames_) {
        {
            std::lock_guard lock(clip->m_);
            if (clip->limitReached_) return GST_PAD_PROBE_DROP;
            clip->limitReached_ = true;
        }
        clip->changed_.notify_all();
        return GST_PAD_PROBE_DROP;
    }
    const auto now = steady_clock::now();
    std::lock_guard lock(clip->m_);
    clip->lastProgress_ = now;
    if (clip->frames_.fetch_add(1) == 0) clip->firstFrame_ = now;
    return GST_PAD_PROBE_OK;
}

GstBusSyncReply Clip::OnBusMessage(GstBus*, GstMessage* msg, gpointer self) {
    // Every message is dropped here, so it is ours to release: a message
    // holds its source element, and through it the whole pipeline.
    const GstMessagePtr owned(msg);
    auto* clip = static_cast<Clip*>(self);
    switch (GST_MESSAGE_TYPE(msg)) {
        case GST_MESSAGE_EOS: {
            std::lock_guard lock(clip->m_);
            clip->eos_ = true;
            break;
        }
        case GST_MESSAGE_ERROR: {
            GError* raw = nullptr;
            gchar* debugRaw = nullptr;
            gst_message_parse_error(msg, &raw, &debugRaw);
            const GErrorPtr err(raw);
            const GCharPtr debug(debugRaw);
            const QString text = QString::fromUtf8(err ? err->message : "unknown error");
            const GstObject* from = GST_MESSAGE_SRC(msg);
            std::lock_guard lock(clip->m_);
            qCWarning(lcCapture).noquote()
                << "Capture error in" << GST_OBJECT_NAME(from) << "while writing"
                << clip->plan_.file << ":" << text << "|" << (debug ? debug.get() : "");
            if (clip->error_.isEmpty()) clip->error_ = text;
            // Past the muxer nothing more can be saved; before it, the muxer
            // can still close the file properly.
            if (from == GST_OBJECT(clip->sink_) || from == GST_OBJECT(clip->mux_))
                clip->sinkFailed_ = true;
            else
                clip->errorNeedsEos_ = true;
            break;
        }
        case GST_MESSAGE_STATE_CHANGED: {
            if (GST_MESSAGE_SRC(msg) != GST_OBJECT(clip->pipeline_.get())) return GST_BUS_DROP;
            GstState now = GST_STATE_VOID_PENDING;
            gst_message_parse_state_changed(msg, nullptr, &now, nullptr);
            if (now != GST_STATE_PLAYING) return GST_BUS_DROP;
            std::lock_guard lock(clip->m_);
            clip->playing_ = true;
            break;
        }
        case GST_MESSAGE_WARNING: {
            GError* raw = nullptr;
            gst_message_parse_warning(msg, &raw, nullptr);
            const GErrorPtr err(raw);
            qCWarning(lcCapture).noquote() << "Capture warning:" << (err ? err->message : "");
            return GST_BUS_DROP;
        }
        default:
            return GST_BUS_DROP;
    }
    clip->changed_.notify_all();
    return GST_BUS_DROP;
}

void Clip::RequestFinish() {
    {
        std::lock_guard lock(m_);
        if (finishAsked_ || state_ == State::Done) return;
        finishAsked_ = true;
        finishRequested_ = steady_clock::now();
    }
    changed_.notify_all();
}

void Clip::Fail(const QString& why) {
    {
        std::lock_guard lock(m_);
        if (state_ == State::Done || !error_.isEmpty()) return;
        error_ = why;
        errorNeedsEos_ = true;
    }
    changed_.notify_all();
}

bool Clip::IsRecording() const {
    std::lock_guard lock(m_);
    return (state_ == State::Starting || state_ == State::Recording) && !finishAsked_ &&
           error_.isEmpty() && !eos_ && !limitReached_;
}

ClipReport Clip::Report() const {
    ClipReport r;
    r.frames = frames_.load();
    r.rate = plan_.format.outputRate;
    r.seconds = r.rate.num > 0 ? double(r.frames) * r.rate.den / r.rate.num : 0.0;
    std::lock_guard lock(m_);
    r.file = plan_.file;
    r.bytes = bytes_;
    r.error = error_;
    r.requested = requested_;
    r.firstFrame = firstFrame_;
    r.finishRequested = finishRequested_;
    r.finished = finished_;
    return r;
}

}  // namespace camwarden::capgst

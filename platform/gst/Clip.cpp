#include "platform/gst/Clip.h"

#include <QFile>

#include "platform/gst/AviRepair.h"
#include "platform/gst/CaptureLog.h"

namespace camwarden::capgst {
namespace {

using std::chrono::steady_clock;

// Bounded so a camera that is slow to deliver does not hold the window up;
// what has not started by then still counts as started and runs on.
constexpr std::chrono::milliseconds kStartCheck{250};

GstElement* Make(const char* factory) {
    return gst_element_factory_make(factory, nullptr);
}

GstPadProbeReturn DropEos(GstPad*, GstPadProbeInfo* info, gpointer) {
    return GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_EOS ? GST_PAD_PROBE_DROP
                                                                           : GST_PAD_PROBE_OK;
}

GstCapsPtr RateCaps(const char* media, Fraction rate) {
    return GstCapsPtr(
        gst_caps_new_simple(media, "framerate", GST_TYPE_FRACTION, rate.num, rate.den, nullptr));
}

}  // namespace

Clip::Clip(ClipPlan plan, Wake wake) : plan_(std::move(plan)), wake_(std::move(wake)) {}

Clip::~Clip() {
    if (pipeline_) {
        gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
        const GstBusPtr bus(gst_element_get_bus(pipeline_.get()));
        gst_bus_set_sync_handler(bus.get(), nullptr, nullptr, nullptr);
        if (muxPad_) gst_element_release_request_pad(mux_, muxPad_.get());
    }
}

std::shared_ptr<Clip> Clip::Start(ClipPlan plan, Wake wake, QString* error) {
    std::shared_ptr<Clip> clip(new Clip(std::move(plan), std::move(wake)));
    clip->requested_ = steady_clock::now();
    if (!clip->Build(error)) {
        if (clip->file_) clip->file_->Remove();
        return nullptr;
    }

    const auto fail = [&](const QString& why) -> std::shared_ptr<Clip> {
        gst_element_set_state(clip->pipeline_.get(), GST_STATE_NULL);
        // The file is this request's own; without a frame it is litter.
        if (clip->frames_.load() == 0) clip->file_->Remove();
        if (error) *error = why;
        return nullptr;
    };

    const auto errorText = [&] {
        std::lock_guard lock(clip->m_);
        return clip->error_;
    };
    // Controls can be set once the source has its device open.
    if (gst_element_set_state(clip->pipeline_.get(), GST_STATE_READY) != GST_STATE_CHANGE_FAILURE)
        ApplyPictureControls(clip->source_, clip->plan_.settings.controls);
    if (gst_element_set_state(clip->pipeline_.get(), GST_STATE_PLAYING) ==
        GST_STATE_CHANGE_FAILURE) {
        const QString why = errorText();
        return fail(why.isEmpty() ? QStringLiteral("the pipeline did not start") : why);
    }
    {
        std::unique_lock lock(clip->m_);
        clip->started_.wait_for(lock, kStartCheck, [&] {
            return clip->frames_.load() > 0 || !clip->error_.isEmpty() || clip->eos_;
        });
    }
    if (const QString why = errorText(); !why.isEmpty() && clip->frames_.load() == 0)
        return fail(why);

    const ChosenFormat& f = clip->plan_.format;
    qCInfo(lcCapture).noquote()
        << "Clip started:" << clip->plan_.file << "from" << clip->plan_.camera.name
        << QStringLiteral("%1x%2").arg(f.width).arg(f.height)
        << (f.mjpeg ? QStringLiteral("MJPEG passed through")
                    : QStringLiteral("encoded at quality %1").arg(clip->plan_.settings.jpegQuality))
        << QStringLiteral("%1/%2 fps").arg(f.outputRate.num).arg(f.outputRate.den);
    return clip;
}

bool Clip::Build(QString* error) {
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
        plan_.file = file_->path();
    }

    pipeline_ = SinkElement(gst_pipeline_new("clip"));
    GstElementPtr src = MakeCameraSource(plan_.camera);
    if (!pipeline_ || !src) return failed("the camera source cannot be made");

    GstElement* srcCaps = Make("capsfilter");
    GstElement* rate = Make("videorate");
    GstElement* rateCaps = Make("capsfilter");
    GstElement* convert = f.mjpeg ? nullptr : Make("videoconvert");
    GstElement* rawCaps = f.mjpeg ? nullptr : Make("capsfilter");
    GstElement* enc = f.mjpeg ? nullptr : Make("jpegenc");
    GstElement* jpegCaps = Make("capsfilter");
    const TestCameraState* faults = plan_.camera.IsTest() ? plan_.testState.get() : nullptr;
    const bool sinkFails = faults && faults->sinkFails.load();
    mux_ = Make("avimux");
    sink_ = Make(sinkFails ? "fakesink" : "fdsink");
    GstElement* all[] = {srcCaps, rate, rateCaps, convert, rawCaps, enc, jpegCaps, mux_, sink_};
    bool complete = true;
    for (GstElement* e : all) {
        if (e) {
            gst_bin_add(GST_BIN(pipeline_.get()), e);  // the pipeline owns it from here on
        } else if (e != convert && e != rawCaps && e != enc) {
            complete = false;
        }
    }
    if (!f.mjpeg && (!convert || !rawCaps || !enc)) complete = false;
    if (!complete) return failed("a GStreamer element is missing");
    gst_bin_add(GST_BIN(pipeline_.get()), src.get());
    source_ = src.get();

    g_object_set(srcCaps, "caps", f.sourceCaps.get(), nullptr);
    const char* media = f.mjpeg ? "image/jpeg" : "video/x-raw";
    g_object_set(rateCaps, "caps", RateCaps(media, f.outputRate).get(), nullptr);
    if (!f.mjpeg) {
        // Without this videoconvert would hand the encoder 4:4:4.
        const GstCapsPtr i420(
            gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "I420", nullptr));
        g_object_set(rawCaps, "caps", i420.get(), nullptr);
        g_object_set(enc, "quality", plan_.settings.jpegQuality, nullptr);
    }
    const GstCapsPtr jpeg(gst_caps_new_empty_simple("image/jpeg"));
    g_object_set(jpegCaps, "caps", jpeg.get(), nullptr);
    if (sinkFails)
        gst_util_set_object_arg(G_OBJECT(sink_), "state-error", "ready-to-paused");
    else
        g_object_set(sink_, "fd", file_->descriptor(), nullptr);

    const bool linked =
        f.mjpeg ? gst_element_link_many(src.get(), srcCaps, rate, rateCaps, jpegCaps, nullptr)
                : gst_element_link_many(src.get(), srcCaps, rate, rateCaps, convert, rawCaps, enc,
                                        jpegCaps, nullptr);
    if (!linked || !gst_element_link(mux_, sink_)) return failed("the pipeline cannot be linked");

    muxPad_.reset(gst_element_request_pad_simple(mux_, "video_%u"));
    const GstPadPtr jpegOut(gst_element_get_static_pad(jpegCaps, "src"));
    if (!muxPad_ || gst_pad_link(jpegOut.get(), muxPad_.get()) != GST_PAD_LINK_OK)
        return failed("the muxer does not take the video");

    gst_pad_add_probe(muxPad_.get(), GST_PAD_PROBE_TYPE_BUFFER, &Clip::OnFrame, this, nullptr);
    if (faults && faults->stallEnd.load())
        gst_pad_add_probe(muxPad_.get(), GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, DropEos, nullptr,
                          nullptr);
    const GstBusPtr bus(gst_element_get_bus(pipeline_.get()));
    gst_bus_set_sync_handler(bus.get(), &Clip::OnBusMessage, this, nullptr);

    if (plan_.timeLimitSeconds > 0) {
        limitFrames_ =
            gst_util_uint64_scale(plan_.timeLimitSeconds, f.outputRate.num, f.outputRate.den);
        if (limitFrames_ == 0) limitFrames_ = 1;
    }
    return true;
}

GstPadProbeReturn Clip::OnFrame(GstPad*, GstPadProbeInfo*, gpointer self) {
    auto* clip = static_cast<Clip*>(self);
    if (clip->limitFrames_ && clip->frames_.load() >= clip->limitFrames_) {
        bool first = false;
        {
            std::lock_guard lock(clip->m_);
            first = !clip->limitReached_;
            clip->limitReached_ = true;
        }
        if (first) clip->wake_();
        return GST_PAD_PROBE_DROP;
    }
    if (clip->frames_.fetch_add(1) == 0) {
        {
            std::lock_guard lock(clip->m_);
            clip->firstFrame_ = steady_clock::now();
        }
        clip->started_.notify_all();
    }
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
            qCWarning(lcCapture).noquote()
                << "Capture error in" << GST_OBJECT_NAME(GST_MESSAGE_SRC(msg)) << "while writing"
                << clip->plan_.file << ":" << text << "|" << (debug ? debug.get() : "");
            const GstObject* from = GST_MESSAGE_SRC(msg);
            std::lock_guard lock(clip->m_);
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
    clip->started_.notify_all();
    clip->wake_();
    return GST_BUS_DROP;
}

void Clip::RequestFinish() {
    {
        std::lock_guard lock(m_);
        if (state_ != State::Recording) return;
        state_ = State::Finishing;
        finishRequested_ = steady_clock::now();
        deadline_ = *finishRequested_ + kFinishBound;
    }
    wake_();
}

bool Clip::IsRecording() const {
    std::lock_guard lock(m_);
    return state_ == State::Recording && !eos_ && error_.isEmpty() && !limitReached_;
}

bool Clip::IsDone() const {
    std::lock_guard lock(m_);
    return state_ == State::Done;
}

std::optional<SteadyTime> Clip::Service(SteadyTime now) {
    enum class Act { None, SendEos, InjectEos, Finalize } act = Act::None;
    std::optional<SteadyTime> next;
    {
        std::lock_guard lock(m_);
        if (state_ == State::Done) return std::nullopt;
        if ((limitReached_ || errorNeedsEos_) && state_ == State::Recording) {
            state_ = State::Finishing;
            deadline_ = now + kFinishBound;
        }
        if (eos_ || sinkFailed_) {
            act = Act::Finalize;
        } else if (state_ == State::Finishing) {
            if (now >= deadline_) {
                qCWarning(lcCapture).noquote()
                    << "Clip" << plan_.file << "did not finish in time; closing it as it is";
                act = Act::Finalize;
            } else if (!eosSent_ && (errorNeedsEos_ || playing_)) {
                // Until the pipeline is playing, sending it an event would wait
                // on its state change while holding what that change needs.
                eosSent_ = true;
                act = errorNeedsEos_ ? Act::InjectEos : Act::SendEos;
            }
            next = deadline_;
        } else {
            next = SteadyTime::max();
        }
    }
    switch (act) {
        case Act::SendEos:
            gst_element_send_event(pipeline_.get(), gst_event_new_eos());
            break;
        case Act::InjectEos:
            // The source has failed and may never send it: end the stream at
            // the muxer so it writes its index.
            gst_pad_send_event(muxPad_.get(), gst_event_new_eos());
            break;
        case Act::Finalize:
            Finalize();
            return std::nullopt;
        case Act::None:
            break;
    }
    return next;
}

void Clip::ForceEnd() {
    if (!IsDone()) Finalize();
}

void Clip::Finalize() {
    gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
    bool closedProperly = false;
    {
        std::lock_guard lock(m_);
        closedProperly = eos_ && !sinkFailed_;
    }
    SettleFile(closedProperly);
    {
        std::lock_guard lock(m_);
        state_ = State::Done;
        finished_ = steady_clock::now();
    }
    const ClipReport r = Report();
    if (r.error.isEmpty()) {
        // When the file really begins, for whoever compares clips with the schedule.
        const QString firstFrame =
            r.firstFrame ? QStringLiteral("; first frame %1 ms after the request")
                               .arg(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        *r.firstFrame - r.requested)
                                        .count())
                         : QString();
        qCInfo(lcCapture).noquote() << "Clip finished:" << r.file << "-" << r.frames << "frames,"
                                    << QString::number(r.seconds, 'f', 2) + " s" + firstFrame;
    } else {
        qCWarning(lcCapture).noquote()
            << "Clip ended by an error:" << r.file << "-" << r.frames << "frames,"
            << QString::number(r.seconds, 'f', 2) << "s kept;" << r.error;
    }
}

void Clip::SettleFile(bool closedProperly) {
    QString why;
    if (!file_->StillInPlace(&why)) {
        std::lock_guard lock(m_);
        if (error_.isEmpty()) error_ = why;
        return;
    }
    if (!closedProperly && frames_.load() > 0) {
        QFile f;
        AviRepair repaired;
        if (f.open(file_->descriptor(), QIODevice::ReadWrite | QIODevice::Unbuffered,
                   QFileDevice::DontCloseHandle))
            repaired = RepairAvi(f);
        if (repaired.ok) {
            qCInfo(lcCapture).noquote()
                << "Clip" << plan_.file << "closed with its index:" << repaired.frames
                << "whole frames kept";
        } else {
            qCWarning(lcCapture).noquote()
                << "Clip" << plan_.file << "could not be closed properly:" << repaired.error;
        }
        frames_ = repaired.frames;
    }
    const bool empty = frames_.load() == 0;
    if (empty) {
        file_->Remove();
        qCWarning(lcCapture).noquote() << "Clip" << plan_.file << "removed: it holds no frame";
    }
    std::lock_guard lock(m_);
    bytes_ = empty ? 0 : file_->Size();
    if (empty && error_.isEmpty()) error_ = QStringLiteral("no frame was recorded");
}

ClipReport Clip::Report() const {
    ClipReport r;
    r.file = plan_.file;
    r.frames = frames_.load();
    r.rate = plan_.format.outputRate;
    r.seconds = r.rate.num > 0 ? double(r.frames) * r.rate.den / r.rate.num : 0.0;
    std::lock_guard lock(m_);
    r.bytes = bytes_;
    r.error = error_;
    r.requested = requested_;
    r.firstFrame = firstFrame_;
    r.finishRequested = finishRequested_;
    r.finished = finished_;
    return r;
}

}  // namespace camwarden::capgst

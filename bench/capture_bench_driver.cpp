// Records clips through the production capture layer and prints what it
// cost: CPU and peak memory of the whole process, and per clip the time
// from the start request to the first frame reaching the muxer and from the
// stop request to the finished file. capture_bench.sh runs it beside
// gst-launch-1.0 doing the same work.

#include <sys/resource.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/gst/CaptureSettings.h"
#include "platform/gst/GstCaptureSystem.h"

using namespace camwarden;
using Clock = std::chrono::steady_clock;

namespace {

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double CpuSeconds() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_utime.tv_sec + ru.ru_utime.tv_usec / 1e6 + ru.ru_stime.tv_sec +
           ru.ru_stime.tv_usec / 1e6;
}

double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCommandLineParser cli;
    cli.addHelpOption();
    const QCommandLineOption camera("camera", "Camera: test, test-mjpeg or a device.", "name",
                                    "test");
    const QCommandLineOption width("width", "Picture width.", "px", "640");
    const QCommandLineOption height("height", "Picture height.", "px", "480");
    const QCommandLineOption fps("fps", "Frames per second.", "n", "30");
    const QCommandLineOption seconds("seconds", "Length of each clip.", "s", "20");
    const QCommandLineOption clips("clips", "Number of clips.", "n", "1");
    const QCommandLineOption encode("encode", "Encode even when the camera offers MJPEG.");
    const QCommandLineOption quality("quality", "JPEG quality.", "q", "85");
    const QCommandLineOption out("out", "Folder for the clips (default: a temporary one).", "dir");
    cli.addOptions({camera, width, height, fps, seconds, clips, encode, quality, out});
    cli.process(app);

    QString why;
    if (!InitGStreamer(&why)) {
        std::fprintf(stderr, "GStreamer: %s\n", qPrintable(why));
        return 2;
    }
    QTemporaryDir tmp;
    const QString folder = cli.isSet(out) ? cli.value(out) : tmp.path();
    const QString ini = tmp.filePath("Quillory.ini");
    capgst::DriverSettings settings;
    settings.width = cli.value(width).toInt();
    settings.height = cli.value(height).toInt();
    settings.passMjpeg = !cli.isSet(encode);
    settings.jpegQuality = cli.value(quality).toInt();
    capgst::SettingsLocation(ini).Save(settings);

    std::mutex m;
    std::condition_variable cv;
    std::vector<capgst::ClipReport> reports;
    {
        GstCaptureSystem system(cli.value(camera), ini);
        system.SetClipFinishedHandler([&](const capgst::ClipReport& r) {
            std::lock_guard lock(m);
            reports.push_back(r);
            cv.notify_all();
        });
        auto window = system.CreateCaptureWindow("SaveCam", nullptr);
        if (!window || !window->DriverConnect(0)) {
            std::fprintf(stderr, "camera %s cannot be connected\n", qPrintable(cli.value(camera)));
            return 1;
        }
        const int n = std::max(1, cli.value(clips).toInt());
        const auto length = std::chrono::milliseconds(qRound(cli.value(seconds).toDouble() * 1000));
        std::vector<double> firstFrame;
        std::vector<double> finish;
        double cpuRecording = 0;  // from started to stopped: no start-up, no finishing
        for (int i = 0; i < n; ++i) {
            window->SetCaptureFile(QDir(folder).filePath(QStringLiteral("clip-%1.avi").arg(i)));
            CaptureParms p;
            window->GetSequenceSetup(p);
            p.fYield = 1;
            p.fCaptureAudio = 0;
            p.dwRequestMicroSecPerFrame =
                capgst::MicroSecondsFromFrameRate({cli.value(fps).toInt(), 1});
            window->SetSequenceSetup(&p);
            const auto requested = Clock::now();
            if (!window->Sequence()) {
                std::fprintf(stderr, "clip %d did not start\n", i);
                return 1;
            }
            const double cpuBefore = CpuSeconds();
            std::this_thread::sleep_until(requested + length);
            const auto stopped = Clock::now();
            cpuRecording += CpuSeconds() - cpuBefore;
            window->Stop();
            std::unique_lock lock(m);
            if (!cv.wait_for(lock, std::chrono::seconds(10),
                             [&] { return reports.size() == size_t(i) + 1; })) {
                std::fprintf(stderr, "clip %d was not finished\n", i);
                return 1;
            }
            const auto& r = reports.back();
            if (!r.error.isEmpty() || !r.firstFrame) {
                std::fprintf(stderr, "clip %d failed: %s\n", i, qPrintable(r.error));
                return 1;
            }
            firstFrame.push_back(Ms(*r.firstFrame - requested));
            finish.push_back(Ms(r.finished - stopped));
        }
        window.reset();

        double recorded = 0;
        for (const auto& r : reports) recorded += r.seconds;
        rusage ru{};
        getrusage(RUSAGE_SELF, &ru);
        std::printf("clips=%d\nrecorded_s=%.3f\ncpu_s=%.3f\ncpu_recording_s=%.3f\n", n, recorded,
                    CpuSeconds(), cpuRecording);
        std::printf("first_frame_ms_median=%.1f\nfirst_frame_ms_max=%.1f\n", Median(firstFrame),
                    *std::max_element(firstFrame.begin(), firstFrame.end()));
        std::printf("finish_ms_median=%.1f\nfinish_ms_max=%.1f\n", Median(finish),
                    *std::max_element(finish.begin(), finish.end()));
        std::printf("peak_rss_mb=%.1f\n", ru.ru_maxrss / 1024.0);
    }
    return 0;
}

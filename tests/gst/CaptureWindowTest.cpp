#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <QtEndian>

#include <sys/stat.h>
#include <unistd.h>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <mutex>
#include <vector>

#include "AviProbe.h"
#include "platform/gst/Camera.h"
#include "platform/gst/GstCaptureSystem.h"
#include "storage/AviRepair.h"
#include "tests/gstfaults/FaultyCameras.h"

namespace camwarden {
namespace {

using namespace std::chrono_literals;
using capgst::ClipReport;
using testing::AviInfo;
using testing::ProbeAvi;

class TestCameraCapture : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }

    void MakeSystem(const QString& camera) {
        system_ = std::make_unique<GstCaptureSystem>(camera, dir_.filePath("Quillory.ini"));
        system_->SetClipFinishedHandler([this](const ClipReport& r) {
            std::lock_guard lock(m_);
            reports_.push_back(r);
        });
    }

    std::unique_ptr<CaptureWindow> Connected(const QString& camera) {
        if (!system_) MakeSystem(camera);
        auto w = system_->CreateCaptureWindow("SaveCam", nullptr);
        if (w && !w->DriverConnect(0)) return nullptr;
        return w;
    }

    // As the program prepares a clip: file, then the setup read, changed
    // and written back, then the empty block.
    static void Prepare(CaptureWindow& w, const QString& file, uint32_t usPerFrame = 66667,
                        uint32_t limitSeconds = 0) {
        ASSERT_TRUE(w.SetCaptureFile(file));
        CaptureParms p;
        ASSERT_TRUE(w.GetSequenceSetup(p));
        p.fYield = 1;
        p.fCaptureAudio = 0;
        p.dwRequestMicroSecPerFrame = usPerFrame;
        p.fLimitEnabled = limitSeconds > 0;
        p.wTimeLimit = limitSeconds;
        w.SetSequenceSetup(&p);
        w.SetSequenceSetup(nullptr);
    }

    std::vector<ClipReport> Reports() {
        std::lock_guard lock(m_);
        return reports_;
    }

    QString File(const char* name) { return dir_.filePath(QString::fromUtf8(name)); }

    static void ExpectFinishedMjpegAvi(const AviInfo& info) {
        ASSERT_TRUE(info.readable);
        EXPECT_EQ(info.container, "avi");
        EXPECT_EQ(info.videoStreams, 1);
        EXPECT_EQ(info.audioStreams, 0);
        EXPECT_EQ(info.codec, "mjpeg");
        EXPECT_GT(info.decodedFrames, 0);
        EXPECT_EQ(info.headerFrames, info.decodedFrames);
        EXPECT_TRUE(info.hasIndex);
        EXPECT_EQ(info.errors, "");
    }

    QTemporaryDir dir_;
    std::unique_ptr<GstCaptureSystem> system_;
    std::mutex m_;
    std::vector<ClipReport> reports_;
};

class BothCameraKinds : public TestCameraCapture,
                        public ::testing::WithParamInterface<const char*> {};

TEST_P(BothCameraKinds, TimeLimitedClipHasExactlyItsFramesAsMjpegWithoutAudio) {
    auto w = Connected(GetParam());
    ASSERT_TRUE(w);
    Prepare(*w, File("limited.avi"), 66667, 5);
    ASSERT_TRUE(w->Sequence());
    ASSERT_TRUE(system_->WaitUntilIdle(15s));

    const AviInfo info = ProbeAvi(File("limited.avi"));
    ExpectFinishedMjpegAvi(info);
    EXPECT_EQ(info.decodedFrames, 75);
    EXPECT_EQ(info.frameRate, "15/1");
    EXPECT_DOUBLE_EQ(info.duration, 5.0);
    EXPECT_EQ(info.width, 640);
    EXPECT_EQ(info.height, 480);
    // Encoded frames are 4:2:0, which every player reads.
    EXPECT_EQ(info.pixelFormat, "yuvj420p");
    const auto reports = Reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].frames, 75u);
    EXPECT_EQ(reports[0].error, "");
}

// Counted against the clip's own moments, so a slow start on a loaded
// machine does not count against it.
TEST_P(BothCameraKinds, StoppedClipHoldsItsFramesFromTheFirstToTheStop) {
    auto w = Connected(GetParam());
    ASSERT_TRUE(w);
    Prepare(*w, File("stopped.avi"), 33333);
    ASSERT_TRUE(w->Sequence());
    QTest::qWait(1000);
    EXPECT_TRUE(w->Stop());
    ASSERT_TRUE(system_->WaitUntilIdle(5s));

    const AviInfo info = ProbeAvi(File("stopped.avi"));
    ExpectFinishedMjpegAvi(info);
    EXPECT_EQ(info.frameRate, "30/1");
    const auto reports = Reports();
    ASSERT_EQ(reports.size(), 1u);
    const ClipReport& r = reports[0];
    ASSERT_TRUE(r.firstFrame && r.finishRequested);
    const double recorded =
        std::chrono::duration<double>(*r.finishRequested - *r.firstFrame).count();
    EXPECT_NEAR(double(info.decodedFrames), recorded * 30 + 1, 2.0);
    EXPECT_EQ(r.frames, uint64_t(info.decodedFrames));
}

TEST_P(BothCameraKinds, UnpluggedCameraEndsTheClipKeepingItAndCanRecordOnceBack) {
    auto w = Connected(GetParam());
    ASSERT_TRUE(w);
    Prepare(*w, File("unplugged.avi"));
    ASSERT_TRUE(w->Sequence());
    QTest::qWait(700);
    system_->SetTestCameraPlugged(false);
    ASSERT_TRUE(system_->WaitUntilIdle(5s));

    ExpectFinishedMjpegAvi(ProbeAvi(File("unplugged.avi")));
    auto reports = Reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].error, "");
    EXPECT_GT(reports[0].frames, 0u);

    // Gone: the connection test says so and no clip starts.
    EXPECT_FALSE(w->SetPreview(false));
    Prepare(*w, File("while-gone.avi"));
    EXPECT_FALSE(w->Sequence());
    EXPECT_FALSE(QFile::exists(File("while-gone.avi")));

    system_->SetTestCameraPlugged(true);
    EXPECT_TRUE(w->SetPreview(false));
    Prepare(*w, File("back.avi"), 66667, 1);
    ASSERT_TRUE(w->Sequence());
    ASSERT_TRUE(system_->WaitUntilIdle(5s));
    const AviInfo back = ProbeAvi(File("back.avi"));
    ExpectFinishedMjpegAvi(back);
    EXPECT_EQ(back.decodedFrames, 15);
}

TEST_P(BothCameraKinds, PictureControlsReachThePicture) {
    auto w = Connected(GetParam());
    ASSERT_TRUE(w);
    Prepare(*w, File("plain.avi"), 66667, 1);
    ASSERT_TRUE(w->Sequence());
    ASSERT_TRUE(system_->WaitUntilIdle(5s));
    {
        QSettings qs(dir_.filePath("Quillory.ini"), QSettings::IniFormat);
        qs.setValue("CaptureDriver/Controls/brightness", 60);
    }
    Prepare(*w, File("bright.avi"), 66667, 1);
    ASSERT_TRUE(w->Sequence());
    ASSERT_TRUE(system_->WaitUntilIdle(5s));

    const double plain = testing::MeanLuma(File("plain.avi"));
    const double bright = testing::MeanLuma(File("bright.avi"));
    ASSERT_GE(plain, 0);
    EXPECT_GT(bright, plain + 60);
}

INSTANTIATE_TEST_SUITE_P(TestCamera, BothCameraKinds, ::testing::Values("test", "test-mjpeg"));

// The test cameras are devices of their own provider: found by the device
// monitor, plugged and unplugged as webcams are.
std::vector<capgst::Camera> TestCameras(const GstCaptureSystem& system) {
    std::vector<capgst::Camera> out;
    for (const auto& c : system.Cameras()) {
        if (c.IsTest()) out.push_back(c);
    }
    return out;
}

TEST_F(TestCameraCapture, DiscoveryListsEachCameraOnceAsItComesAndGoes) {
    MakeSystem("test");
    auto cams = TestCameras(*system_);
    ASSERT_EQ(cams.size(), 1u);
    EXPECT_EQ(cams[0].path, "test");
    EXPECT_EQ(cams[0].name, "Camwarden test camera");

    system_->SetTestCameraPlugged("test-mjpeg", true);
    system_->SetTestCameraPlugged("test-mjpeg", true);
    cams = TestCameras(*system_);
    ASSERT_EQ(cams.size(), 2u);
    // A second watcher of the same devices does not make them twice.
    GstCaptureSystem other("", File("other.ini"));
    EXPECT_EQ(TestCameras(other).size(), 2u);

    system_->SetTestCameraPlugged(false);
    cams = TestCameras(*system_);
    ASSERT_EQ(cams.size(), 1u);
    EXPECT_EQ(cams[0].path, "test-mjpeg");
}

TEST_F(TestCameraCapture, SavedChoiceIsTheCameraRecordedFromEvenOnAnotherNode) {
    {
        // Saved when the MJPEG camera had the node the other one has now.
        QSettings qs(dir_.filePath("Quillory.ini"), QSettings::IniFormat);
        qs.setValue("CaptureDriver/Device", "test");
        qs.setValue("CaptureDriver/DeviceName", "Camwarden test camera (MJPEG)");
        qs.setValue("CaptureDriver/DeviceId", "camwarden-test-mjpeg");
    }
    MakeSystem("");
    system_->SetTestCameraPlugged("test", true);
    system_->SetTestCameraPlugged("test-mjpeg", true);
    auto w = system_->CreateCaptureWindow("SaveCam", nullptr);
    ASSERT_TRUE(w && w->DriverConnect(0));
    Prepare(*w, File("saved.avi"));
    ASSERT_TRUE(w->Sequence());
    QTest::qWait(700);
    // Unplugging the other camera leaves the clip alone; unplugging the
    // chosen one ends it.
    system_->SetTestCameraPlugged("test", false);
    QTest::qWait(300);
    EXPECT_TRUE(Reports().empty());
    system_->SetTestCameraPlugged("test-mjpeg", false);
    ASSERT_TRUE(system_->WaitUntilIdle(5s));
    ASSERT_EQ(Reports().size(), 1u);
    EXPECT_NE(Reports()[0].error, "");
    ExpectFinishedMjpegAvi(ProbeAvi(File("saved.avi")));
}

TEST_F(TestCameraCapture, CamerasComingAndGoingMidRunAreFollowedClipByClip) {
    MakeSystem("");
    if (!system_->Cameras().empty()) GTEST_SKIP() << "a camera is attached to this machine";
    auto w = system_->CreateCaptureWindow("SaveCam", nullptr);
    ASSERT_TRUE(w);
    EXPECT_FALSE(w->DriverConnect(0));

    system_->SetTestCameraPlugged("test-mjpeg", true);
    ASSERT_TRUE(w->DriverConnect(0));
    Prepare(*w, File("unplugged.avi"));
    ASSERT_TRUE(w->Sequence());
    QTest::qWait(700);
    system_->SetTestCameraPlugged("test-mjpeg", false);
    ASSERT_TRUE(system_->WaitUntilIdle(5s));
    ExpectFinishedMjpegAvi(ProbeAvi(File("unplugged.avi")));

    // A clip falling due with no camera is refused, and the next one tries again.
    Prepare(*w, File("none.avi"));
    EXPECT_FALSE(w->Sequence());
    EXPECT_FALSE(QFile::exists(File("none.avi")));
    system_->SetTestCameraPlugged("test", true);
    Prepare(*w, File("next.avi"), 66667, 1);
    ASSERT_TRUE(w->Sequence());
    ASSERT_TRUE(system_->WaitUntilIdle(5s));
    const AviInfo next = ProbeAvi(File("next.avi"));
    ExpectFinishedMjpegAvi(next);
    EXPECT_EQ(next.decodedFrames, 15);
}

TEST_F(TestCameraCapture, MjpegCameraIsEncodedAfreshWhenPassingThroughIsOff) {
    {
        QSettings qs(dir_.filePath("Quillory.ini"), QSettings::IniFormat);
        qs.setValue("CaptureDriver/PassMjpeg", false);
        qs.setValue("CaptureDriver/Width", 320);
        qs.setValue("CaptureDriver/Height", 240);
    }
    auto w = Connected("test-mjpeg");
    ASSERT_TRUE(w);
    Prepare(*w, File("encoded.avi"), 100000, 1);
    ASSERT_TRUE(w->Sequence());
    ASSERT_TRUE(system_->WaitUntilIdle(10s));
    const AviInfo info = ProbeAvi(File("encoded.avi"));
    ExpectFinishedMjpegAvi(info);
    EXPECT_EQ(info.width, 320);
    EXPECT_EQ(info.decodedFrames, 10);
    EXPECT_EQ(info.frameRate, "10/1");
}

TEST_F(TestCameraCapture, EveryWayOfEndingLeavesAFinishedFile) {
    auto w = Connected("test");
    ASSERT_TRUE(w);

    Prepare(*w, File("stop.avi"));
    ASSERT_TRUE(w->Sequence());
    QTest::qWait(700);
    w->Stop();

    Prepare(*w, File("close.avi"));
    ASSERT_TRUE(w->Sequence());  // the stopped clip may still be finishing
    QTest::qWait(700);
    w->Close();

    ASSERT_TRUE(w->DriverConnect(0));
    Prepare(*w, File("gone.avi"));
    ASSERT_TRUE(w->Sequence());
    QTest::qWait(700);
    w.reset();  // window destroyed mid-clip

    ASSERT_TRUE(system_->WaitUntilIdle(5s));
    for (const char* f : {"stop.avi", "close.avi", "gone.avi"}) {
        SCOPED_TRACE(f);
        ExpectFinishedMjpegAvi(ProbeAvi(File(f)));
    }
    EXPECT_EQ(Reports().size(), 3u);
}

TEST_F(TestCameraCapture, QuittingWaitsForClipsBeingFinished) {
    auto w = Connected("test-mjpeg");
    ASSERT_TRUE(w);
    Prepare(*w, File("quit.avi"));
    ASSERT_TRUE(w->Sequence());
    QTest::qWait(500);
    w->Stop();
    w.reset();
    system_.reset();  // returns only once the file is finished
    ExpectFinishedMjpegAvi(ProbeAvi(File("quit.avi")));
}

// Each request gets its own file, so a clip is never longer than the time
// between two requests, and the one asked for later starts as soon as the
// earlier one has let go of the camera.
TEST_F(TestCameraCapture, ARequestWhileRecordingFinishesThatClipAndStartsItsOwn) {
    auto w = Connected("test");
    ASSERT_TRUE(w);
    Prepare(*w, File("first.avi"));
    ASSERT_TRUE(w->Sequence());
    QTest::qWait(1000);
    Prepare(*w, File("second.avi"));
    EXPECT_TRUE(w->Sequence());
    QTest::qWait(1000);
    w->Stop();
    ASSERT_TRUE(system_->WaitUntilIdle(5s));
    const auto reports = Reports();
    ASSERT_EQ(reports.size(), 2u);
    for (const ClipReport& r : reports) {
        SCOPED_TRACE(r.file.toStdString());
        EXPECT_EQ(r.error, "");
        const AviInfo info = ProbeAvi(r.file);
        ExpectFinishedMjpegAvi(info);
        // About a second each, however the two are spaced on a busy machine.
        EXPECT_LT(info.duration, 2.5);
    }
    ASSERT_TRUE(reports[0].finished <= *reports[1].firstFrame) << "one camera, one clip at a time";
}

TEST_F(TestCameraCapture, FileThatCannotBeCreatedIsReportedAndTheNextClipRecords) {
    auto w = Connected("test");
    ASSERT_TRUE(w);
    QStringList failures;
    system_->SetClipFailedHandler([&](const QString& file, const QString& why, bool latest) {
        failures << file + (latest ? " (latest): " : ": ") + why;
    });
    const QString missing = dir_.filePath("missing/SS 2022-01-05 09-03-07.avi");
    Prepare(*w, missing);
    EXPECT_TRUE(w->Sequence());
    EXPECT_TRUE(system_->WaitUntilIdle(5s));
    EXPECT_FALSE(QDir(dir_.filePath("missing")).exists());
    QTest::qWait(50);
    ASSERT_EQ(failures.size(), 1);
    EXPECT_TRUE(failures[0].startsWith(missing + " (latest): ")) << failures[0].toStdString();

    // Refusing one file does not stop the next clip.
    Prepare(*w, File("after.avi"), 66667, 1);
    EXPECT_TRUE(w->Sequence());
    ASSERT_TRUE(system_->WaitUntilIdle(5s));
    ExpectFinishedMjpegAvi(ProbeAvi(File("after.avi")));
    QTest::qWait(50);
    EXPECT_EQ(failures.size(), 1);
}

TEST_F(TestCameraCapture, MissingCameraIsRefused) {
    MakeSystem("/dev/video99");
    auto w = system_->CreateCaptureWindow("SaveCam", nullptr);
    ASSERT_TRUE(w);
    EXPECT_FALSE(w->DriverConnect(0));
    EXPECT_FALSE(w->SetPreview(false));
    Prepare(*w, File("none.avi"));
    EXPECT_FALSE(w->Sequence());
    EXPECT_FALSE(QFile::exists(File("none.avi")));
    EXPECT_FALSE(w->DlgVideoSource());
    EXPECT_FALSE(w->DlgVideoFormat());
    EXPECT_FALSE(w->DlgVideoCompression());
}

TEST_F(TestCameraCapture, SequenceSetupIsKeptAsWritten) {
    auto w = Connected("test");
    ASSERT_TRUE(w);
    CaptureParms p;
    ASSERT_TRUE(w->GetSequenceSetup(p));
    EXPECT_EQ(p, CaptureParms{});
    p.fYield = 1;
    p.fCaptureAudio = 0;
    p.wTimeLimit = 12;
    w->SetSequenceSetup(&p);
    w->SetSequenceSetup(nullptr);  // an empty block changes nothing
    CaptureParms back;
    ASSERT_TRUE(w->GetSequenceSetup(back));
    EXPECT_EQ(back, p);
}

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

TEST_F(TestCameraCapture, ATakenNameOrALinkIsNeverWrittenOver) {
    // Clocks go back (the end of summer time): the name of a clip may be taken.
    const QString taken = File("SS 2022-10-30 02-30-00.avi");
    const QString link = File("SS 2022-10-30 02-30-00 (2).avi");
    const QString target = File("elsewhere.txt");
    {
        QFile f(taken);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("an earlier clip");
    }
    {
        QFile f(target);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("not a clip");
    }
    ASSERT_TRUE(QFile::link(target, link));
    auto w = Connected("test");
    ASSERT_TRUE(w);
    Prepare(*w, taken, 66667, 1);
    ASSERT_TRUE(w->Sequence());
    ASSERT_TRUE(system_->WaitUntilIdle(5s));

    EXPECT_EQ(ReadAll(taken), "an earlier clip");
    EXPECT_EQ(ReadAll(target), "not a clip");
    const QString numbered = File("SS 2022-10-30 02-30-00 (3).avi");
    ExpectFinishedMjpegAvi(ProbeAvi(numbered));
    ASSERT_EQ(Reports().size(), 1u);
    EXPECT_EQ(Reports()[0].file, numbered);
}

TEST_F(TestCameraCapture, AFileRemovedWhileRecordingIsAFailureNotAClip) {
    auto w = Connected("test");
    ASSERT_TRUE(w);
    QStringList failures;
    system_->SetClipFailedHandler(
        [&](const QString& file, const QString& why, bool) { failures << file + ": " + why; });
    Prepare(*w, File("vanishing.avi"));
    ASSERT_TRUE(w->Sequence());
    QTest::qWait(500);
    ASSERT_TRUE(QFile::remove(File("vanishing.avi")));
    w->Stop();
    ASSERT_TRUE(system_->WaitUntilIdle(5s));
    ASSERT_EQ(Reports().size(), 1u);
    EXPECT_THAT(Reports()[0].error.toStdString(), ::testing::HasSubstr("removed"));
    // Handed to the window's thread, not called from the capture thread.
    EXPECT_TRUE(failures.isEmpty());
    QTest::qWait(50);
    EXPECT_EQ(failures.size(), 1);

    // A clip that ends as asked is no failure.
    Prepare(*w, File("kept.avi"), 66667, 1);
    ASSERT_TRUE(w->Sequence());
    ASSERT_TRUE(system_->WaitUntilIdle(5s));
    QTest::qWait(50);
    EXPECT_EQ(failures.size(), 1);
}

// Stopped the moment it started, while the pipeline is still on its way to
// playing: the ending must not wait on that state change, which once held
// the worker, and with it quitting, for good.
TEST_F(TestCameraCapture, AClipStoppedAsItStartsIsDoneWithinItsBound) {
    auto w = Connected("test");
    ASSERT_TRUE(w);
    for (int i = 0; i < 12; ++i) {
        SCOPED_TRACE(i);
        Prepare(*w, File(QStringLiteral("at-once-%1.avi").arg(i).toUtf8().constData()));
        ASSERT_TRUE(w->Sequence());
        if (i % 2) QTest::qWait(i);
        w->Stop();
        ASSERT_TRUE(system_->WaitUntilIdle(capgst::Clip::kFinishBound + 1s));
    }
    for (const QString& f : QDir(dir_.path()).entryList({"*.avi"}, QDir::Files)) {
        SCOPED_TRACE(f.toStdString());
        ExpectFinishedMjpegAvi(ProbeAvi(dir_.filePath(f)));
    }
}

// Cameras that misbehave as real ones do, from the tests' own device
// provider: the pipeline has no idea it is being tested.
class FaultyCamera : public TestCameraCapture {
protected:
    void SetUp() override {
        TestCameraCapture::SetUp();
        ASSERT_TRUE(InitGStreamer());
        ASSERT_TRUE(faults::RegisterFaultyCameras());
        faults::ResetFaultyCameras();
    }
    void TearDown() override {
        // Lets every thread a stuck camera holds end before the next test.
        faults::ReleaseStuckCameras();
        if (system_) system_->WaitUntilIdle(5s);
        system_.reset();
        for (const char* knob :
             {"CAMWARDEN_FAULT_STALL_MS", "CAMWARDEN_FAULT_BACK_MS", "CAMWARDEN_FAULT_DEAD_MS"})
            qunsetenv(knob);
    }

    // Failures as the window hears of them, "file: why".
    QStringList& Failures() {
        system_->SetClipFailedHandler([this](const QString& file, const QString& why, bool) {
            failures_ << file + ": " + why;
        });
        return failures_;
    }

    QStringList failures_;
};

TEST_F(FaultyCamera, AClipWhoseEndNeverComesIsClosedWithinItsBound) {
    auto w = Connected("fault-noeos");
    ASSERT_TRUE(w);
    Prepare(*w, File("stuck.avi"));
    ASSERT_TRUE(w->Sequence());
    QTest::qWait(700);
    w->Stop();
    ASSERT_TRUE(system_->WaitUntilIdle(capgst::Clip::kFinishBound + 2s));

    const auto reports = Reports();
    ASSERT_EQ(reports.size(), 1u);
    ASSERT_TRUE(reports[0].finishRequested);
    const auto took = reports[0].finished - *reports[0].finishRequested;
    EXPECT_GE(took, capgst::Clip::kFinishBound - 100ms) << "the end was indeed held up";
    const AviInfo info = ProbeAvi(File("stuck.avi"));
    ExpectFinishedMjpegAvi(info);
    EXPECT_EQ(reports[0].frames, uint64_t(info.decodedFrames));
}

// A device that never lets go: quitting leaves it behind instead of
// waiting for it, and the file it wrote is already finished.
TEST_F(FaultyCamera, QuittingWithACameraThatNeverLetsGoReturnsWithinItsBound) {
    auto w = Connected("fault-stuck");
    ASSERT_TRUE(w);
    Prepare(*w, File("stuck-at-quit.avi"));
    ASSERT_TRUE(w->Sequence());
    QTest::qWait(700);
    w.reset();
    QElapsedTimer quitting;
    quitting.start();
    EXPECT_FALSE(system_->Shutdown()) << "the clip was left behind";
    // The camera never lets go, so a wait for it would never end; a busy
    // machine may take ten times the bound.
    EXPECT_LT(quitting.elapsed(), (10 * GstCaptureSystem::kQuitBound).count());
    ExpectFinishedMjpegAvi(ProbeAvi(File("stuck-at-quit.avi")));
    ASSERT_EQ(Reports().size(), 1u);
    EXPECT_EQ(Reports()[0].error, "");
}

// Whatever name it was given, a clip that cannot start removes nothing but
// what it made itself, and says so once.
TEST_F(FaultyCamera, AFailedStartLeavesTheFilesThatWereThereAsTheyWere) {
    const QString taken = File("SS 2022-01-05 09-03-07.avi");
    {
        QFile f(taken);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("an earlier clip");
    }
    auto w = Connected("fault-fail");
    ASSERT_TRUE(w);
    QStringList& failures = Failures();
    Prepare(*w, taken);
    EXPECT_TRUE(w->Sequence());
    ASSERT_TRUE(system_->WaitUntilIdle(5s));
    Prepare(*w, File("fresh.avi"));
    EXPECT_TRUE(w->Sequence());
    ASSERT_TRUE(system_->WaitUntilIdle(5s));
    EXPECT_EQ(ReadAll(taken), "an earlier clip");
    EXPECT_EQ(QDir(dir_.path()).entryList({"*.avi"}, QDir::Files),
              QStringList{QFileInfo(taken).fileName()});
    QTest::qWait(50);
    EXPECT_EQ(failures.size(), 2) << failures.join('\n').toStdString();
}

// A camera gone quiet, or gone from the device list, ends its clip as a
// failure: the file keeps what it had, the failure is told once, and the
// next clip records.
TEST_F(FaultyCamera, ACameraThatStopsDeliveringOrVanishesEndsItsClipKeepingWhatItHas) {
    qputenv("CAMWARDEN_FAULT_STALL_MS", "1000");
    qputenv("CAMWARDEN_FAULT_BACK_MS", "1500");
    struct Case {
        const char* camera;
        const char* why;
    };
    for (const Case c : {Case{"fault-stall", "no frame reached the file"},
                         Case{"fault-vanish", "the camera is gone"}}) {
        SCOPED_TRACE(c.camera);
        system_.reset();
        reports_.clear();
        failures_.clear();
        auto w = Connected(c.camera);
        ASSERT_TRUE(w);
        QStringList& failures = Failures();
        const QString cut = File((std::string(c.camera) + "-cut.avi").c_str());
        Prepare(*w, cut);
        ASSERT_TRUE(w->Sequence());
        ASSERT_TRUE(system_->WaitUntilIdle(capgst::Clip::kStallFloor + 5s));
        auto reports = Reports();
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_THAT(reports[0].error.toStdString(), ::testing::HasSubstr(c.why));
        const AviInfo info = ProbeAvi(cut);
        ExpectFinishedMjpegAvi(info);
        EXPECT_NEAR(info.decodedFrames, 15, 3) << "a second's worth";
        QTest::qWait(50);
        EXPECT_EQ(failures.size(), 1) << failures.join('\n').toStdString();

        // The vanished camera is back a moment later.
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                const auto listed = system_->Cameras();
                return std::any_of(listed.begin(), listed.end(),
                                   [&](const capgst::Camera& cam) { return cam.path == c.camera; });
            },
            30000));
        ASSERT_TRUE(w->SetPreview(false));
        const QString next = File((std::string(c.camera) + "-next.avi").c_str());
        Prepare(*w, next, 66667, 1);
        ASSERT_TRUE(w->Sequence());
        ASSERT_TRUE(system_->WaitUntilIdle(5s));
        EXPECT_EQ(ProbeAvi(next).decodedFrames, 15);
    }
}

// A camera whose start hangs holds up its own clip and nothing else: the
// request returns at once, the next request is told the camera is still
// held, and both are reported.
TEST_F(FaultyCamera, ACameraThatNeverStartsHoldsUpNothingButItsOwnClip) {
    // Hangs until this test lets it go, once both requests have returned
    // and the second has been told: a request that waited for it would not.
    qputenv("CAMWARDEN_FAULT_DEAD_MS", "600000");
    auto w = Connected("fault-dead");
    ASSERT_TRUE(w);
    QStringList& failures = Failures();
    Prepare(*w, File("dead-1.avi"));
    ASSERT_TRUE(w->Sequence());
    QTest::qWait(500);
    Prepare(*w, File("dead-2.avi"));
    ASSERT_TRUE(w->Sequence());
    EXPECT_TRUE(QTest::qWaitFor([&] { return failures.join('\n').contains("still held"); }, 60000));
    faults::ReleaseStuckCameras();
    ASSERT_TRUE(system_->WaitUntilIdle(10s));
    QTest::qWait(50);
    ASSERT_EQ(failures.size(), 2) << failures.join('\n').toStdString();
    EXPECT_THAT(failures.join('\n').toStdString(), ::testing::HasSubstr("still held"));
    EXPECT_TRUE(QDir(dir_.path()).entryList({"*.avi"}, QDir::Files).isEmpty());
}

// The index entries of a finished file, 16 bytes each.
QByteArray IndexOf(const QByteArray& avi) {
    const qsizetype at = avi.lastIndexOf("idx1");
    if (at < 0) return {};
    const quint32 size = qFromLittleEndian<quint32>(avi.constData() + at + 4);
    return avi.mid(at + 8, size);
}

// A writer cut off mid-frame (disk full) leaves no index; the repair keeps
// every whole frame and writes the index exactly as the muxer would have.
TEST_F(TestCameraCapture, ACutOffFileIsRepairedToItsWholeFrames) {
    auto w = Connected("test");
    ASSERT_TRUE(w);
    Prepare(*w, File("whole.avi"), 66667, 1);
    ASSERT_TRUE(w->Sequence());
    ASSERT_TRUE(system_->WaitUntilIdle(5s));
    const QByteArray whole = ReadAll(File("whole.avi"));
    const QByteArray index = IndexOf(whole);
    ASSERT_EQ(index.size(), 15 * 16);
    // Cut in the middle of the tenth frame.
    const quint32 tenth = qFromLittleEndian<quint32>(index.constData() + 9 * 16 + 8);
    const auto repair = [&](qsizetype keep) {
        QFile f(File("cut.avi"));
        EXPECT_TRUE(f.open(QIODevice::ReadWrite | QIODevice::Truncate));
        f.write(whole.left(keep));
        f.flush();
        return store::RepairAvi(f);
    };

    const store::AviRepair r = repair(tenth + 100);
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    EXPECT_EQ(r.frames, 9u);
    const QByteArray repaired = ReadAll(File("cut.avi"));
    EXPECT_EQ(IndexOf(repaired), index.left(9 * 16));
    EXPECT_EQ(repaired.size(), tenth + 8 + 9 * 16);
    const AviInfo info = ProbeAvi(File("cut.avi"));
    ExpectFinishedMjpegAvi(info);
    EXPECT_EQ(info.decodedFrames, 9);
    EXPECT_DOUBLE_EQ(info.duration, 9 / 15.0);

    // A finished file comes through unchanged.
    EXPECT_EQ(repair(whole.size()).frames, 15u);
    EXPECT_EQ(ReadAll(File("cut.avi")), whole);
    // Nothing past the header: no frame; no header: not an AVI.
    const quint32 first = qFromLittleEndian<quint32>(index.constData() + 8);
    EXPECT_EQ(repair(first + 4).frames, 0u);
    EXPECT_FALSE(repair(100).ok);
}

// FIFOs and file owners are POSIX's; on Windows tests/win checks the same.
#ifndef _WIN32
// A clip is listed while it records; a run killed mid-clip leaves it listed,
// and the next run repairs what is listed and is one of its clips: a crash
// image comes out playable, a file that is no AVI stays as it was, byte for
// byte, and whatever is not a plain file of the user's named as a clip is
// left alone. A clip whose folder is not there stays listed.
TEST_F(TestCameraCapture, ClipsLeftUnfinishedAreRepairedByTheNextRun) {
    const QString journal = File("unfinished-clips.json");
    auto w = Connected("test");
    ASSERT_TRUE(w);
    Prepare(*w, File("running.avi"), 66667, 3);
    ASSERT_TRUE(w->Sequence());
    QTest::qWait(1500);
    const QByteArray listed = ReadAll(journal);
    EXPECT_TRUE(listed.contains(File("running.avi").toUtf8())) << listed.toStdString();
    // What a power cut would leave: the file as it stands on disk now.
    const QByteArray image = ReadAll(File("running.avi"));
    ASSERT_TRUE(system_->WaitUntilIdle(10s));
    EXPECT_FALSE(QFile::exists(journal)) << "a finished clip is no longer listed";

    const auto write = [](const QString& path, const QByteArray& bytes) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    };
    const QByteArray notAvi(4096, 'x');
    const QString crash = File("SS 2026-01-05 09-00-00.avi");
    const QString broken = File("SS 2026-01-05 09-00-01.avi");
    const QString empty = File("SS 2026-01-05 09-00-02.avi");
    const QString fifo = File("SS 2026-01-05 09-00-03.avi");
    const QString link = File("SS 2026-01-05 09-00-04.avi");
    const QString others = File("SS 2026-01-05 09-00-05.avi");
    const QString notNamed = File("holiday.avi");
    const QString away = File("away/SS 2026-01-05 09-00-06.avi");
    write(crash, image);
    write(broken, notAvi);
    write(File("other.avi"), image);  // not listed: never touched
    write(empty, {});                 // a camera that never delivered, then a crash
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    ASSERT_TRUE(QFile::link(File("other.avi"), link));
    write(others, image);
    // As root the file is made another user's; otherwise it is one already.
    const bool othersIsOthers = ::chown(QFile::encodeName(others).constData(), 4242, 4242) == 0;
    write(notNamed, image);
    QStringList planted = {crash,    broken, File("SS 2026-01-05 09-00-07.avi"), empty, fifo, link,
                           notNamed, away};
    if (othersIsOthers) planted << others;
    write(journal, QJsonDocument(QJsonArray::fromStringList(planted)).toJson());
    w.reset();
    system_.reset();
    MakeSystem("test");
    ASSERT_TRUE(system_->WaitUntilIdle(10s));

    const AviInfo info = ProbeAvi(crash);
    ExpectFinishedMjpegAvi(info);
    // About a second of 15 fps had reached the disk.
    EXPECT_GE(info.decodedFrames, 5);
    EXPECT_EQ(ReadAll(broken), notAvi);
    EXPECT_EQ(ReadAll(File("other.avi")), image);
    EXPECT_FALSE(QFile::exists(empty));
    EXPECT_TRUE(QFileInfo(fifo).exists() && !QFileInfo(fifo).isFile());
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(ReadAll(others), image);
    EXPECT_EQ(ReadAll(notNamed), image);
    EXPECT_EQ(QJsonDocument::fromJson(ReadAll(journal)).array(),
              QJsonArray::fromStringList({away}));
}

#endif

}  // namespace
}  // namespace camwarden

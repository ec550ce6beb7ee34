#include "gst/AviProbe.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <cstring>

namespace camwarden::testing {
namespace {

// The real program, offscreen, on the test camera, with its own config home.
class ScheduledRun : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(QDir(root.path()).mkpath("config/Quillory"));
        ASSERT_TRUE(QDir(root.path()).mkpath("home"));
        ASSERT_TRUE(QDir(root.path()).mkpath("runtime"));
        ASSERT_TRUE(QDir(root.path()).mkpath("clips"));
        QFile::setPermissions(root.filePath("runtime"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QFile ini(IniPath());
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write(
            ("[Camwarden]\nOftenIndex=1\nOftenIndex1=1\nReturnSecondsRec=5\n"
             "StartStopState=On\nPath=" +
             Clips().toUtf8() + "\n"));
    }

    QString IniPath() const { return root.filePath("config/Quillory/Quillory.ini"); }
    QString Clips() const { return root.filePath("clips") + '/'; }

    void Start(QProcess& p, const QMap<QString, QString>& extra = {}) const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (auto it = extra.begin(); it != extra.end(); ++it) env.insert(it.key(), it.value());
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("XDG_CONFIG_HOME", root.filePath("config"));
        env.insert("HOME", root.filePath("home"));
        env.insert("XDG_RUNTIME_DIR", root.filePath("runtime"));
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(QStringLiteral(CAMWARDEN_BINARY), {"--camera", "test"});
    }

    // Reads the program's output into `log` until `text` has appeared
    // `times` times; false when it has not within `ms`.
    static bool WaitForLog(QProcess& p, QString& log, const QString& text, int times, int ms) {
        QElapsedTimer clock;
        clock.start();
        while (log.count(text) < times) {
            if (clock.elapsed() > ms || p.state() == QProcess::NotRunning) return false;
            p.waitForReadyRead(200);
            log += QString::fromLocal8Bit(p.readAll());
        }
        return true;
    }

    // Ends the program with `sig`, sent `times` times in a row; true when it
    // then closed normally. The rest of its output is added to `log`.
    static bool EndWith(QProcess& p, QString& log, int sig, int times) {
        for (int i = 0; i < times; ++i) ::kill(static_cast<pid_t>(p.processId()), sig);
        const bool ended = p.waitForFinished(60000);
        log += QString::fromLocal8Bit(p.readAll());
        return ended && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    }

    // Whether the program handles `sig` itself yet, as /proc tells.
    static bool Catches(const QProcess& p, int sig) {
        QFile status(QStringLiteral("/proc/%1/status").arg(p.processId()));
        if (!status.open(QIODevice::ReadOnly)) return false;
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.startsWith("SigCgt:"))
                return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (sig - 1)) & 1;
        return false;
    }

    static QMap<QString, QString> Settings(const QString& path) {
        QSettings s(path, QSettings::IniFormat);
        QMap<QString, QString> all;
        for (const QString& key : s.allKeys()) all.insert(key, s.value(key).toString());
        return all;
    }

    QTemporaryDir root;
};

TEST_F(ScheduledRun, RecordsEveryIntervalFinishesOnSigtermAndKeepsOneInstance) {
    const QMap<QString, QString> before = Settings(IniPath());
    QProcess program;
    Start(program);
    ASSERT_TRUE(program.waitForStarted(10000));

    // Started again while the first records.
    QString log;
    ASSERT_TRUE(WaitForLog(program, log, QStringLiteral("Clip started"), 1, 120000))
        << log.toStdString();
    QProcess second;
    Start(second);
    QElapsedTimer secondClock;
    secondClock.start();
    ASSERT_TRUE(second.waitForFinished(10000)) << "a second start must end by itself";
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    const QList<QByteArray> said = second.readAll().trimmed().split('\n');
    EXPECT_EQ(said.size(), 1) << "it shows nothing and says why in one line";
    EXPECT_TRUE(said.value(0).contains("another copy of the program holds " +
                                       root.filePath("runtime/camwarden.lock").toUtf8()))
        << said.value(0).toStdString();
    EXPECT_EQ(program.state(), QProcess::Running);

    // Ended once the second clip is finished, by the program's own word:
    // a fixed wait would cut the second clip short on a loaded machine.
    WaitForLog(program, log, QStringLiteral("Clip finished"), 2, 90000);
    EXPECT_TRUE(EndWith(program, log, SIGTERM, 1)) << log.toStdString();

    const QStringList clips = QDir(Clips()).entryList({"*.avi"}, QDir::Files, QDir::Name);
    ASSERT_EQ(clips.size(), 2) << log.toStdString();
    static const QRegularExpression name(
        QStringLiteral("^SS \\d{4}-\\d\\d-\\d\\d \\d\\d-\\d\\d-\\d\\d\\.avi$"));
    for (const QString& clip : clips) {
        EXPECT_TRUE(name.match(clip).hasMatch()) << clip.toStdString();
        const AviInfo info = ProbeAvi(Clips() + clip);
        ASSERT_TRUE(info.readable) << clip.toStdString();
        EXPECT_EQ(info.codec, QStringLiteral("mjpeg"));
        EXPECT_EQ(info.audioStreams, 0);
        EXPECT_TRUE(info.hasIndex) << "a finished file";
        EXPECT_NEAR(info.duration, 5.0, 0.6) << clip.toStdString();
    }
    const QDateTime first = QDateTime::fromString(clips[0].mid(3, 19), "yyyy-MM-dd hh-mm-ss");
    const QDateTime second2 = QDateTime::fromString(clips[1].mid(3, 19), "yyyy-MM-dd hh-mm-ss");
    // The next due time: after the first clip, not an interval later. How
    // closely clips keep the interval is bench/schedule_bench.sh's to say.
    EXPECT_GT(first.secsTo(second2), 5);
    EXPECT_LT(first.secsTo(second2), 20);

    const QMap<QString, QString> after = Settings(IniPath());
    EXPECT_EQ(after, before) << "start-up stores the same Path back; nothing else changes";
}

// Ctrl+C and a closed terminal end the run like the close box: once, with
// the clip being recorded finished, however often the signal comes.
TEST_F(ScheduledRun, InterruptAndHangUpCloseOnceEvenWhenSentTwice) {
    for (const int sig : {SIGINT, SIGHUP}) {
        SCOPED_TRACE(strsignal(sig));
        QProcess program;
        Start(program);
        ASSERT_TRUE(program.waitForStarted(10000));
        QString log;
        ASSERT_TRUE(WaitForLog(program, log, QStringLiteral("Clip started"), 1, 60000))
            << log.toStdString();
        ASSERT_TRUE(EndWith(program, log, sig, 2)) << log.toStdString();
        EXPECT_EQ(log.count(QStringLiteral("closing")), 1) << log.toStdString();
        for (const QString& clip : QDir(Clips()).entryList({"*.avi"}, QDir::Files)) {
            const AviInfo info = ProbeAvi(Clips() + clip);
            EXPECT_TRUE(info.readable && info.hasIndex) << clip.toStdString();
            EXPECT_EQ(info.headerFrames, info.decodedFrames) << clip.toStdString();
            ASSERT_TRUE(QFile::remove(Clips() + clip));
        }
    }
}

// A start-up held up by a camera service that does not answer: one Ctrl+C
// closes the program once start-up is over, a second one ends it at once
// (that start-up hangs ten minutes).
TEST_F(ScheduledRun, ASecondInterruptEndsAStartUpThatHangs) {
    for (const int times : {1, 2}) {
        SCOPED_TRACE(times);
        const QMap<QString, QString> slowCameras{
            {"GST_PLUGIN_PATH", QStringLiteral(CAMWARDEN_FAULT_PLUGINS)},
            {"CAMWARDEN_FAULT_PROVIDER_START_MS", times == 1 ? "4000" : "600000"}};
        QProcess program;
        Start(program, slowCameras);
        ASSERT_TRUE(program.waitForStarted(10000));
        // Its handler is in place before the camera service is asked.
        ASSERT_TRUE(QTest::qWaitFor([&] { return Catches(program, SIGINT); }, 60000));
        ASSERT_EQ(program.state(), QProcess::Running);
        QElapsedTimer ending;
        ending.start();
        QString log;
        // As a user presses Ctrl+C again: two signals sent at once may
        // arrive as one.
        if (times == 2) {
            ::kill(static_cast<pid_t>(program.processId()), SIGINT);
            QTest::qWait(300);
        }
        const bool clean = EndWith(program, log, SIGINT, 1);
        if (times == 1) {
            EXPECT_TRUE(clean) << log.toStdString();
            EXPECT_EQ(log.count(QStringLiteral("closing")), 1) << log.toStdString();
        } else {
            EXPECT_FALSE(clean);
            EXPECT_LT(ending.elapsed(), 20000) << "start-up was not waited for";
            EXPECT_TRUE(log.contains(QStringLiteral("second signal while still starting up")))
                << log.toStdString();
            EXPECT_FALSE(log.contains(QStringLiteral(" ready"))) << log.toStdString();
        }
    }
}

// A run killed outright leaves its lock behind; the next start at log-on
// must take it over rather than think another copy is running.
TEST_F(ScheduledRun, LockLeftByAKilledRunIsTakenOver) {
    QProcess killed;
    Start(killed);
    QString log;
    ASSERT_TRUE(WaitForLog(killed, log, QStringLiteral(" ready"), 1, 60000)) << log.toStdString();
    ::kill(static_cast<pid_t>(killed.processId()), SIGKILL);
    ASSERT_TRUE(killed.waitForFinished(10000));
    ASSERT_TRUE(QFile::exists(root.filePath("runtime/camwarden.lock")));

    QProcess next;
    Start(next);
    QString nextLog;
    EXPECT_TRUE(WaitForLog(next, nextLog, QStringLiteral(" ready"), 1, 60000))
        << nextLog.toStdString();
    EXPECT_TRUE(EndWith(next, nextLog, SIGTERM, 1)) << nextLog.toStdString();
}

}  // namespace
}  // namespace camwarden::testing

namespace camwarden::testing {
namespace {

struct Outcome {
    int code = -1;
    QString out;
    QString err;
};

Outcome RunWith(const QStringList& args, const char* platform = "xcb") {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // No display at all: help and version must not need one.
    env.insert("QT_QPA_PLATFORM", platform);
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(CAMWARDEN_BINARY), args);
    if (!p.waitForFinished(10000)) return {};
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromLocal8Bit(p.readAllStandardOutput()),
            QString::fromLocal8Bit(p.readAllStandardError())};
}

TEST(CommandLine, VersionHelpAndUnknownOptionsAnswerWithoutStartingAnything) {
    const Outcome version = RunWith({"--version"});
    EXPECT_EQ(version.code, 0);
    EXPECT_EQ(version.out.trimmed(), QStringLiteral("Camwarden 1.0.0"));

    const Outcome help = RunWith({"--help"});
    EXPECT_EQ(help.code, 0);
    for (const char* mentioned : {"--camera", "Quillory.ini", "autostart", "QT_LOGGING_RULES"})
        EXPECT_TRUE(help.out.contains(QLatin1String(mentioned))) << mentioned;

    for (const QStringList& wrong : {QStringList{"--bogus"}, QStringList{"stray"}}) {
        const Outcome o = RunWith(wrong, "offscreen");
        EXPECT_EQ(o.code, 2) << wrong.join(' ').toStdString();
        // One line of ours (Qt may add its own warnings about the environment).
        const QStringList ours = o.err.split('\n').filter(QRegularExpression("^camwarden: "));
        EXPECT_EQ(ours.size(), 1) << o.err.toStdString();
    }
}

}  // namespace
}  // namespace camwarden::testing

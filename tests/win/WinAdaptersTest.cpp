// The Windows adapters, run under Wine by scripts/test-windows: what the
// program relies on each for, through the interfaces the window uses.
#include <gtest/gtest.h>
#include <io.h>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <mutex>

#include "app/SettingsStore.h"
#include "app/SingleInstance.h"
#include "platform/Os.h"
#include "platform/gst/Clip.h"
#include "platform/gst/GstCaptureSystem.h"
#include "platform/win/LogFile.h"
#include "platform/win/SessionEnd.h"
#include "platform/win/WinRegistry.h"
#include "platform/win/WinText.h"
#include "startup/RegStuff.h"
#include "startup/mStartUp.h"
#include "storage/ClipFile.h"
#include "storage/StateFile.h"

#include <windows.h>
#undef RegOpenKeyEx
#undef RegSetValueEx
#undef RegDeleteValue

namespace camwarden {
namespace {

const QString kRunKey = QStringLiteral("Software\\Microsoft\\Windows\\CurrentVersion\\Run");

// A value as another program sees it, straight from the registry.
std::optional<QString> RegText(HKEY root, const QString& key, const QString& name,
                               DWORD flags = 0) {
    wchar_t data[1024] = {};
    DWORD size = sizeof data;
    if (RegGetValueW(root, key.toStdWString().c_str(), name.toStdWString().c_str(),
                     RRF_RT_REG_SZ | flags, nullptr, data, &size) != ERROR_SUCCESS)
        return std::nullopt;
    return QString::fromWCharArray(data);
}

void PlantText(HKEY root, const QString& key, const QString& name, const QString& text,
               REGSAM view = 0) {
    HKEY k = nullptr;
    ASSERT_EQ(RegCreateKeyExW(root, key.toStdWString().c_str(), 0, nullptr, 0, KEY_SET_VALUE | view,
                              nullptr, &k, nullptr),
              ERROR_SUCCESS);
    const std::wstring w = text.toStdWString();
    RegSetValueExW(k, name.toStdWString().c_str(), 0, REG_SZ,
                   reinterpret_cast<const BYTE*>(w.c_str()),
                   static_cast<DWORD>((w.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(k);
}

// The log-on entry: the quoted path of the running program under the
// user's Run key, gone again when the box is cleared, together with what
// an earlier version left under the machine's key.
TEST(WinRegistry, StartupEntryLivesUnderTheUsersRunKey) {
    WinRegistry registry;
    const QString exe = QStringLiteral("C:/Program Files/Cam Warden %1/camwarden-test.exe")
                            .arg(QCoreApplication::applicationPid());
    const QString name = QStringLiteral("camwarden-test.exe");
    ASSERT_TRUE(mStartUp::AddStartupEntry(registry, exe));
    EXPECT_EQ(RegText(HKEY_CURRENT_USER, kRunKey, name),
              QStringLiteral("\"C:\\Program Files\\Cam Warden %1\\camwarden-test.exe\"")
                  .arg(QCoreApplication::applicationPid()));
    EXPECT_FALSE(RegText(HKEY_LOCAL_MACHINE, kRunKey, name)) << "never the machine's key";

    // As the 32-bit program of old registered itself (Wine lets anyone write there).
    PlantText(HKEY_LOCAL_MACHINE, kRunKey, name, QStringLiteral("C:\\old\\camwarden-test.exe"),
              KEY_WOW64_32KEY);
    ASSERT_TRUE(RegText(HKEY_LOCAL_MACHINE, kRunKey, name, RRF_SUBKEY_WOW6432KEY));
    EXPECT_TRUE(mStartUp::RemoveStartupEntry(registry, exe));
    EXPECT_FALSE(RegText(HKEY_CURRENT_USER, kRunKey, name));
    EXPECT_FALSE(RegText(HKEY_LOCAL_MACHINE, kRunKey, name, RRF_SUBKEY_WOW6432KEY));
    EXPECT_TRUE(mStartUp::RemoveStartupEntry(registry, exe)) << "gone already counts as removed";
}

TEST(WinRegistry, RefusalsAndBadHandlesComeBackAsCodes) {
    WinRegistry registry;
    Registry::Handle key = 0;
    EXPECT_EQ(registry.RegOpenKeyEx(HkeyCurrentUser, QStringLiteral("Software\\NoSuchKey\\Here"), 0,
                                    KEY_READ, key),
              ErrorFileNotFound);
    EXPECT_EQ(registry.RegSetValueEx(12345, QStringLiteral("x"), RegSz, QStringLiteral("y")),
              ErrorInvalidHandle);
    EXPECT_EQ(registry.RegOpenKeyEx(0x80000003, kRunKey, 0, KeyAccess, key), ErrorInvalidHandle);
}

// The settings live where the earlier version kept them: values it stored
// there are read exactly as they stand, and a change is there at once.
class WinSettings : public ::testing::Test {
protected:
    void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, Key().toStdWString().c_str()); }
    QString App() const {
        return QStringLiteral("QuilloryTest%1").arg(QCoreApplication::applicationPid());
    }
    QString Key() const {
        return QStringLiteral("Software\\VB and VBA Program Settings\\") + App();
    }
};

TEST_F(WinSettings, ValuesStoredByTheEarlierVersionAreReadAsTyped) {
    const QString section = Key() + QStringLiteral("\\Camwarden");
    PlantText(HKEY_CURRENT_USER, section, QStringLiteral("Path"),
              QStringLiteral("D:\\Clips\\Été 日本\\"));
    PlantText(HKEY_CURRENT_USER, section, QStringLiteral("OftenIndex"), QStringLiteral(" 3 "));
    PlantText(HKEY_CURRENT_USER, section, QStringLiteral("ReturnSecondsRec"),
              QStringLiteral("1,800"));
    HKEY k = nullptr;
    ASSERT_EQ(
        RegOpenKeyExW(HKEY_CURRENT_USER, section.toStdWString().c_str(), 0, KEY_SET_VALUE, &k),
        ERROR_SUCCESS);
    const DWORD five = 5;
    RegSetValueExW(k, L"OftenIndex1", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&five), 4);
    RegCloseKey(k);

    QSettingsStore store;
    const auto read = [&](const char* key) {
        return store.ReadSetting(App(), QStringLiteral("Camwarden"), QLatin1String(key),
                                 QStringLiteral("(none)"));
    };
    EXPECT_EQ(read("Path"), QStringLiteral("D:\\Clips\\Été 日本\\"));
    EXPECT_EQ(read("OftenIndex"), QStringLiteral(" 3 "));
    EXPECT_EQ(read("ReturnSecondsRec"), QStringLiteral("1,800"));
    EXPECT_EQ(read("OftenIndex1"), QStringLiteral("5"));
    EXPECT_EQ(read("StartStopState"), QStringLiteral("(none)"));

    store.WriteSetting(App(), QStringLiteral("Camwarden"), QStringLiteral("StartStopState"),
                       QStringLiteral("Off"));
    EXPECT_EQ(RegText(HKEY_CURRENT_USER, section, QStringLiteral("StartStopState")),
              QStringLiteral("Off"));
    EXPECT_EQ(RegText(HKEY_CURRENT_USER, section, QStringLiteral("ReturnSecondsRec")),
              QStringLiteral("1,800"))
        << "writing one value leaves the others as they were";
}

// A clip file: created exclusively under any name, readable by others while
// it records but never opened for writing by a second copy, and removed
// only while its name still means it.
TEST(WinClipFile, ExclusiveSharedForReadingAndClaimedWhileOpen) {
    QTemporaryDir dir;
    const QString wanted = dir.filePath(QStringLiteral("Été 日本 SS 2024-01-02 03-04-05.avi"));
    QString error;
    auto first = store::ClipFile::Create(wanted, &error);
    ASSERT_TRUE(first) << qPrintable(error);
    EXPECT_EQ(first->path(), wanted);
    auto second = store::ClipFile::Create(wanted, &error);
    ASSERT_TRUE(second);
    EXPECT_EQ(QFileInfo(second->path()).fileName(),
              QStringLiteral("Été 日本 SS 2024-01-02 03-04-05 (2).avi"));

    ASSERT_EQ(_write(first->descriptor(), "RIFF", 4), 4);
    EXPECT_EQ(first->Size(), 4);
    QString why;
    EXPECT_TRUE(first->Sync(&why)) << qPrintable(why);

    QFile reader(wanted);
    ASSERT_TRUE(reader.open(QIODevice::ReadOnly)) << "a player may read a clip being recorded";
    EXPECT_EQ(reader.readAll(), QByteArray("RIFF"));
    reader.close();
    store::ClipFile::Leftover state{};
    EXPECT_FALSE(store::ClipFile::OpenLeftover(wanted, &state, &error));
    EXPECT_EQ(state, store::ClipFile::Leftover::Later);
    EXPECT_EQ(error, QStringLiteral("another copy of the program is still writing it"));
    EXPECT_TRUE(first->StillInPlace(&why));

    second->Remove();
    const QString removed = second->path();
    second.reset();
    EXPECT_FALSE(QFileInfo::exists(removed));

    const QString kept = first->path();
    first.reset();
    const auto leftover = store::ClipFile::OpenLeftover(kept, &state, &error);
    ASSERT_TRUE(leftover) << qPrintable(error);
    EXPECT_EQ(state, store::ClipFile::Leftover::Open);
    EXPECT_EQ(leftover->Size(), 4);
}

// A clip listed as unfinished is opened for repair only when it is a plain
// file of the user's; one whose folder is away (a disk not yet there) waits,
// one whose folder is there without it is gone. The program's state files
// are never written through a link planted at their names.
TEST(WinClipFile, OnlyThePlainFilesOfTheUserAreRepairedAndStateFilesNeverFollowALink) {
    using Leftover = store::ClipFile::Leftover;
    QTemporaryDir dir;
    const auto state = [](const QString& path) {
        Leftover s{};
        QString error;
        store::ClipFile::OpenLeftover(path, &s, &error);
        return s;
    };
    EXPECT_EQ(state(dir.filePath(QStringLiteral("away/SS 2024-01-02 03-04-05.avi"))),
              Leftover::Later);
    EXPECT_EQ(state(dir.filePath(QStringLiteral("SS 2024-01-02 03-04-05.avi"))), Leftover::Gone);
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("SS 2024-01-02 03-04-06.avi")));
    EXPECT_EQ(state(dir.filePath(QStringLiteral("SS 2024-01-02 03-04-06.avi"))), Leftover::NotOurs);

    const QString notes = dir.filePath(QStringLiteral("notes.txt"));
    const QString list = dir.filePath(QStringLiteral("unfinished-clips.json"));
    {
        QFile f(notes);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("my notes\n");
    }
    if (!CreateSymbolicLinkW(QDir::toNativeSeparators(list).toStdWString().c_str(),
                             QDir::toNativeSeparators(notes).toStdWString().c_str(), 0x2))
        GTEST_SKIP() << "this system makes no file links for an ordinary user";
    const DWORD attributes =
        GetFileAttributesW(QDir::toNativeSeparators(list).toStdWString().c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        GTEST_SKIP() << "this system does not show a link as one (Wine)";
    EXPECT_EQ(state(list), Leftover::NotOurs);
    QString why;
    EXPECT_FALSE(store::ReadStateFile(list, 1024, &why));
    EXPECT_FALSE(store::AppendStateFile(list, "[]", &why));
    QString replaced;
    ASSERT_TRUE(store::ReplaceStateFile(list, "[]", &why, &replaced)) << qPrintable(why);
    EXPECT_TRUE(replaced.startsWith(QStringLiteral("a link"))) << qPrintable(replaced);
    QFile f(notes);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("my notes\n"));
    EXPECT_EQ(store::ReadStateFile(list, 1024, &why), QByteArray("[]"));
}

// Clip folders deep in a tree, past the 260 characters Windows takes
// unmarked, whatever the machine's long-path setting says.
TEST(WinClipFile, AFolderPastTheOldPathLimitTakesClips) {
    EXPECT_EQ(win::Native(QStringLiteral("C:/a/../b")), std::wstring(L"C:\\a\\..\\b"));
    const QString deep = QStringLiteral("C:/") + QString(150, u'a') + QStringLiteral("/../") +
                         QString(150, u'b') + QStringLiteral("/SS.avi");
    EXPECT_EQ(win::Native(deep), L"\\\\?\\C:\\" + std::wstring(150, L'b') + L"\\SS.avi");
    const QString share = QStringLiteral("//server/share/") + QString(260, u'c');
    EXPECT_EQ(win::Native(share), L"\\\\?\\UNC\\server\\share\\" + std::wstring(260, L'c'));

    QTemporaryDir dir;
    const QString folder =
        dir.filePath(QString(100, u'a') + u'/' + QString(100, u'b') + u'/' + QString(100, u'c'));
    ASSERT_TRUE(QDir().mkpath(folder));
    QString error;
    const auto clip =
        store::ClipFile::Create(folder + QStringLiteral("/SS 2024-01-02 03-04-05.avi"), &error);
    ASSERT_TRUE(clip) << qPrintable(error);
    ASSERT_EQ(_write(clip->descriptor(), "RIFF", 4), 4);
    QString why;
    EXPECT_TRUE(clip->Sync(&why)) << qPrintable(why);
    EXPECT_EQ(QFileInfo(clip->path()).size(), 4);
}

TEST(WinClipFile, AFolderThatIsNotThereSaysWhy) {
    QTemporaryDir dir;
    QString error;
    EXPECT_FALSE(store::ClipFile::Create(dir.filePath(QStringLiteral("gone/SS.avi")), &error));
    EXPECT_TRUE(error.contains(QStringLiteral("cannot be created"))) << qPrintable(error);
}

// The real pipeline writing through the clip file's C runtime descriptor,
// into a folder whose name the system's ANSI code page cannot hold.
// (Whether players accept the result, Linux's ffprobe judges in
// scripts/test-windows: under Wine a test cannot start it.)
TEST(WinCapture, AClipIsRecordedIntoAUnicodeFolderAndFinishedWithItsIndex) {
    using namespace std::chrono_literals;
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("Clips Été 日本"));
    ASSERT_TRUE(QDir().mkpath(folder));
    GstCaptureSystem system(QStringLiteral("test"), dir.filePath(QStringLiteral("Quillory.ini")));
    std::mutex m;
    std::vector<capgst::ClipReport> reports;
    system.SetClipFinishedHandler([&](const capgst::ClipReport& r) {
        const std::lock_guard lock(m);
        reports.push_back(r);
    });
    auto w = system.CreateCaptureWindow(QStringLiteral("SaveCam"), nullptr);
    ASSERT_TRUE(w && w->DriverConnect(0));
    const QString file =
        QDir::toNativeSeparators(folder + QStringLiteral("/SS 2024-01-02 03-04-05.avi"));
    ASSERT_TRUE(w->SetCaptureFile(file));
    CaptureParms p;
    ASSERT_TRUE(w->GetSequenceSetup(p));
    p.fCaptureAudio = 0;
    p.dwRequestMicroSecPerFrame = 66667;
    p.fLimitEnabled = 1;
    p.wTimeLimit = 2;
    w->SetSequenceSetup(&p);
    ASSERT_TRUE(w->Sequence());
    ASSERT_TRUE(system.WaitUntilIdle(20s));

    const std::lock_guard lock(m);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].error, QString());
    EXPECT_EQ(reports[0].frames, 30u);
    QFile clip(file);
    ASSERT_TRUE(clip.open(QIODevice::ReadOnly));
    const QByteArray bytes = clip.readAll();
    EXPECT_EQ(reports[0].bytes, bytes.size());
    EXPECT_TRUE(bytes.startsWith("RIFF") && bytes.mid(8, 4) == "AVI ");
    EXPECT_TRUE(bytes.contains("idx1")) << "finished with its index";
    EXPECT_FALSE(QFileInfo::exists(os::StateFolder() + QStringLiteral("/unfinished-clips.json")))
        << "no clip left listed as unfinished";
}

// One copy per user and session: the names carry both, and a second start
// is refused. (That it brings the first forward takes two processes: a
// pipe's writer waits for its reader; scripts/test-windows starts the
// real program twice.)
TEST(WinSingleInstance, NamedForUserAndSessionAndSecondStartRefused) {
    const os::InstanceNames names = os::DefaultInstanceNames();
    const QString sid = os::UserId();
    ASSERT_TRUE(sid.startsWith(QStringLiteral("S-1-"))) << qPrintable(sid);
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    EXPECT_TRUE(names.server.endsWith(sid + QLatin1Char('-') + QString::number(session)));
    EXPECT_TRUE(QDir::fromNativeSeparators(names.lockFile)
                    .startsWith(QDir::fromNativeSeparators(qEnvironmentVariable("LOCALAPPDATA")) +
                                QStringLiteral("/Quillory/Camwarden/")));

    SingleInstance first;
    ASSERT_TRUE(first.Acquire());
    EXPECT_TRUE(first.Problem().isEmpty()) << qPrintable(first.Problem());
    SingleInstance second;
    EXPECT_FALSE(second.Acquire());
}

TEST(WinLogFile, KeptUnderItsBoundWithTheNewestLinesInTheCurrentFile) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("logs/camwarden.log"));
    {
        LogFile log(path, 1000);
        for (int i = 0; i < 80; ++i) log.Write(QStringLiteral("line %1 of the log").arg(i));
        log.Install();
        qInfo("through Qt's logging");
    }
    QFile current(path);
    QFile old(dir.filePath(QStringLiteral("logs/camwarden.old.log")));
    ASSERT_TRUE(current.open(QIODevice::ReadOnly));
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    EXPECT_LT(current.size(), 1000);
    EXPECT_LT(old.size(), 1100);
    const QByteArray text = current.readAll();
    EXPECT_TRUE(text.contains("line 79 of the log\r\n")) << text.constData();
    EXPECT_TRUE(text.contains("through Qt's logging"));
    qInfo("after the log went: nowhere near the file");
    current.close();
    current.open(QIODevice::ReadOnly);
    EXPECT_FALSE(current.readAll().contains("nowhere near the file"));
}

// The end of a session: the close is asked for and the clips are finished
// before the handler returns, after which Windows may end the process.
TEST(WinSessionEnd, SessionEndFinishesBeforeReturningAndCloseOnlyAsks) {
    int finished = 0;
    SessionEnd end([&finished] { ++finished; });
    QSignalSpy closes(&end, &SessionEnd::CloseRequested);
    const HWND window = static_cast<HWND>(end.WindowHandle());
    ASSERT_TRUE(window);

    EXPECT_EQ(SendMessageW(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), TRUE)
        << "the session is never held up";
    EXPECT_EQ(closes.count(), 0);

    SendMessageW(window, WM_CLOSE, 0, 0);  // as taskkill without /f
    EXPECT_EQ(closes.count(), 1);
    EXPECT_EQ(finished, 0) << "an ordinary close finishes the clips on the way out";
    EXPECT_TRUE(IsWindow(window)) << "the window stays to hear the session end";

    SendMessageW(window, WM_ENDSESSION, FALSE, 0);  // the log-off was cancelled
    EXPECT_EQ(closes.count(), 1);
    SendMessageW(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
    EXPECT_EQ(closes.count(), 2);
    EXPECT_EQ(finished, 1);
}

}  // namespace
}  // namespace camwarden

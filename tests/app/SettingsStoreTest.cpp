#include "app/SettingsStore.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <cstdio>

namespace camwarden {
namespace {

// What the store logs (to standard error) while this lives.
class SettingsLog {
public:
    SettingsLog() : saved_(::dup(STDERR_FILENO)) {
        EXPECT_TRUE(file_.open());
        std::fflush(stderr);
        ::dup2(file_.handle(), STDERR_FILENO);
    }
    ~SettingsLog() {
        std::fflush(stderr);
        ::dup2(saved_, STDERR_FILENO);
        ::close(saved_);
    }
    SettingsLog(const SettingsLog&) = delete;
    SettingsLog& operator=(const SettingsLog&) = delete;

    // The store's lines: whatever else Qt says is left out.
    QStringList Lines() const {
        std::fflush(stderr);
        QFile f(file_.fileName());
        if (!f.open(QIODevice::ReadOnly)) return {QStringLiteral("(no log)")};
        QStringList lines = QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
        lines.removeIf([](const QString& l) { return !l.contains("camwarden.settings"); });
        return lines;
    }
    QStringList Matching(const QString& text) const { return Lines().filter(text); }

private:
    QTemporaryFile file_;
    int saved_;
};

void WriteBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

// Bytes of a literal, NULs and all.
template <std::size_t N>
QByteArray Raw(const char (&text)[N]) {
    return QByteArray(text, N - 1);
}

QByteArray Bytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(none)");
}

// The real store on a temporary config home.
class SettingsStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", home_.path().toLocal8Bit());
    }
    void TearDown() override { qputenv("XDG_CONFIG_HOME", saved_); }
    QString IniPath() const { return home_.filePath("Quillory/Quillory.ini"); }

    QTemporaryDir home_;
    QByteArray saved_;
};

TEST_F(SettingsStoreTest, AbsentKeyGivesTheDefaultAndWritesNothing) {
    QSettingsStore store;
    EXPECT_EQ(store.Read(QStringLiteral("OftenIndex"), QStringLiteral("2")), QStringLiteral("2"));
    EXPECT_FALSE(QFile::exists(IniPath()));
}

// Read from the file itself: a QSettings in this process would share the
// store's cache and see an unsaved value too.
TEST_F(SettingsStoreTest, EachWriteIsOnDiskAtOnceUnderTheProgramsSection) {
    QSettingsStore store;
    store.Write(QStringLiteral("Windows Startup"), QStringLiteral("On"));
    store.Write(QStringLiteral("Path"), QStringLiteral("/home/me/Clips/"));
    QFile onDisk(IniPath());
    ASSERT_TRUE(onDisk.open(QIODevice::ReadOnly | QIODevice::Text));
    const QString text = QString::fromUtf8(onDisk.readAll());
    EXPECT_TRUE(text.startsWith(QStringLiteral("[Camwarden]\n"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("\nWindows%20Startup=On\n"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("\nPath=/home/me/Clips/\n"))) << text.toStdString();
}

// The user (or a second copy) edits the file while this one runs: the store
// that is already open reads what is there now, text for text.
TEST_F(SettingsStoreTest, ReadsWhatAnotherProcessWroteSinceAndKeepsTextExact) {
    QSettingsStore store;
    store.Write(QStringLiteral("StartStopState"), QStringLiteral("On"));
    ASSERT_EQ(store.Read(QStringLiteral("StartStopState"), QString()), QStringLiteral("On"));
    const int rc = QProcess::execute(
        QStringLiteral("sh"),
        {QStringLiteral("-c"),
         QStringLiteral(
             "printf '[Camwarden]\\nStartStopState=on\\nReturnSecondsRec=\" 300 \"\\n' > \"$1\""),
         QStringLiteral("sh"), IniPath()});
    ASSERT_EQ(rc, 0);
    EXPECT_EQ(store.Read(QStringLiteral("StartStopState"), QStringLiteral("On")),
              QStringLiteral("on"));
    EXPECT_EQ(store.Read(QStringLiteral("ReturnSecondsRec"), QStringLiteral("5")),
              QStringLiteral(" 300 "));
}

// A hand-edited value that QSettings would read as a list or a typed value
// came back as "" and was then written back, wiping the folder.
TEST_F(SettingsStoreTest, HandEditedTextIsReadAsTheTextThatIsThere) {
    QDir().mkpath(home_.filePath("Quillory"));
    QFile ini(IniPath());
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write(
        "[Other]\nPath=elsewhere\n[Camwarden]\nPath=/home/me/Clips, 2024/\n"
        "StartStopState=@Variant(\\0\\0\\0\\x7f)\nOftenIndex = 3\n");
    ini.close();
    QSettingsStore store;
    EXPECT_EQ(store.Read(QStringLiteral("Path"), QString()),
              QStringLiteral("/home/me/Clips, 2024/"));
    EXPECT_EQ(store.Read(QStringLiteral("StartStopState"), QString()),
              QStringLiteral("@Variant(\\0\\0\\0\\x7f)"));
    EXPECT_EQ(store.Read(QStringLiteral("OftenIndex"), QString()), QStringLiteral("3"));

    // Written back, the text survives as it was.
    store.Write(QStringLiteral("Path"), store.Read(QStringLiteral("Path"), QString()));
    EXPECT_EQ(QSettingsStore().Read(QStringLiteral("Path"), QString()),
              QStringLiteral("/home/me/Clips, 2024/"));
}

// QSettings writes the whole file back as it parsed it: typed forms would
// come back changed ("1, 800", a number) and read differently next time.
TEST_F(SettingsStoreTest, HandTypedValuesStayAsTypedWhenTheFileIsWritten) {
    QDir().mkpath(home_.filePath("Quillory"));
    WriteBytes(IniPath(),
               "[Camwarden]\nReturnSecondsRec=1,800\nOftenIndex=@Variant(\\0\\0\\0\\x7f)\n"
               "Size%20Limit%20GB=1,5\n");
    QSettingsStore().Write(QStringLiteral("Path"), QStringLiteral("/srv/clips/"));
    QSettingsStore next;
    EXPECT_EQ(next.Read(QStringLiteral("ReturnSecondsRec"), QString()), QStringLiteral("1,800"))
        << Bytes(IniPath()).toStdString();
    EXPECT_EQ(next.Read(QStringLiteral("Size Limit GB"), QString()), QStringLiteral("1,5"))
        << Bytes(IniPath()).toStdString();
    EXPECT_EQ(next.Read(QStringLiteral("OftenIndex"), QString()),
              QStringLiteral("@Variant(\\0\\0\\0\\x7f)"))
        << Bytes(IniPath()).toStdString();
    EXPECT_EQ(next.Read(QStringLiteral("Path"), QString()), QStringLiteral("/srv/clips/"));
}

// A crash leaves runs of NUL bytes where the file was never written. What
// stands after a run is whole and read; a line a run cuts into is not; the
// file as it was is kept aside, and said so once.
TEST_F(SettingsStoreTest, NulRunsCostOnlyTheLinesTheyCutIntoAndTheFileIsKeptAside) {
    const struct {
        QByteArray bytes;
        QString path;
    } cases[] = {
        {Raw("\0\0\0\0[Camwarden]\nPath=/srv/clips/\nOftenIndex=3\n"),
         QStringLiteral("/srv/clips/")},
        {Raw("[Camwarden]\nOftenIndex=3\n\0\0\0\0\0Path=/srv/clips/\n"),
         QStringLiteral("/srv/clips/")},
        {Raw("[Camwarden]\nOftenIndex=3\nPath=/srv/cl\0\0\0\0ips/\n"), QStringLiteral("(default)")},
    };
    for (const auto& c : cases) {
        const QTemporaryDir dir;
        const QString ini = dir.filePath("Quillory.ini");
        WriteBytes(ini, c.bytes);
        const SettingsLog log;
        QSettingsStore store(ini);
        EXPECT_EQ(store.Read(QStringLiteral("Path"), QStringLiteral("(default)")), c.path);
        EXPECT_EQ(store.Read(QStringLiteral("OftenIndex"), QString()), QStringLiteral("3"));
        EXPECT_EQ(Bytes(ini + ".unreadable"), c.bytes);
        EXPECT_EQ(log.Matching("kept as " + ini + ".unreadable,").size(), 1)
            << log.Lines().join('\n').toStdString();

        store.Write(QStringLiteral("Minimized"), QStringLiteral("On"));
        EXPECT_EQ(log.Lines().size(), 1) << log.Lines().join('\n').toStdString();
        EXPECT_EQ(QSettingsStore(ini).Read(QStringLiteral("Path"), QStringLiteral("(default)")),
                  c.path);
    }
}

// Lines QSettings cannot parse are dropped when it writes the file: the file
// is kept aside first, next to any copy kept before, and the write that
// follows is not reported as failed.
TEST_F(SettingsStoreTest, AnUnparsableFileIsKeptBesideEarlierCopiesAndWrittenWithoutComplaint) {
    const QTemporaryDir dir;
    const QString ini = dir.filePath("Quillory.ini");
    const QByteArray bytes("[Camwarden]\nPath=/srv/clips/\nthis is no setting\n");
    WriteBytes(ini, bytes);
    WriteBytes(ini + ".unreadable", "kept by an earlier start\n");
    {
        const SettingsLog log;
        QSettingsStore store(ini);
        EXPECT_EQ(store.Read(QStringLiteral("Path"), QString()), QStringLiteral("/srv/clips/"));
        store.Write(QStringLiteral("Minimized"), QStringLiteral("On"));
        const QStringList lines = log.Lines();
        ASSERT_EQ(lines.size(), 1) << lines.join('\n').toStdString();
        EXPECT_TRUE(lines[0].endsWith(
            ini + " could not be read whole (it has lines that are not settings); kept as " + ini +
            ".unreadable.2, going on with what could be read"))
            << lines[0].toStdString();
    }
    EXPECT_EQ(Bytes(ini + ".unreadable"), "kept by an earlier start\n");
    EXPECT_EQ(Bytes(ini + ".unreadable.2"), bytes);

    // The next start finds a file it reads whole.
    const SettingsLog log;
    EXPECT_EQ(QSettingsStore(ini).Read(QStringLiteral("Minimized"), QString()),
              QStringLiteral("On"));
    EXPECT_TRUE(log.Lines().isEmpty()) << log.Lines().join('\n').toStdString();
    EXPECT_FALSE(QFile::exists(ini + ".unreadable.3"));
}

// QSettings reports the first error it met for as long as it lives; the
// store says "could not store" for the writes that failed, and only those.
TEST_F(SettingsStoreTest, CouldNotStoreIsSaidOfTheWritesThatFailedAndOnlyThose) {
    const QTemporaryDir dir;
    const QString folder = dir.filePath("config");
    const QString ini = folder + "/Quillory.ini";
    QDir().mkpath(folder);
    WriteBytes(ini, "[Camwarden]\nPath=/srv/clips/\nthis is no setting\n");
    const SettingsLog log;
    QSettingsStore store(ini);
    ASSERT_EQ(store.Read(QStringLiteral("Path"), QString()), QStringLiteral("/srv/clips/"));

    // A file where the folder should be: nothing can be written (even by root).
    ASSERT_TRUE(QDir().rename(folder, dir.filePath("away")));
    WriteBytes(folder, "not a folder");
    store.Write(QStringLiteral("Minimized"), QStringLiteral("On"));
    EXPECT_EQ(log.Matching("could not store").size(), 1) << log.Lines().join('\n').toStdString();

    ASSERT_TRUE(QFile::remove(folder));
    ASSERT_TRUE(QDir().rename(dir.filePath("away"), folder));
    store.Write(QStringLiteral("Minimized"), QStringLiteral("Off"));
    EXPECT_EQ(log.Matching("could not store").size(), 1) << log.Lines().join('\n').toStdString();
    EXPECT_EQ(QSettingsStore(ini).Read(QStringLiteral("Minimized"), QString()),
              QStringLiteral("Off"));
}

TEST_F(SettingsStoreTest, OtherApplicationsAndSectionsStayApart) {
    QSettingsStore store;
    store.WriteSetting("Quillory", "Camwarden", "Path", "a");
    store.WriteSetting("Quillory", "Other", "Path", "b");
    store.WriteSetting("Someone", "Camwarden", "Path", "c");
    EXPECT_EQ(store.ReadSetting("Quillory", "Camwarden", "Path", ""), "a");
    EXPECT_EQ(store.ReadSetting("Quillory", "Other", "Path", ""), "b");
    EXPECT_EQ(store.ReadSetting("Someone", "Camwarden", "Path", ""), "c");
}

}  // namespace
}  // namespace camwarden

#include "support/FormFixture.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

namespace camwarden::testing {
namespace {

// Warnings logged while a test runs.
QStringList& Logged() {
    static QStringList logged;
    return logged;
}

class FolderBox : public FormFixture {
protected:
    // Loads the window, noting the writes and the warnings from then on.
    Form1& LoadNotingWarnings() {
        settings->writes.clear();
        Logged().clear();
        const QtMessageHandler before = qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext&, const QString& text) {
                if (type == QtWarningMsg) Logged() << text;
            });
        Form1& f = Load();
        qInstallMessageHandler(before);
        return f;
    }
};

TEST_F(FolderBox, EveryKeystrokeIsStoredAsTyped) {
    Form1& f = Load();
    settings->writes.clear();
    f.Text1->clear();
    QTest::keyClicks(f.Text1, "/a/b");
    EXPECT_EQ(settings->writes,
              (QStringList{"Path=", "Path=/", "Path=/a", "Path=/a/", "Path=/a/b"}));
}

TEST_F(FolderBox, AnEmptyStoredPathStaysEmpty) {
    settings->Preset("Path", "");
    Form1& f = Load();
    EXPECT_EQ(f.Text1->text(), QString());
}

TEST_F(FolderBox, ChosenFolderGetsOneTrailingSeparator) {
    Form1& f = Load();
    dialogs->folderAnswers = {QStringLiteral("/srv/Clips"), QStringLiteral("/")};
    f.PushButton1_Click();
    EXPECT_EQ(f.Text1->text(), QStringLiteral("/srv/Clips/"));
    EXPECT_EQ(settings->Stored("Path"), QStringLiteral("/srv/Clips/"));
    EXPECT_EQ(dialogs->browseTitles, QStringList{"Please select folder:"});
    f.PushButton1_Click();
    EXPECT_EQ(f.Text1->text(), QStringLiteral("/"));
}

TEST_F(FolderBox, BrowsingStartsAtTheFolderInTheBoxOrTheDesktopWhenItIsEmpty) {
    Form1& f = Load();
    f.Text1->setText(QStringLiteral("/srv/Clips/"));
    f.PushButton1_Click();
    f.Text1->clear();
    f.PushButton1_Click();
    EXPECT_EQ(dialogs->browseStarts, (QStringList{"/srv/Clips/", "/home/user/Desktop"}));
}

TEST_F(FolderBox, CancelChangesNothing) {
    Form1& f = Load();
    settings->writes.clear();
    f.PushButton1_Click();
    EXPECT_EQ(f.Text1->text(), QStringLiteral("/home/user/Desktop/"));
    EXPECT_TRUE(settings->writes.isEmpty());
}

TEST_F(FolderBox, FocusSelectsTheWholeText) {
    Form1& f = Load();
    f.show();
    f.PushButton4->setFocus();
    f.Text1->setFocus(Qt::TabFocusReason);
    QTest::qWait(10);
    EXPECT_EQ(f.Text1->selectedText(), f.Text1->text());
    f.PushButton4->setFocus();
    QTest::mouseClick(f.Text1, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::qWait(10);
    EXPECT_EQ(f.Text1->selectedText(), f.Text1->text());
}

// The size limit is stored the moment it is changed, restored at the next
// start, and reaches each clip; a stored value the box cannot show as it is
// means no limit, and the log says so once.
TEST_F(FolderBox, TheSizeLimitIsStoredRestoredAndHandedToEachClip) {
    Form1& f = Load();
    EXPECT_FALSE(f.Check9->isChecked());
    EXPECT_EQ(f.FolderLimitBytes(), 0);
    settings->writes.clear();
    f.Text2->setValue(2.5);
    f.Check9->setChecked(true);
    EXPECT_EQ(settings->writes, (QStringList{"Size Limit GB=2.5", "Size Limit=Off",
                                             "Size Limit GB=2.5", "Size Limit=On"}));
    // Ticked, the folder can be read before its next clip.
    EXPECT_EQ(capture->limitedFolder, QStringLiteral("/home/user/Desktop/"));
    f.Cam().RecordClip(f);
    EXPECT_EQ(capture->folderLimit, 2'500'000'000LL);

    for (const auto& [gb, on, limit, told] : {std::tuple{"0.5", "On", 500'000'000LL, false},
                                              {"100000", "On", 100'000'000'000'000LL, false},
                                              {"1e1", "On", 10'000'000'000LL, false},
                                              {"", "On", 10'000'000'000LL, false},
                                              {"5", "Off", 0LL, false},
                                              {"1,5", "On", 0LL, true},
                                              {"0.05", "On", 0LL, true},
                                              {"0.15", "On", 0LL, true},
                                              {"100001", "On", 0LL, true},
                                              {"1e309", "On", 0LL, true},
                                              {"-5", "On", 0LL, true},
                                              {"nan", "On", 0LL, true},
                                              {"inf", "Off", 0LL, true},
                                              {"5", "on", 0LL, true}}) {
        form.reset();
        settings->Preset("Size Limit GB", gb);
        settings->Preset("Size Limit", on);
        Form1& again = LoadNotingWarnings();
        EXPECT_EQ(again.FolderLimitBytes(), limit) << gb << " " << on;
        EXPECT_EQ(again.Check9->isChecked(), limit > 0) << gb << " " << on;
        EXPECT_EQ(Logged().filter(QStringLiteral("size limit \"%1\"").arg(on)).size(), told ? 1 : 0)
            << gb << " " << on << ": " << Logged().join('|').toStdString();
        EXPECT_TRUE(dialogs->shown.empty());
        EXPECT_TRUE(settings->writes.filter(QStringLiteral("Size Limit")).isEmpty());
    }
}

// What the window shows is what comes back: a box ticked as it stood keeps
// its number, and a number typed under an unticked box stays no limit.
TEST_F(FolderBox, BothLimitsComeBackAsShown) {
    Form1& f = Load();
    f.Check9->setChecked(true);
    f.Check10->setChecked(true);
    form.reset();
    Form1& ticked = Load();
    EXPECT_EQ(ticked.FolderLimitBytes(), 10'000'000'000LL);
    EXPECT_EQ(ticked.AgeLimitDays(), 30);

    ticked.Check9->setChecked(false);
    ticked.Check10->setChecked(false);
    ticked.Text2->setValue(3);
    ticked.Text3->setValue(7);
    form.reset();
    Form1& unticked = Load();
    EXPECT_FALSE(unticked.Check9->isChecked());
    EXPECT_FALSE(unticked.Check10->isChecked());
    EXPECT_EQ(unticked.Text2->value(), 3);
    EXPECT_EQ(unticked.Text3->value(), 7);

    // A limit shown off for a number it could not use stays off once typed.
    form.reset();
    settings->Preset("Size Limit GB", "junk");
    settings->Preset("Size Limit", "On");
    Load().Text2->setValue(4);
    form.reset();
    EXPECT_EQ(Load().FolderLimitBytes(), 0);
}

// A limit being typed is no limit yet: only the number the user ends with
// (Enter, or leaving the box) is stored and used.
TEST_F(FolderBox, ALimitIsTakenOnceTyped) {
    settings->Preset("Size Limit", "On");
    settings->Preset("Size Limit GB", "10");
    Form1& f = Load();
    f.show();
    f.Text2->setFocus();
    f.Text2->selectAll();
    settings->writes.clear();
    QTest::keyClicks(f.Text2, "2");
    EXPECT_EQ(f.FolderLimitBytes(), 10'000'000'000LL);
    QTest::keyClicks(f.Text2, "0");
    EXPECT_TRUE(settings->writes.isEmpty());
    QTest::keyClick(f.Text2, Qt::Key_Return);
    EXPECT_EQ(settings->writes, (QStringList{"Size Limit GB=20.0", "Size Limit=On"}));
    EXPECT_EQ(f.FolderLimitBytes(), 20'000'000'000LL);
}

// The age limit is stored the moment it is changed and held by the capture
// layer itself, a webcam connected or not; the folder it keeps is the one
// typed to its end or chosen, never one named on the way.
TEST_F(FolderBox, TheAgeLimitIsStoredAndHeldWithoutACamera) {
    Form1& f = Load();
    EXPECT_FALSE(f.Check10->isChecked());
    EXPECT_EQ(capture->ageLimits, QStringList{"0 /home/user/Desktop/"});
    f.Cam().CloseWebCam();
    f.show();
    settings->writes.clear();
    capture->ageLimits.clear();
    f.Check10->setChecked(true);
    f.Text3->setFocus();
    f.Text3->selectAll();
    QTest::keyClicks(f.Text3, "1");
    QTest::keyClicks(f.Text3, "4");
    EXPECT_EQ(capture->ageLimits, QStringList{"30 /home/user/Desktop/"});
    QTest::keyClick(f.Text3, Qt::Key_Return);
    EXPECT_EQ(settings->writes, (QStringList{"Age Limit Days=30", "Age Limit=On",
                                             "Age Limit Days=14", "Age Limit=On"}));
    EXPECT_EQ(capture->ageLimits.last(), QStringLiteral("14 /home/user/Desktop/"));

    capture->ageLimits.clear();
    f.Text1->setFocus();
    f.Text1->selectAll();
    QTest::keyClicks(f.Text1, "/srv/cam");
    EXPECT_TRUE(capture->ageLimits.isEmpty());
    QTest::keyClick(f.Text1, Qt::Key_Return);
    EXPECT_EQ(capture->ageLimits, QStringList{"14 /srv/cam/"});
    dialogs->folderAnswers = {QStringLiteral("/mnt/clips")};
    f.PushButton1_Click();
    EXPECT_EQ(capture->ageLimits.last(), QStringLiteral("14 /mnt/clips/"));
    f.Check10->setChecked(false);
    EXPECT_EQ(capture->ageLimits.last(), QStringLiteral("0 /mnt/clips/"));
}

// A stored age limit is read with the rest and never written at start-up;
// one that cannot be used is shown off, and the log says so once.
TEST_F(FolderBox, AStoredAgeLimitIsUsedOnlyAsStored) {
    for (const auto& [days, on, used, told] : {std::tuple{"1", "On", 1, false},
                                               {"3650", "On", 3650, false},
                                               {"30", "Off", 0, false},
                                               {"", "Off", 0, false},
                                               {"0", "On", 0, true},
                                               {"3651", "On", 0, true},
                                               {"1.5", "On", 0, true},
                                               {"7 days", "On", 0, true},
                                               {"", "On", 30, false},
                                               {"7", "on", 0, true},
                                               {"x", "Off", 0, true}}) {
        form.reset();
        settings->Preset("Age Limit Days", days);
        settings->Preset("Age Limit", on);
        capture->ageLimits.clear();
        Form1& f = LoadNotingWarnings();
        const std::string which = std::string(days) + " " + on;
        EXPECT_EQ(f.AgeLimitDays(), used) << which;
        EXPECT_EQ(capture->ageLimits,
                  QStringList{QStringLiteral("%1 /home/user/Desktop/").arg(used)})
            << which;
        EXPECT_EQ(Logged().filter(QStringLiteral("age limit \"%1\"").arg(on)).size(), told ? 1 : 0)
            << which << ": " << Logged().join('|').toStdString();
        EXPECT_TRUE(settings->writes.filter(QStringLiteral("Age Limit")).isEmpty()) << which;
    }
}

}  // namespace
}  // namespace camwarden::testing

#include "support/FormFixture.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimeEdit>

namespace camwarden::testing {
namespace {

using FormLoad = FormFixture;

QStringList LinesReported(const FakeDialogs& d) {
    QStringList out;
    for (const ShownBox& b : d.shown) {
        if (b.title != "Application Error") continue;
        const qsizetype at = b.text.indexOf("at line ");
        out << b.text.left(b.text.indexOf('\r')) + '@' + b.text.mid(at + 8, 3);
    }
    return out;
}

TEST_F(FormLoad, EmptyStoreGivesTheDefaultsAndStoresOnlyThePath) {
    Form1& f = Load();
    EXPECT_EQ(f.Text1->text(), QStringLiteral("/home/user/Desktop/"));
    EXPECT_EQ(settings->writes, QStringList{"Path=/home/user/Desktop/"});
    EXPECT_EQ(f.ListView2->SelectedText(), QStringLiteral("Record every 30 seconds"));
    EXPECT_EQ(f.IntervalSeconds, 30);
    EXPECT_EQ(f.ListView1->SelectedIndex(), 1);
    EXPECT_EQ(state.ClipSeconds, 5);
    EXPECT_EQ(f.PushButton4->text(), QStringLiteral("Turn Off"));
    EXPECT_EQ(f.Timer1->Interval(), 1000);
    EXPECT_TRUE(f.Timer1->IsTicking());
    EXPECT_FALSE(f.Timer2->Enabled());
    EXPECT_EQ(capture->log, (QStringList{"Create SaveCam", "DriverConnect 0"}));
    EXPECT_FALSE(f.Check3->isChecked());
    EXPECT_FALSE(f.Check8->isChecked());
    EXPECT_FALSE(f.windowState() & Qt::WindowMinimized);
    EXPECT_FALSE(f.FormLoading);
    EXPECT_EQ(f.windowTitle(), QStringLiteral("Camwarden"));
    EXPECT_EQ(dialogs->AppTitle(), QStringLiteral("Camwarden"));
    EXPECT_TRUE(dialogs->shown.empty());
}

TEST_F(FormLoad, RestoresEveryStoredChoice) {
    settings->Preset("Path", "/srv/clips/");
    settings->Preset("OftenIndex", "13");
    settings->Preset("OftenIndex1", "10");
    settings->Preset("ReturnSecondsRec", "1200");
    settings->Preset("StartStopState", "Off");
    settings->Preset("Windows Startup", "On");
    Form1& f = Load();
    EXPECT_EQ(f.Text1->text(), QStringLiteral("/srv/clips/"));
    EXPECT_EQ(f.IntervalSeconds, 86400);
    EXPECT_EQ(f.ListView1->SelectedText(), QStringLiteral("x minutes"));
    EXPECT_EQ(state.ClipSeconds, 1200);
    EXPECT_TRUE(dialogs->inputPrompts.empty()) << "start-up never asks for minutes";
    EXPECT_EQ(f.PushButton4->text(), QStringLiteral("Turn On"));
    EXPECT_EQ(f.Frame4->title(), QStringLiteral("Off."));
    EXPECT_FALSE(f.Timer1->IsTicking());
    EXPECT_EQ(capture->log, (QStringList{"Create SaveCam", "DriverConnect 0"}));
    EXPECT_TRUE(f.Check3->isChecked());
    f.show();
    EXPECT_TRUE(f.Check8->isVisible());
    EXPECT_EQ(settings->writes, QStringList{"Path=/srv/clips/"});
}

// QSettings writes the whole file back in its own form at the first write:
// a choice read after that would not be the one in the file.
TEST_F(FormLoad, EveryStoredChoiceIsReadBeforeAnythingIsWritten) {
    settings->Preset("Minimized", "On");
    Load();
    EXPECT_EQ(settings->writes, (QStringList{"Path=/home/user/Desktop/", "Minimized=On"}));
    const qsizetype firstWrite = settings->journal.indexOf(QRegularExpression("write .*"));
    ASSERT_GT(firstWrite, 0);
    EXPECT_EQ(settings->journal.mid(firstWrite).filter(QRegularExpression("^read ")), QStringList())
        << settings->journal.join(", ").toStdString();
}

// The same hand-edited file reads the same, typed forms and all, at every start.
TEST_F(FormLoad, HandEditedSettingsAreReadAsTypedAtEveryStart) {
    const QTemporaryDir dir;
    const QString ini = dir.filePath("Quillory.ini");
    QFile file(ini);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(
        "[Camwarden]\nPath=/srv/clips/\nReturnSecondsRec=1,800\n"
        "OftenIndex=@Variant(\\0\\0\\0\\x2\\0\\0\\0\\0\\x3)\n");
    file.close();
    settings = nullptr;
    for (int start = 1; start <= 2; ++start) {
        platform.settings = std::make_unique<QSettingsStore>(ini);
        dialogs->shown.clear();
        Form1& f = Load();
        EXPECT_EQ(f.Text1->text(), QStringLiteral("/srv/clips/"));
        EXPECT_EQ(state.ClipSeconds, 1800) << "start " << start;
        EXPECT_EQ(LinesReported(*dialogs),
                  (QStringList{"Type mismatch@118", "Index out of bounds@120"}))
            << "start " << start;
    }
}

// A fresh profile may have no desktop folder yet; a folder once stored is
// never made, even the desktop itself.
TEST_F(FormLoad, TheDesktopFolderIsMadeOnlyWhenNoFolderIsStored) {
    Load();
    EXPECT_TRUE(shell->createAsked);
    shell->createAsked = false;
    settings->Preset("Path", "/home/user/Desktop/");
    Load();
    EXPECT_FALSE(shell->createAsked);
}

TEST_F(FormLoad, UnreadableIndexIsReportedTwiceAndLeavesNoRowSelected) {
    settings->Preset("OftenIndex", "abc");
    Form1& f = Load();
    EXPECT_EQ(LinesReported(*dialogs),
              (QStringList{"Type mismatch@118", "Index out of bounds@120"}));
    EXPECT_EQ(f.ListView2->SelectedIndex(), 0);
    EXPECT_EQ(f.IntervalSeconds, 0);
    EXPECT_EQ(f.ListView1->SelectedIndex(), 1) << "start-up goes on after the report";
    EXPECT_EQ(f.PushButton4->text(), QStringLiteral("Turn Off"));
}

TEST_F(FormLoad, IndexNamingNoRowIsReportedOnce) {
    for (const char* stored : {"0", "99", "-3"}) {
        dialogs->shown.clear();
        settings->Preset("OftenIndex", stored);
        settings->Preset("OftenIndex1", stored);
        Form1& f = Load();
        EXPECT_EQ(LinesReported(*dialogs),
                  (QStringList{"Index out of bounds@120", "Index out of bounds@128"}))
            << stored;
        EXPECT_EQ(f.ListView2->SelectedIndex(), 0);
        EXPECT_EQ(f.ListView1->SelectedIndex(), 0);
    }
}

TEST_F(FormLoad, UnreadableLengthIsReportedAndLeavesZero) {
    settings->Preset("ReturnSecondsRec", "x");
    Load();
    EXPECT_EQ(LinesReported(*dialogs), QStringList{"Type mismatch@130"});
    EXPECT_EQ(state.ClipSeconds, 0);
}

TEST_F(FormLoad, UnknownDesktopIsReportedAndTheStoredPathIsNotRead) {
    shell->desktop.clear();
    settings->Preset("Path", "/srv/clips/");
    Form1& f = Load();
    EXPECT_EQ(LinesReported(*dialogs), QStringList{"Invalid procedure call or argument@112"});
    EXPECT_EQ(f.Text1->text(), QStringLiteral("Text1"));
    EXPECT_EQ(f.IntervalSeconds, 30);
}

TEST_F(FormLoad, SwitchStateIsComparedExactly) {
    settings->Preset("StartStopState", "on");
    Form1& f = Load();
    EXPECT_EQ(f.PushButton4->text(), QStringLiteral("Turn On"));
    EXPECT_EQ(f.Frame4->title(), QStringLiteral("On. Next webcam record will occur in:"));
    EXPECT_EQ(f.Timer1->Interval(), 0);
    EXPECT_TRUE(capture->log.isEmpty()) << "the webcam is not connected";
}

TEST_F(FormLoad, OffWithoutWebcamShowsTheMessageOnceAndOpens) {
    settings->Preset("StartStopState", "Off");
    capture->refuse << "DriverConnect";
    Form1& f = Load();
    ASSERT_EQ(dialogs->shown.size(), 1u);
    EXPECT_TRUE(dialogs->shown[0].text.startsWith(
        "Error #488: It appears you do not have a webcam installed, please connect.\r\n\r\nPlease "
        "email a screenshot of this error message to support@quillory.example if you have "
        "questions."));
    EXPECT_EQ(dialogs->shown[0].title, QStringLiteral("Camwarden"));
    EXPECT_EQ(dialogs->shown[0].icon, MsgIcon::None);
    EXPECT_EQ(f.Frame4->title(), QStringLiteral("Off."));
}

TEST_F(FormLoad, OnWithoutWebcamSwitchesTheWindowOffButKeepsTheStoredState) {
    capture->refuse << "DriverConnect";
    settings->Preset("StartStopState", "On");
    Form1& f = Load();
    EXPECT_EQ(dialogs->Texts(), QStringList{NoWebcamMessage()});
    EXPECT_EQ(f.PushButton4->text(), QStringLiteral("Turn On"));
    EXPECT_EQ(f.Frame4->title(), QStringLiteral("Off."));
    EXPECT_EQ(f.Timer1->Interval(), 0);
    EXPECT_EQ(settings->Stored("StartStopState"), QStringLiteral("On"));
    EXPECT_EQ(capture->log,
              (QStringList{"Create SaveCam", "DriverConnect 0", "Close", "DriverDisconnect"}));
}

TEST_F(FormLoad, StartInTrayMinimisesAndStoresTheSameValueBack) {
    settings->Preset("Minimized", "On");
    Form1& f = Load();
    EXPECT_TRUE(f.Check8->isChecked());
    EXPECT_TRUE(f.windowState() & Qt::WindowMinimized);
    EXPECT_TRUE(settings->writes.contains("Minimized=On"));
    EXPECT_FALSE(settings->writes.contains("Windows Startup=On"));
    // The handler that hides it with the log-on box cleared does not run at start-up.
    EXPECT_FALSE(f.Check3->isChecked());
    EXPECT_FALSE(f.Check8->isHidden());
}

TEST_F(FormLoad, HandPointerFromTheProgramFolderShowsOverButtonsOnly) {
    QTemporaryDir program;
    QFile::copy(QStringLiteral(CAMWARDEN_SOURCE_DIR "/resources/HAND-M.CUR"),
                program.filePath("HAND-M.CUR"));
    platform.programFolder = program.path();
    Form1& f = Load();
    f.show();
    ASSERT_TRUE(f.HasCustomPointer());
    QMouseEvent move(QEvent::MouseMove, QPointF(2, 2), QPointF(2, 2), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QCoreApplication::sendEvent(f.PushButton4, &move);
    EXPECT_EQ(f.Pointer(), Form1::MousePointer::Custom);
    EXPECT_EQ(f.cursor().shape(), Qt::BitmapCursor);
    QCoreApplication::sendEvent(f.ListView1->viewport(), &move);
    EXPECT_EQ(f.Pointer(), Form1::MousePointer::Default);
    f.SetPointer(Form1::MousePointer::Hourglass);
    QCoreApplication::sendEvent(f.PushButton2, &move);
    EXPECT_EQ(f.Pointer(), Form1::MousePointer::Hourglass) << "an hourglass is never changed";
}

// An installed copy keeps its pointer in the data folder; one beside the
// program still wins.
TEST_F(FormLoad, PointerComesFromTheDataFolderWhenTheProgramFolderHasNone) {
    QTemporaryDir program;
    QTemporaryDir data;
    QFile::copy(QStringLiteral(CAMWARDEN_SOURCE_DIR "/resources/HAND-M.CUR"),
                data.filePath("HAND-M.CUR"));
    platform.programFolder = program.path();
    platform.dataFolder = data.path();
    EXPECT_TRUE(Load().HasCustomPointer());

    QFile broken(program.filePath("HAND-M.CUR"));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("not a picture");
    broken.close();
    dialogs->shown.clear();
    Form1& again = Load();
    EXPECT_FALSE(again.HasCustomPointer()) << "the program folder's own file is the one tried";
}

TEST_F(FormLoad, WithoutThePointerFileCustomMeansTheArrow) {
    Form1& f = Load();
    f.show();
    EXPECT_FALSE(f.HasCustomPointer());
    QMouseEvent move(QEvent::MouseMove, QPointF(2, 2), QPointF(2, 2), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QCoreApplication::sendEvent(f.PushButton1, &move);
    EXPECT_EQ(f.Pointer(), Form1::MousePointer::Custom);
    EXPECT_EQ(f.cursor().shape(), Qt::ArrowCursor);
}

TEST_F(FormLoad, LayoutFollowsTheDesignInPixels) {
    Form1& f = MakeForm();
    // The folder frame holds two more rows, the size and age limits': all
    // below them moves down 25 pixels for each. The active hours' row under
    // the interval list moves what is below it 26 more, and the time stamp's
    // row under the video buttons what is below those 25 more.
    EXPECT_EQ(f.size(), QSize(536, 605));
    EXPECT_EQ(f.minimumSize(), f.maximumSize());
    EXPECT_FALSE(f.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(f.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_EQ(f.palette().color(QPalette::Window), QColor(Qt::white));
    EXPECT_EQ(f.Frame4->geometry(), QRect(8, 8, 520, 57));
    EXPECT_EQ(f.ProgressBar1->geometry(), QRect(16, 20, 488, 27));
    EXPECT_EQ(f.Text1->geometry(), QRect(16, 20, 441, 22));
    EXPECT_EQ(f.Frame1->geometry(), QRect(8, 68, 520, 103));
    EXPECT_EQ(f.Check9->parentWidget(), f.Frame1);
    EXPECT_EQ(f.Check9->geometry().top(), 49);
    EXPECT_EQ(f.Check10->parentWidget(), f.Frame1);
    EXPECT_EQ(f.Check10->geometry().top(), 74);
    EXPECT_EQ(f.Text3->geometry().left(), f.Text2->geometry().left());
    EXPECT_EQ(f.ListView2->geometry(), QRect(8, 178, 520, 104));
    EXPECT_EQ(f.Check11->geometry().top(), 290);
    EXPECT_EQ(f.Text4->geometry(), QRect(142, 288, 56, 22));
    EXPECT_EQ(f.Check12[6]->geometry().right(), 527);
    EXPECT_EQ(f.ListView1->geometry(), QRect(8, 314, 520, 104));
    EXPECT_EQ(f.PushButton3->geometry(), QRect(8, 423, 168, 27));
    EXPECT_EQ(f.PushButton6->geometry(), QRect(184, 423, 168, 27));
    EXPECT_EQ(f.PushButton5->geometry(), QRect(360, 423, 168, 27));
    EXPECT_EQ(f.Check13->geometry(), QRect(24, 455, 360, 19));
    EXPECT_EQ(f.Frame6->geometry().top(), 479);
    EXPECT_EQ(f.PushButton2->geometry().bottom(), 597);
    EXPECT_EQ(f.Check8->parentWidget(), f.Frame6);
    EXPECT_EQ(f.PushButton1->parentWidget(), f.Frame1);
    EXPECT_EQ(f.PushButton4->font().pointSizeF(), 11.25);
    EXPECT_TRUE(f.PushButton4->font().bold());
    EXPECT_EQ(f.font().family(), QStringLiteral("Arial"));
    EXPECT_EQ(f.font().pointSizeF(), 9.0);
    EXPECT_EQ(f.Text1->text(), QStringLiteral("Text1"));
    EXPECT_EQ(f.Frame4->title(), QStringLiteral("On. Next webcam record will occur in:"));
    // Tab order of the focusable controls.
    QStringList order;
    QWidget* w = f.Text1;
    for (int i = 0; i < 26; ++i, w = w->nextInFocusChain()) {
        while (w->focusPolicy() == Qt::NoFocus || w->objectName().isEmpty() ||
               w->objectName().startsWith("qt_"))
            w = w->nextInFocusChain();
        order << w->objectName();
    }
    EXPECT_EQ(order,
              (QStringList{"Text1",      "ListView2",  "Check11",     "Text4",       "Text5",
                           "Check12(0)", "Check12(1)", "Check12(2)",  "Check12(3)",  "Check12(4)",
                           "Check12(5)", "Check12(6)", "PushButton1", "Check9",      "Text2",
                           "Check10",    "Text3",      "PushButton4", "PushButton2", "Check8",
                           "Check3",     "ListView1",  "PushButton3", "PushButton5", "PushButton6",
                           "Check13"}));
}

}  // namespace
}  // namespace camwarden::testing

namespace camwarden::testing {
namespace {

TEST_F(FormLoad, AScreenTooSmallScrollsTheControlsAndOneLargeEnoughShowsThemWhole) {
    Form1& f = MakeForm();
    const QSize designed = f.size();
    const QRect button = f.PushButton2->geometry();
    f.FitInto(designed);
    EXPECT_EQ(f.findChild<QScrollArea*>(), nullptr);

    const QSize small(designed.width() + 100, designed.height() / 2);
    f.FitInto(small);
    EXPECT_EQ(f.height(), small.height());
    EXPECT_LT(f.width(), small.width());  // the page and a bar beside it
    auto* scroll = f.findChild<QScrollArea*>();
    ASSERT_NE(scroll, nullptr);
    EXPECT_EQ(scroll->widget()->size(), designed);
    EXPECT_EQ(f.PushButton2->geometry(), button);
    EXPECT_EQ(f.findChild<QPushButton*>(QStringLiteral("PushButton2")), f.PushButton2);
    f.show();
    EXPECT_TRUE(f.PushButton2->visibleRegion().isEmpty());
    scroll->ensureWidgetVisible(f.PushButton2);
    EXPECT_EQ(f.PushButton2->visibleRegion().boundingRect(), f.PushButton2->rect());

    // Narrow too: bars both ways, never larger than the room.
    f.FitInto(designed / 2);
    EXPECT_EQ(f.size(), designed / 2);
    f.FitInto(designed + QSize(50, 50));
    EXPECT_EQ(f.size(), designed);
}

}  // namespace
}  // namespace camwarden::testing

#include "app/VbError.h"
#include "schedule/Choices.h"
#include "support/FormFixture.h"

#include <QKeyEvent>
#include <QRegularExpression>
#include <QTest>

namespace camwarden::testing {
namespace {

// What a row's words promise, in seconds: "Record every 2 hours" is 7200.
int SecondsSaid(const QString& text) {
    static const QRegularExpression said(QStringLiteral("(\\d+) (second|minute|hour)s?$"));
    const QRegularExpressionMatch m = said.match(text);
    if (!m.hasMatch()) return -1;
    const QString unit = m.captured(2);
    return m.captured(1).toInt() * (unit == "hour" ? 3600 : unit == "minute" ? 60 : 1);
}

// The user picks a row by its words; the schedule runs on its seconds.
// Rows go shortest first, as the stored index of a choice counts on.
TEST(Choices, EveryRowRecordsWhatItsWordsSayAndLookupsAreExact) {
    int previous = 0;
    for (const Choice& c : IntervalChoices()) {
        const int seconds = IntervalSecondsFor(QLatin1String(c.text));
        EXPECT_EQ(seconds, SecondsSaid(QLatin1String(c.text))) << c.text;
        EXPECT_GT(seconds, previous) << c.text;
        previous = seconds;
    }
    previous = 0;
    for (const Choice& c : LengthChoices()) {
        const std::optional<int32_t> seconds = LengthSecondsFor(QLatin1String(c.text));
        if (QLatin1String(c.text) == QLatin1String(kCustomLength)) {
            EXPECT_EQ(seconds, std::nullopt) << "the user gives the custom row's minutes";
            continue;
        }
        ASSERT_TRUE(seconds) << c.text;
        EXPECT_EQ(*seconds, SecondsSaid(QLatin1String(c.text))) << c.text;
        EXPECT_GT(*seconds, previous) << c.text;
        previous = *seconds;
    }
    EXPECT_EQ(IntervalSecondsFor("record every 1 minute"), 0) << "texts compare exactly";
    EXPECT_EQ(IntervalSecondsFor(QString()), 0);
    EXPECT_EQ(LengthSecondsFor("2 hours"), 0);
}

TEST(Choices, CustomMinutesInSixteenBits) {
    EXPECT_EQ(CustomMinutesToSeconds("546"), 32760);
    EXPECT_EQ(CustomMinutesToSeconds("2.5"), 120);
    EXPECT_EQ(CustomMinutesToSeconds("3.5"), 240);
    EXPECT_EQ(CustomMinutesToSeconds("0"), 0);
    EXPECT_EQ(CustomMinutesToSeconds("-1"), -60);
    EXPECT_THROW(CustomMinutesToSeconds("547"), VbError);
    EXPECT_THROW(CustomMinutesToSeconds("-547"), VbError);
    EXPECT_THROW(CustomMinutesToSeconds("twenty"), VbError);
}

class ListClicks : public FormFixture {
protected:
    Form1& Ready() {
        Form1& f = Load();
        settings->writes.clear();
        return f;
    }
    void ClickLength(int row) {
        form->ListView1->SelectIndex(row);
        form->ListView1_Click();
    }
    void ClickInterval(int row) {
        form->ListView2->SelectIndex(row);
        form->ListView2_Click();
    }
};

TEST_F(ListClicks, IntervalClickStoresIndexAndRestartsTheCount) {
    Form1& f = Ready();
    f.ElapsedSeconds = 17;
    ClickInterval(2);  // the row already selected
    EXPECT_EQ(settings->writes, QStringList{"OftenIndex=2"});
    EXPECT_EQ(f.ElapsedSeconds, 0);
    ClickInterval(13);
    EXPECT_EQ(f.IntervalSeconds, 86400);
    EXPECT_EQ(settings->Stored("OftenIndex"), QStringLiteral("13"));
    EXPECT_TRUE(dialogs->shown.empty());
}

TEST_F(ListClicks, LengthClickStoresIndexAndSeconds) {
    Ready();
    ClickLength(4);
    EXPECT_EQ(settings->writes, (QStringList{"OftenIndex1=4", "ReturnSecondsRec=60"}));
    EXPECT_EQ(state.ClipSeconds, 60);
    EXPECT_EQ(dialogs->Texts(), QStringList{QLatin1String(kLengthTooLong)});
    EXPECT_EQ(dialogs->shown[0].title, QStringLiteral("Camwarden"));
}

TEST_F(ListClicks, LongerThanIntervalWarnsOnEitherListAndChangesNothing) {
    Ready();
    ClickInterval(1);  // 10 s
    ClickLength(2);    // 10 s: equal passes
    EXPECT_TRUE(dialogs->shown.empty());
    ClickLength(3);  // 30 s
    ClickInterval(1);
    EXPECT_EQ(dialogs->shown.size(), 2u);
    EXPECT_EQ(form->ListView1->SelectedIndex(), 3);
    EXPECT_EQ(form->ListView2->SelectedIndex(), 1);
    EXPECT_EQ(state.ClipSeconds, 30);
}

TEST_F(ListClicks, CustomLengthAsksEveryTime) {
    Ready();
    ClickInterval(13);
    dialogs->inputAnswers = {QStringLiteral("546"), QStringLiteral("0"), QStringLiteral("-1")};
    ClickLength(10);
    ASSERT_EQ(dialogs->inputPrompts.size(), 1u);
    EXPECT_EQ(dialogs->inputPrompts[0].text,
              QStringLiteral("Use Your Custom Length Of Time To Record In Minutes"));
    EXPECT_EQ(dialogs->inputPrompts[0].title, QStringLiteral("Camwarden"));
    EXPECT_EQ(dialogs->inputDefaults[0], QStringLiteral("20"));
    EXPECT_EQ(state.ClipSeconds, 32760);
    EXPECT_EQ(settings->Stored("ReturnSecondsRec"), QStringLiteral("32760"));
    ClickLength(10);
    EXPECT_EQ(state.ClipSeconds, 0);
    EXPECT_EQ(settings->Stored("ReturnSecondsRec"), QStringLiteral("0"));
    ClickLength(10);
    EXPECT_EQ(settings->Stored("ReturnSecondsRec"), QStringLiteral("-60"));
    EXPECT_TRUE(dialogs->shown.empty());
}

TEST_F(ListClicks, CancelledOrBadAnswerKeepsThePreviousLength) {
    Ready();
    ClickLength(3);
    settings->writes.clear();
    dialogs->shown.clear();
    dialogs->inputAnswers = {QString(), QStringLiteral("547"), QStringLiteral("soon")};
    ClickLength(10);
    EXPECT_EQ(settings->writes, QStringList{"OftenIndex1=10"});
    EXPECT_TRUE(dialogs->shown.empty()) << "a cancel is not an error";
    ClickLength(10);
    ClickLength(10);
    EXPECT_EQ(state.ClipSeconds, 30);
    EXPECT_EQ(settings->Stored("ReturnSecondsRec"), QStringLiteral("30"));
    EXPECT_EQ(dialogs->shown.size(), 2u);
    EXPECT_FALSE(dialogs->Texts().contains(QLatin1String(kLengthTooLong)));
}

TEST_F(ListClicks, KeyboardSelectionCountsAsAClick) {
    Form1& f = Ready();
    f.show();
    f.ListView2->setFocus();
    QTest::keyClick(f.ListView2, Qt::Key_Down);
    EXPECT_EQ(f.ListView2->SelectedIndex(), 3);
    EXPECT_EQ(settings->Stored("OftenIndex"), QStringLiteral("3"));
    EXPECT_EQ(f.IntervalSeconds, 60);
}

TEST_F(ListClicks, MouseClickOnARowIsAClick) {
    Form1& f = Ready();
    f.show();
    QTreeWidgetItem* row = f.ListView2->topLevelItem(4);
    const QPoint at = f.ListView2->visualItemRect(row).center();
    QTest::mouseClick(f.ListView2->viewport(), Qt::LeftButton, {}, at);
    EXPECT_EQ(settings->Stored("OftenIndex"), QStringLiteral("5"));
    EXPECT_EQ(f.IntervalSeconds, 600);
}

TEST_F(ListClicks, AListIsNeverLeftWithoutASelection) {
    Form1& f = Ready();
    f.show();
    QTreeWidgetItem* selected = f.ListView1->topLevelItem(0);
    const QPoint at = f.ListView1->visualItemRect(selected).center();
    QTest::mouseClick(f.ListView1->viewport(), Qt::LeftButton, Qt::ControlModifier, at);
    EXPECT_EQ(f.ListView1->SelectedIndex(), 1);
    f.ListView1->clearSelection();
    EXPECT_EQ(f.ListView1->SelectedIndex(), 1);
}

}  // namespace
}  // namespace camwarden::testing

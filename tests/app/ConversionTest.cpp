#include "app/ErrorTrap.h"
#include "app/VbConvert.h"
#include "app/VbError.h"
#include "support/Fakes.h"

#include <gtest/gtest.h>
#include <QLocale>

namespace camwarden {
namespace {

int ErrorNumber(auto&& f) {
    try {
        f();
    } catch (const VbError& e) {
        return e.number;
    }
    return 0;
}

TEST(Conversion, RoundsHalvesToEvenAndIgnoresBlanks) {
    EXPECT_EQ(CInt(QStringLiteral("2.5")), 2);
    EXPECT_EQ(CInt(QStringLiteral("3.5")), 4);
    EXPECT_EQ(CInt(QStringLiteral("-2.5")), -2);
    EXPECT_EQ(CInt(QStringLiteral("  7 ")), 7);
    EXPECT_EQ(CLng(QStringLiteral("86400")), 86400);
    EXPECT_EQ(CLng(QStringLiteral("-60")), -60);
}

TEST(Conversion, RangeLimitsOverflow) {
    EXPECT_EQ(CInt(QStringLiteral("32767")), 32767);
    EXPECT_EQ(CInt(QStringLiteral("-32768")), -32768);
    EXPECT_EQ(ErrorNumber([] { CInt(QStringLiteral("32768")); }), 6);
    EXPECT_EQ(ErrorNumber([] { CInt(QStringLiteral("32767.5")); }), 6);
    EXPECT_EQ(ErrorNumber([] { CLng(QStringLiteral("2147483648")); }), 6);
    EXPECT_EQ(CLng(QStringLiteral("2147483647")), 2147483647);
    EXPECT_EQ(ErrorNumber([] { MulInt16(547, 60); }), 6);
    EXPECT_EQ(MulInt16(546, 60), 32760);
    EXPECT_EQ(MulInt16(-546, 60), -32760);
}

TEST(Conversion, NonNumbersAreTypeMismatch) {
    for (const char* text : {"abc", "", "   ", "x", "12abc", "inf", "nan"}) {
        EXPECT_EQ(ErrorNumber([&] { CInt(QLatin1String(text)); }), 13) << text;
        EXPECT_EQ(ErrorNumber([&] { CLng(QLatin1String(text)); }), 13) << text;
    }
}

TEST(Conversion, FollowsTheUsersNumberFormat) {
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(CInt(QStringLiteral("2,5")), 2);
    EXPECT_EQ(CInt(QStringLiteral("3,5")), 4);
    // Text stored with a plain decimal point still reads the same.
    EXPECT_EQ(CInt(QStringLiteral("3.5")), 4);
    QLocale::setDefault(saved);
}

TEST(ErrorReport, TextNamesHandlerLineAndSupportAddress) {
    EXPECT_EQ(ErrorReportText(QStringLiteral("Overflow"), QStringLiteral("Form1.Timer1"), 104),
              QStringLiteral("Overflow\r\nin Vidwarden2021/08/31.Form1.Timer1 at line 104\r\r"
                             "Please email screenshot of this message to "
                             "support@quillory.example"));
}

TEST(ErrorReport, TrapReportsAndResumesAndFailedConditionCountsAsTrue) {
    testing::FakeDialogs dialogs;
    ErrorTrap trap(dialogs, QStringLiteral("Form1.Form_Load"));
    std::vector<int> ran;
    trap(100, [&] { throw VbError::TypeMismatch(); });
    trap(102, [&] { ran.push_back(102); });
    const bool taken = trap.If(104, [&]() -> bool { throw VbError::Overflow(); });
    EXPECT_TRUE(taken);
    trap(106, [&] { throw std::runtime_error("boom"); });
    EXPECT_EQ(ran, std::vector<int>{102});
    ASSERT_EQ(dialogs.shown.size(), 3u);
    EXPECT_EQ(dialogs.shown[0].title, QStringLiteral("Application Error"));
    EXPECT_EQ(dialogs.shown[0].icon, MsgIcon::Exclamation);
    EXPECT_TRUE(dialogs.shown[0].text.startsWith(
        "Type mismatch\r\nin Vidwarden2021/08/31.Form1.Form_Load at line 100"));
    EXPECT_TRUE(dialogs.shown[1].text.contains("Overflow") &&
                dialogs.shown[1].text.contains("at line 104"));
    EXPECT_TRUE(dialogs.shown[2].text.startsWith("boom\r\n"));
}

}  // namespace
}  // namespace camwarden

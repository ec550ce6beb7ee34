#include "support/FormFixture.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace camwarden::testing {
namespace {

using FolderBox = FormFixture;

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
    EXPECT_EQ(dialogs->browseStarts, QStringList{QString()});
    f.PushButton1_Click();
    EXPECT_EQ(f.Text1->text(), QStringLiteral("/"));
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

}  // namespace
}  // namespace camwarden::testing

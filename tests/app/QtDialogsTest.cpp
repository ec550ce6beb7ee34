#include "platform/qt/QtDialogs.h"

#include <gtest/gtest.h>
#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

namespace camwarden {
namespace {

QList<QMessageBox*> OpenBoxes() {
    QList<QMessageBox*> boxes;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) boxes << box;
    return boxes;
}

TEST(QtDialogs, BoxesDoNotBlockAndTheSameTextIsNeverStacked) {
    QtDialogs dialogs;
    dialogs.SetAppTitle(QStringLiteral("Camwarden"));
    bool ticked = false;
    QTimer::singleShot(0, [&] { ticked = true; });

    dialogs.MsgBox(QStringLiteral("Folder does not exist"));
    dialogs.MsgBox(QStringLiteral("Folder does not exist"));
    dialogs.MsgBox(QStringLiteral("Error capturing video."));
    QTest::qWait(20);
    EXPECT_TRUE(ticked) << "the event loop ran while the boxes were open";

    QList<QMessageBox*> boxes = OpenBoxes();
    ASSERT_EQ(boxes.size(), 2);
    for (QMessageBox* box : boxes) {
        EXPECT_EQ(box->windowTitle(), QStringLiteral("Camwarden"));
        EXPECT_EQ(box->icon(), QMessageBox::NoIcon);
        EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
    }

    // Once answered, the same text may come again.
    for (QMessageBox* box : boxes) box->button(QMessageBox::Ok)->click();
    QTest::qWait(20);
    EXPECT_TRUE(OpenBoxes().isEmpty());
    dialogs.MsgBox(QStringLiteral("Folder does not exist"));
    EXPECT_EQ(OpenBoxes().size(), 1);
    OpenBoxes().front()->button(QMessageBox::Ok)->click();
    QTest::qWait(20);
}

TEST(QtDialogs, ErrorReportHasTheWarningIconAndItsTitle) {
    QtDialogs dialogs;
    dialogs.MsgBox(QStringLiteral("Overflow\r\nin x\r\rPlease"), MsgIcon::Exclamation,
                   QStringLiteral("Application Error"));
    const QList<QMessageBox*> boxes = OpenBoxes();
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_EQ(boxes[0]->icon(), QMessageBox::Warning);
    EXPECT_EQ(boxes[0]->windowTitle(), QStringLiteral("Application Error"));
    EXPECT_EQ(boxes[0]->text(), QStringLiteral("Overflow\nin x\n\nPlease"));
    boxes[0]->button(QMessageBox::Ok)->click();
    QTest::qWait(20);
}

}  // namespace
}  // namespace camwarden

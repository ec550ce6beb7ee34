#include "support/FormFixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

#include <QDoubleSpinBox>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QSpinBox>
#include "app/ListView.h"

namespace camwarden::testing {
namespace {

using Screenshot = FormFixture;

// Leaves the window as a picture in the build folder for a person to look at,
// and checks it is really drawn: white background, dark text on it.
TEST_F(Screenshot, WindowIsDrawnAsLaidOut) {
    settings->Preset("Path", "/home/user/Videos/Camwarden/");
    Form1& f = Load();
    f.show();
    const QImage image = f.grab().toImage();
    ASSERT_EQ(image.size(), QSize(536, 605) * image.devicePixelRatio());
    const QString folder = QStringLiteral(CAMWARDEN_BUILD_DIR "/screenshots");
    QDir().mkpath(folder);
    ASSERT_TRUE(image.save(folder + "/Form1.png"));

    EXPECT_EQ(image.pixelColor(2, 2), QColor(Qt::white));
    int dark = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixelColor(x, y).lightness() < 80) ++dark;
    EXPECT_GT(dark, 2000) << "captions and list texts are drawn";
}

// Darkest pixel in a part of the picture, as lightness (0 black - 255 white).
int Darkest(const QImage& image, const QRect& part) {
    int darkest = 255;
    for (int y = part.top(); y <= part.bottom(); ++y)
        for (int x = part.left(); x <= part.right(); ++x)
            darkest = std::min(darkest, image.pixelColor(x, y).lightness());
    return darkest;
}

// Under a dark desktop scheme the white window kept the scheme's light text:
// titles, the folder question and the check box labels vanished.
TEST_F(Screenshot, TextStaysReadableUnderADarkScheme) {
    const QPalette desktop = QApplication::palette();
    QPalette dark;
    for (const auto& [role, colour] : {std::pair{QPalette::Window, QColor(0x2b, 0x2b, 0x2b)},
                                       {QPalette::WindowText, Qt::white},
                                       {QPalette::Base, QColor(0x1e, 0x1e, 0x1e)},
                                       {QPalette::Text, Qt::white},
                                       {QPalette::Button, QColor(0x3c, 0x3c, 0x3c)},
                                       {QPalette::ButtonText, Qt::white}})
        dark.setColor(role, colour);
    QApplication::setPalette(dark);
    settings->Preset("Path", "/home/user/Videos/Camwarden/");
    Form1& f = Load();
    f.show();
    const QImage image = f.grab().toImage();
    QApplication::setPalette(desktop);
    const QString folder = QStringLiteral(CAMWARDEN_BUILD_DIR "/screenshots");
    QDir().mkpath(folder);
    ASSERT_TRUE(image.save(folder + "/Form1-dark-scheme.png"));

    const auto within = [&](QWidget* w) {
        return QRect(w->mapTo(&f, QPoint(0, 0)), w->size()).adjusted(1, 1, -1, -1);
    };
    // The frames' titles sit in their top rows; the lists' rows below their headers.
    for (QWidget* w : std::initializer_list<QWidget*>{
             f.Frame4, f.Frame1, f.Frame6, f.Check3, f.Check8, f.Check9, f.Label1, f.Check10,
             f.Label2, f.Check11, f.ListView1, f.ListView2}) {
        QRect part = within(w);
        if (qobject_cast<QGroupBox*>(w)) part.setHeight(16);
        EXPECT_LT(Darkest(image, part), 80) << w->objectName().toStdString() << ": no dark text";
    }
    EXPECT_EQ(image.pixelColor(2, 2), QColor(Qt::white));
}

TEST_F(Screenshot, ControlsWithoutVisibleTextAreNamedForScreenReaders) {
    Form1& f = Load();
    for (QWidget* w :
         std::initializer_list<QWidget*>{f.ProgressBar1, f.Text1, f.PushButton1, f.Check9, f.Text2,
                                         f.Check10, f.Text3, f.ListView1, f.ListView2}) {
        EXPECT_FALSE(w->accessibleName().isEmpty()) << w->objectName().toStdString();
        EXPECT_FALSE(w->accessibleDescription().isEmpty()) << w->objectName().toStdString();
    }
}

}  // namespace
}  // namespace camwarden::testing

#include "support/FormFixture.h"

#include <QDir>
#include <QImage>
#include <QPixmap>

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
    ASSERT_EQ(image.size(), QSize(536, 504) * image.devicePixelRatio());
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

}  // namespace
}  // namespace camwarden::testing

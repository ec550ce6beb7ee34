// Writes the program's icon for the desktop's icon theme, from the very
// picture the tray shows: PNG files at the usual sizes and one SVG.
//   make_icons OUTPUT-FOLDER
#include <QDir>
#include <QFile>
#include <QGuiApplication>

#include "tray/QuilloryIcon.h"

int main(int argc, char* argv[]) {
    const QGuiApplication app(argc, argv);
    if (argc != 2) return 2;
    const QDir out(QString::fromLocal8Bit(argv[1]));
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString folder = QStringLiteral("%1x%1/apps").arg(size);
        if (!out.mkpath(folder)) return 1;
        if (!camwarden::QuilloryPixmap(size).save(
                out.filePath(folder + QStringLiteral("/" CAMWARDEN_APP_ID ".png"))))
            return 1;
    }
    if (!out.mkpath(QStringLiteral("scalable/apps"))) return 1;
    QFile svg(out.filePath(QStringLiteral("scalable/apps/" CAMWARDEN_APP_ID ".svg")));
    if (!svg.open(QIODevice::WriteOnly)) return 1;
    return svg.write(camwarden::QuilloryIconSvg()) > 0 ? 0 : 1;
}

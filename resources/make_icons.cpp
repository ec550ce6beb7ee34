// Writes the program's icon from the very picture the tray shows: for the
// desktop's icon theme, PNG files at the usual sizes and one SVG; for
// Windows, one .ico holding every size Explorer asks for, and the picture
// beside the setup program's first and last pages.
//   make_icons OUTPUT-FOLDER
//   make_icons --ico FILE.ico
//   make_icons --wizard FILE.bmp
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QtEndian>
#include <cstring>
#include <utility>
#include <vector>

#include "tray/QuilloryIcon.h"

namespace {

void PutLE16(QByteArray& out, int v) {
    const quint16 le = qToLittleEndian(static_cast<quint16>(v));
    out.append(reinterpret_cast<const char*>(&le), 2);
}

void PutLE32(QByteArray& out, qint64 v) {
    const quint32 le = qToLittleEndian(static_cast<quint32>(v));
    out.append(reinterpret_cast<const char*>(&le), 4);
}

// An icon image as every reader takes it: a bottom-up 32-bit BGRA bitmap
// of twice the height (colour, then the 1-bit mask, unused with alpha).
QByteArray Dib(const QImage& picture) {
    const QImage image = picture.convertToFormat(QImage::Format_ARGB32);
    const int size = image.width();
    QByteArray out;
    PutLE32(out, 40);  // BITMAPINFOHEADER
    PutLE32(out, size);
    PutLE32(out, 2 * qint64{size});
    PutLE16(out, 1);
    PutLE16(out, 32);
    for (int i = 0; i < 6; ++i) PutLE32(out, 0);  // no compression, sizes and colours unset
    for (int y = size - 1; y >= 0; --y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < size; ++x) PutLE32(out, row[x]);  // 0xAARRGGBB: B, G, R, A
    }
    const qsizetype maskRow = qsizetype{(size + 31) / 32} * 4;
    out.append(QByteArray(maskRow * size, '\0'));
    return out;
}

// An icon directory: bitmaps for the small sizes, and PNG for 256, as
// Windows' own icons hold them.
bool WriteIco(const QString& file) {
    std::vector<std::pair<int, QByteArray>> images;
    for (const int size : {16, 20, 24, 32, 40, 48, 64, 256}) {
        const QImage picture = camwarden::QuilloryPixmap(size).toImage();
        if (size < 256) {
            images.emplace_back(size, Dib(picture));
            continue;
        }
        QByteArray png;
        QBuffer buffer(&png);
        if (!buffer.open(QIODevice::WriteOnly) || !picture.save(&buffer, "PNG")) return false;
        images.emplace_back(size, png);
    }
    QByteArray out;
    PutLE16(out, 0);  // reserved
    PutLE16(out, 1);  // an icon, not a cursor
    PutLE16(out, static_cast<int>(images.size()));
    qint64 offset = 6 + 16 * static_cast<qint64>(images.size());
    for (const auto& [size, png] : images) {
        out.append(static_cast<char>(size >= 256 ? 0 : size));  // 0 means 256
        out.append(static_cast<char>(size >= 256 ? 0 : size));
        out.append('\0');  // no palette
        out.append('\0');
        PutLE16(out, 1);   // colour planes
        PutLE16(out, 32);  // bits per pixel
        PutLE32(out, png.size());
        PutLE32(out, offset);
        offset += png.size();
    }
    for (const auto& image : images) out.append(image.second);
    QFile f(file);
    return f.open(QIODevice::WriteOnly) && f.write(out) == out.size();
}

// NSIS's welcome and finish pages: 164 x 314 pixels, a 24-bit bitmap.
bool WriteWizardPicture(const QString& file) {
    QImage page(164, 314, QImage::Format_RGB32);
    page.fill(Qt::white);
    QPainter painter(&page);
    painter.drawPixmap((page.width() - 128) / 2, 48, camwarden::QuilloryPixmap(128));
    painter.end();
    return page.save(file, "BMP");
}

}  // namespace

int main(int argc, char* argv[]) {
    const QGuiApplication app(argc, argv);
    if (argc == 3 && std::strcmp(argv[1], "--ico") == 0)
        return WriteIco(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
    if (argc == 3 && std::strcmp(argv[1], "--wizard") == 0)
        return WriteWizardPicture(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
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

#include "tray/QuilloryIcon.h"

#include <QPainter>
#include <QPainterPath>

namespace camwarden {

namespace {

const QColor kBackground(0xF4, 0xF4, 0xF0);
const QColor kBlue(0x10, 0x40, 0xE0);

qreal OutlineWidth(qreal size) {
    return std::max(1.0, size / 22.0);
}

// Drawn as shapes rather than a glyph so it looks the same without fonts.
QPainterPath Shape(qreal s) {
    const QRectF outer(s * 0.12, s * 0.08, s * 0.72, s * 0.76);
    const qreal stroke = s * 0.17;
    QPainterPath ring;
    ring.addEllipse(outer);
    ring.addEllipse(outer.adjusted(stroke, stroke, -stroke, -stroke));
    ring.setFillRule(Qt::OddEvenFill);

    QPainterPath tail;
    tail.moveTo(s * 0.60, s * 0.66);
    tail.lineTo(s * 0.70, s * 0.60);
    tail.lineTo(s * 0.94, s * 0.88);
    tail.lineTo(s * 0.78, s * 0.95);
    tail.closeSubpath();

    return ring.united(tail);
}

}  // namespace

QPixmap QuilloryPixmap(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(kBackground);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::black, OutlineWidth(size), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(kBlue);
    painter.drawPath(Shape(size));
    return pixmap;
}

QByteArray QuilloryIconSvg(int size) {
    const QPainterPath q = Shape(size);
    QString data;
    for (int i = 0; i < q.elementCount(); ++i) {
        const QPainterPath::Element e = q.elementAt(i);
        const auto at = [](const QPainterPath::Element& p) {
            return QStringLiteral("%1 %2 ").arg(p.x, 0, 'f', 2).arg(p.y, 0, 'f', 2);
        };
        if (e.isMoveTo()) {
            data += QLatin1String("M") + at(e);
        } else if (e.isLineTo()) {
            data += QLatin1String("L") + at(e);
        } else if (e.isCurveTo() && i + 2 < q.elementCount()) {
            data += QLatin1String("C") + at(e) + at(q.elementAt(i + 1)) + at(q.elementAt(i + 2));
            i += 2;
        }
    }
    const QString svg = QStringLiteral(
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%1\" height=\"%1\" "
        "viewBox=\"0 0 %1 %1\">\n"
        "  <rect width=\"%1\" height=\"%1\" fill=\"%2\"/>\n"
        "  <path d=\"%3\" fill=\"%4\" fill-rule=\"%5\" stroke=\"#000000\" "
        "stroke-width=\"%6\" stroke-linecap=\"round\" stroke-linejoin=\"round\"/>\n"
        "</svg>\n");
    return svg.arg(size)
        .arg(
            kBackground.name(), data.trimmed(), kBlue.name(),
            q.fillRule() == Qt::OddEvenFill ? QStringLiteral("evenodd") : QStringLiteral("nonzero"))
        .arg(OutlineWidth(size))
        .toUtf8();
}

QIcon QuilloryIcon() {
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128, 256}) icon.addPixmap(QuilloryPixmap(size));
    return icon;
}

}  // namespace camwarden

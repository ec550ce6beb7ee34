#include "tray/QuilloryIcon.h"

#include <QPainter>
#include <QPainterPath>

namespace camwarden {

QPixmap QuilloryPixmap(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(QColor(0xF4, 0xF4, 0xF0));

    // Drawn as shapes rather than a glyph so it looks the same without fonts.
    const qreal s = size;
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

    const QPainterPath q = ring.united(tail);

    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(
        QPen(Qt::black, std::max(1.0, s / 22.0), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(QColor(0x10, 0x40, 0xE0));
    painter.drawPath(q);
    return pixmap;
}

QIcon QuilloryIcon() {
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128, 256}) icon.addPixmap(QuilloryPixmap(size));
    return icon;
}

}  // namespace camwarden

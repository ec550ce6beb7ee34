#include "app/ClassicStyle.h"

#include <QPainter>
#include <QStyleFactory>
#include <QStyleOptionFrame>

namespace camwarden {

ClassicStyle::ClassicStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Windows"))) {}

void ClassicStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option,
                                 QPainter* painter, const QWidget* widget) const {
    const auto* frame = qstyleoption_cast<const QStyleOptionFrame*>(option);
    const bool plainGroupFrame =
        element == PE_FrameGroupBox && frame && !(frame->features & QStyleOptionFrame::Flat) &&
        frame->lineWidth == 1 && frame->midLineWidth == 0 && frame->rect.width() >= 4 &&
        frame->rect.height() >= 4 && painter->device()->devicePixelRatio() == 1.0 &&
        painter->transform().isIdentity();
    if (!plainGroupFrame) {
        QProxyStyle::drawPrimitive(element, option, painter, widget);
        return;
    }
    // The sunken shade rectangle: a dark outline one pixel in from the
    // bottom right, and a light one inside it that closes the bottom right.
    const QRect r = frame->rect;
    const int x1 = r.x();
    const int y1 = r.y();
    const int x2 = r.x() + r.width() - 1;
    const int y2 = r.y() + r.height() - 1;
    const QColor dark = frame->palette.dark().color();
    const QColor light = frame->palette.light().color();
    painter->fillRect(QRect(x1, y1, r.width() - 1, 1), dark);
    painter->fillRect(QRect(x1, y2 - 1, r.width() - 1, 1), dark);
    painter->fillRect(QRect(x1, y1, 1, r.height() - 1), dark);
    painter->fillRect(QRect(x2 - 1, y1, 1, r.height() - 1), dark);
    painter->fillRect(QRect(x1 + 1, y1 + 1, r.width() - 3, 1), light);
    painter->fillRect(QRect(x1 + 1, y1 + 2, 1, r.height() - 4), light);
    painter->fillRect(QRect(x1, y2, r.width(), 1), light);
    painter->fillRect(QRect(x2, y1, 1, r.height() - 1), light);
}

}  // namespace camwarden

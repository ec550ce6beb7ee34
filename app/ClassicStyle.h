#pragma once

#include <QProxyStyle>

namespace camwarden {

// Qt's classic "Windows" style, with one drawing done the cheap way: the
// sunken frame around each group. The status frame is redrawn every second
// for its countdown, and the base style strokes its eight one-pixel lines
// through the general line path; filled rectangles give the same pixels for
// a fraction of the work.
class ClassicStyle : public QProxyStyle {
public:
    ClassicStyle();
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override;
};

}  // namespace camwarden

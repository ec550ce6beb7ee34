#pragma once

#include <QIcon>
#include <QPixmap>

namespace camwarden {

// The blue "Q" (for Quillory) the user is told to click to get the window
// back: a blue capital Q with a black outline on a light background.
QPixmap QuilloryPixmap(int size);

// All sizes, 16 × 16 for the tray up to 256 × 256 for the desktop.
QIcon QuilloryIcon();

// The same picture as a scalable image, for the desktop's icon theme.
QByteArray QuilloryIconSvg(int size = 256);

}  // namespace camwarden

#include "tray/TrayShell.h"

namespace camwarden {

QString FitTrayText(const QString& text, qsizetype capacity) {
    if (text.size() <= capacity) return text;
    qsizetype cut = capacity;
    if (cut > 0 && text.at(cut - 1).isHighSurrogate()) --cut;
    return text.left(cut);
}

}  // namespace camwarden

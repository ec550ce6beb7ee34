#include "app/VbConvert.h"

#include "app/VbError.h"

#include <QLocale>
#include <cmath>
#include <limits>

namespace camwarden {
namespace {

double ParseNumber(const QString& text) {
    const QString t = text.trimmed();
    if (t.isEmpty()) throw VbError::TypeMismatch();
    bool ok = false;
    double value = QLocale().toDouble(t, &ok);
    // Settings written under another locale still hold plain decimal text.
    if (!ok) value = QLocale::c().toDouble(t, &ok);
    if (!ok || !std::isfinite(value)) throw VbError::TypeMismatch();
    return value;
}

template <typename Int>
Int RoundToInt(double value) {
    // nearbyint rounds half to even in the default rounding mode.
    const double rounded = std::nearbyint(value);
    if (rounded < static_cast<double>(std::numeric_limits<Int>::min()) ||
        rounded > static_cast<double>(std::numeric_limits<Int>::max())) {
        throw VbError::Overflow();
    }
    return static_cast<Int>(rounded);
}

}  // namespace

int16_t CInt(const QString& text) {
    return RoundToInt<int16_t>(ParseNumber(text));
}

int32_t CLng(const QString& text) {
    return RoundToInt<int32_t>(ParseNumber(text));
}

int16_t MulInt16(int16_t a, int16_t b) {
    const int32_t product = int32_t{a} * int32_t{b};
    if (product < std::numeric_limits<int16_t>::min() ||
        product > std::numeric_limits<int16_t>::max()) {
        throw VbError::Overflow();
    }
    return static_cast<int16_t>(product);
}

}  // namespace camwarden

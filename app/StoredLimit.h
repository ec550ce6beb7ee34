#pragma once

#include "app/Logging.h"

#include <QString>
#include <optional>
#include <utility>

namespace camwarden {

// One rule for every limit the window keeps (folder size, clip age, active
// hours). A limit is on only when its switch is "On" and its number usable;
// a switch that is neither "On" nor "Off", or a number that cannot be used,
// is a limit the window cannot show, so it shows it off and the log says so.
// No number at all is the number the box showed when the switch was stored
// (a switch stored without it is a tick on the box as it stood). The number
// to show, and whether the box is ticked.
template <typename Number>
std::pair<Number, bool> StoredLimit(const QString& on, const QString& number,
                                    std::optional<Number> usable, Number shown, const QString& what,
                                    const QString& unit, const QString& range) {
    const bool switched = on == QLatin1String("On") || on == QLatin1String("Off");
    if (number.isEmpty()) usable = shown;
    if (!switched || !usable)
        qCWarning(lcApp).noquote()
            << QStringLiteral(
                   "The stored %1 \"%2\" (%3 %4) cannot be used (On or "
                   "Off, and %5): the limit is off")
                   .arg(what, on, number.isEmpty() ? QStringLiteral("no") : number, unit, range);
    return {usable.value_or(shown), switched && usable && on == QLatin1String("On")};
}

}  // namespace camwarden

#pragma once

#include <QString>

#include "storage/System.h"

namespace camwarden::store {

// Why what was found is none of the program's files; empty when it may be one.
inline QString NotOurs(const sys::Found& found) {
    if (found.link) return QStringLiteral("it is a link");
    if (!found.plain) return QStringLiteral("it is not a plain file");
    if (!found.mine) return QStringLiteral("it belongs to another user");
    return {};
}

}  // namespace camwarden::store

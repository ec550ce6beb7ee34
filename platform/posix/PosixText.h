#pragma once

#include <QString>
#include <cstring>

namespace camwarden::posix {

// The system's own words for an errno value.
inline QString ErrnoText(int err) {
    return QString::fromLocal8Bit(std::strerror(err));
}

}  // namespace camwarden::posix

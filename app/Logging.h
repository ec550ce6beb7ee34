#pragma once

#include <QLoggingCategory>

namespace camwarden {
// Start-up, shutdown and error reports of the program as a whole.
Q_DECLARE_LOGGING_CATEGORY(lcApp)
}  // namespace camwarden

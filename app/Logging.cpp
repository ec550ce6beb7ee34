#include "app/Logging.h"

namespace camwarden {
Q_LOGGING_CATEGORY(lcApp, "camwarden.app")
}  // namespace camwarden

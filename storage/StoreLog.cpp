#include "storage/StoreLog.h"

namespace camwarden::store {
// The name the capture layer logs under: the store's lines have always been
// filed with its own, and the fault scripts and tests look for them there.
Q_LOGGING_CATEGORY(lcStore, "camwarden.gst")
}  // namespace camwarden::store

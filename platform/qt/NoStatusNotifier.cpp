#include "platform/qt/StatusNotifierTrays.h"

namespace camwarden {

std::unique_ptr<StatusNotifierTrays> SessionStatusNotifierTrays() {
    return nullptr;
}

}  // namespace camwarden

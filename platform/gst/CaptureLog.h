#pragma once

#include <QLoggingCategory>

namespace camwarden::capgst {
Q_DECLARE_LOGGING_CATEGORY(lcCapture)
}

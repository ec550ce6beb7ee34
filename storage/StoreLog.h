#pragma once

#include <QLoggingCategory>

namespace camwarden::store {
Q_DECLARE_LOGGING_CATEGORY(lcStore)
}

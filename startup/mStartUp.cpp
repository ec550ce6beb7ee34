#include "startup/mStartUp.h"

#include <QFileInfo>

#include "startup/RegStuff.h"

namespace camwarden::mStartUp {

bool AddStartupEntry(Registry& registry, const QString& executablePath) {
    const QFileInfo exe(executablePath);
    if (executablePath.isEmpty() || exe.fileName().isEmpty()) return false;
    return RegStuff::SetRunValue(registry, exe.path(), exe.fileName()) == ErrorSuccess;
}

bool RemoveStartupEntry(Registry& registry, const QString& executablePath) {
    const QFileInfo exe(executablePath);
    if (executablePath.isEmpty() || exe.fileName().isEmpty()) return true;
    const std::int32_t result = RegStuff::DeleteRunValue(registry, exe.fileName());
    return result == ErrorSuccess || result == ErrorFileNotFound;
}

}  // namespace camwarden::mStartUp

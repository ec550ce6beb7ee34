#include "startup/RegStuff.h"

#include <QDir>
#include <limits>

#include "app/VbError.h"

namespace camwarden::RegStuff {

QString RunValueData(const QString& ProgramFolder, const QString& ExeName) {
    QString path = QDir::toNativeSeparators(ProgramFolder);
    if (!path.endsWith(QDir::separator())) path += QDir::separator();
    path += ExeName;
    // Quoted so that a folder with blanks is not read as a program plus arguments.
    return QLatin1Char('"') + path + QLatin1Char('"');
}

std::int32_t SetRunValue(Registry& registry, const QString& ProgramFolder, const QString& ExeName) {
    // Not the machine's key: an ordinary user may not write there, and the
    // box would say "on" while nothing starts the program.
    return WriteRegistryValue(registry, HkeyCurrentUser, QString::fromLatin1(RunSubKey), ExeName,
                              RunValueData(ProgramFolder, ExeName), RegSz);
}

std::int32_t DeleteRunValue(Registry& registry, const QString& ExeName) {
    const QString key = QString::fromLatin1(RunSubKey);
    const std::int32_t user = DeleteRegistryValue(registry, HkeyCurrentUser, key, ExeName);
    // The earlier version was a 32-bit program: its value is in the 32-bit
    // view of the machine's key. A key that refuses is left as it is.
    bool machine = false;
    for (const std::uint32_t view : {KeyWow64_32Key, std::uint32_t{0}}) {
        if (DeleteRegistryValue(registry, HkeyLocalMachine, key, ExeName, KeyAccess | view) ==
            ErrorSuccess)
            machine = true;
    }
    return user == ErrorFileNotFound && machine ? ErrorSuccess : user;
}

std::int32_t WriteRegistryValue(Registry& registry, std::uint32_t Root, const QString& SubKey,
                                const QString& ValueName, const QVariant& Value,
                                std::uint32_t ValueType) {
    Registry::Handle key = 0;
    const std::int32_t opened = registry.RegOpenKeyEx(Root, SubKey, 0, KeyAccess, key);
    if (opened != ErrorSuccess) return opened;
    std::int32_t result = ErrorSuccess;
    try {
        result = SetRegistryValue(registry, key, ValueName, ValueType, Value);
    } catch (...) {
        registry.RegCloseKey(key);
        throw;
    }
    registry.RegCloseKey(key);
    return result;
}

std::int32_t SetRegistryValue(Registry& registry, Registry::Handle KeyHandle,
                              const QString& ValueName, std::uint32_t ValueType,
                              const QVariant& Value) {
    switch (ValueType) {
        case RegSz:
            return registry.RegSetValueEx(KeyHandle, ValueName, RegSz, Value.toString());
        case RegDword: {
            bool ok = false;
            const qlonglong number = Value.toLongLong(&ok);
            if (!ok) throw VbError::TypeMismatch();
            if (number < std::numeric_limits<std::int32_t>::min() ||
                number > std::numeric_limits<std::int32_t>::max()) {
                throw VbError::Overflow();
            }
            return registry.RegSetValueEx(KeyHandle, ValueName, RegDword,
                                          static_cast<std::int32_t>(number));
        }
        default:
            return ErrorSuccess;
    }
}

std::int32_t DeleteRegistryValue(Registry& registry, std::uint32_t Root, const QString& SubKey,
                                 const QString& ValueName, std::uint32_t Access) {
    Registry::Handle key = 0;
    const std::int32_t opened = registry.RegOpenKeyEx(Root, SubKey, 0, Access, key);
    if (opened != ErrorSuccess) return opened;
    const std::int32_t result = registry.RegDeleteValue(key, ValueName);
    registry.RegCloseKey(key);
    return result;
}

}  // namespace camwarden::RegStuff

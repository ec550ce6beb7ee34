#pragma once

#include <QString>
#include <set>

#include "startup/Registry.h"

namespace camwarden {

// The Run key as a Linux session knows it: each value is one desktop entry
// in the per-user autostart folder, whose Exec runs the value's program.
// Other keys do not exist here.
class XdgAutostartRegistry final : public Registry {
public:
    // `displayName` is the entry's Name, as session settings list it.
    // The icon and comment, when given, make the entry look like the
    // program's own in the session's list of start-up programs.
    XdgAutostartRegistry(QString autostartFolder, QString displayName, QString iconName = {},
                         QString comment = {});

    // $XDG_CONFIG_HOME/autostart, or ~/.config/autostart without it.
    static QString DefaultAutostartFolder();

    // Where the entry for a value of this name lives.
    QString EntryPath(const QString& valueName) const;

    // The complete entry that would run `command` (a program path, possibly
    // in double quotes).
    QString EntryText(const QString& command) const;

    std::int32_t RegOpenKeyEx(std::uint32_t root, const QString& subKey, std::uint32_t options,
                              std::uint32_t access, Handle& result) override;
    std::int32_t RegSetValueEx(Handle key, const QString& valueName, std::uint32_t type,
                               const RegistryData& data) override;
    std::int32_t RegDeleteValue(Handle key, const QString& valueName) override;
    std::int32_t RegCloseKey(Handle key) override;

private:
    QString folder_;
    QString displayName_;
    QString iconName_;
    QString comment_;
    Handle nextHandle_ = 1;
    std::set<Handle> open_;
};

}  // namespace camwarden

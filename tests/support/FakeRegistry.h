#pragma once

#include <QString>
#include <map>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "startup/Registry.h"

namespace camwarden::testing {

// An in-memory registry. Keys exist once opened; as in the real one their
// names ignore case and a trailing backslash, and a key opened without the
// right to set values refuses changes. A test can make any call fail with a
// chosen code, and every call is logged.
class FakeRegistry final : public Registry {
public:
    struct Value {
        std::uint32_t type;
        RegistryData data;
    };
    struct Opened {
        std::uint32_t root;
        QString subKey;
        std::uint32_t options;
        std::uint32_t access;
    };

    std::optional<std::int32_t> failOpen;
    std::optional<std::int32_t> failSet;
    std::optional<std::int32_t> failDelete;
    // Roots whose keys refuse to open, as the machine's does an ordinary user.
    std::set<std::uint32_t> refusedRoots;

    std::vector<Opened> opens;
    int sets = 0;
    int deletes = 0;
    int closes = 0;

    std::int32_t RegOpenKeyEx(std::uint32_t root, const QString& subKey, std::uint32_t options,
                              std::uint32_t access, Handle& result) override {
        opens.push_back({root, subKey, options, access});
        result = 0;
        if (failOpen) return *failOpen;
        if (refusedRoots.contains(root)) return ErrorAccessDenied;
        result = nextHandle_++;
        openKeys_[result] = {Key{root, Normal(subKey)}, access};
        return ErrorSuccess;
    }

    std::int32_t RegSetValueEx(Handle key, const QString& valueName, std::uint32_t type,
                               const RegistryData& data) override {
        ++sets;
        const auto it = openKeys_.find(key);
        if (it == openKeys_.end()) return ErrorInvalidHandle;
        if (!(it->second.access & kSetValue)) return ErrorAccessDenied;
        if (failSet) return *failSet;
        values_[it->second.key][valueName] = Value{type, data};
        return ErrorSuccess;
    }

    std::int32_t RegDeleteValue(Handle key, const QString& valueName) override {
        ++deletes;
        const auto it = openKeys_.find(key);
        if (it == openKeys_.end()) return ErrorInvalidHandle;
        if (!(it->second.access & kSetValue)) return ErrorAccessDenied;
        if (failDelete) return *failDelete;
        return values_[it->second.key].erase(valueName) == 1 ? ErrorSuccess : ErrorFileNotFound;
    }

    std::int32_t RegCloseKey(Handle key) override {
        ++closes;
        return openKeys_.erase(key) == 1 ? ErrorSuccess : ErrorInvalidHandle;
    }

    // The value as stored under root and sub-key, if any.
    std::optional<Value> value(std::uint32_t root, const QString& subKey,
                               const QString& valueName) const {
        const auto key = values_.find({root, Normal(subKey)});
        if (key == values_.end()) return std::nullopt;
        const auto v = key->second.find(valueName);
        if (v == key->second.end()) return std::nullopt;
        return v->second;
    }
    // Text data of a REG_SZ value, empty when absent.
    QString text(std::uint32_t root, const QString& subKey, const QString& valueName) const {
        const auto v = value(root, subKey, valueName);
        if (!v) return {};
        const auto* s = std::get_if<QString>(&v->data);
        return s ? *s : QString();
    }
    std::size_t valueCount() const {
        std::size_t n = 0;
        for (const auto& [key, values] : values_) n += values.size();
        return n;
    }
    bool allClosed() const { return openKeys_.empty(); }

private:
    using Key = std::pair<std::uint32_t, QString>;
    struct OpenKey {
        Key key;
        std::uint32_t access;
    };
    static constexpr std::uint32_t kSetValue = 0x0002;
    static QString Normal(QString subKey) {
        while (subKey.endsWith(QLatin1Char('\\'))) subKey.chop(1);
        return subKey.toUpper();
    }
    Handle nextHandle_ = 0x100;
    std::map<Handle, OpenKey> openKeys_;
    std::map<Key, std::map<QString, Value>> values_;
};

}  // namespace camwarden::testing

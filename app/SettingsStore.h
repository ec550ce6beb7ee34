#pragma once

#include <QString>
#include <memory>

class QSettings;

namespace camwarden {

inline constexpr char kAppName[] = "Quillory";
inline constexpr char kSection[] = "Camwarden";

// The per-user store of the program's choices. Every write goes to the
// store at once; nothing is cached and nothing is written at shutdown.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    virtual QString ReadSetting(const QString& application, const QString& section,
                                const QString& key, const QString& defaultValue) = 0;
    virtual void WriteSetting(const QString& application, const QString& section,
                              const QString& key, const QString& value) = 0;

    // The program's own application and section.
    QString Read(const QString& key, const QString& defaultValue) {
        return ReadSetting(QLatin1String(kAppName), QLatin1String(kSection), key, defaultValue);
    }
    void Write(const QString& key, const QString& value) {
        WriteSetting(QLatin1String(kAppName), QLatin1String(kSection), key, value);
    }
};

// QSettings: an INI file under the user's config folder on Linux and macOS
// ($XDG_CONFIG_HOME/Quillory/Quillory.ini), the registry branch the
// settings have always lived in on Windows.
class QSettingsStore final : public SettingsStore {
public:
    QSettingsStore();
    // For tests and tools: an explicit INI file.
    explicit QSettingsStore(const QString& iniPath);
    ~QSettingsStore() override;

    QString ReadSetting(const QString& application, const QString& section, const QString& key,
                        const QString& defaultValue) override;
    void WriteSetting(const QString& application, const QString& section, const QString& key,
                      const QString& value) override;

private:
    QSettings& For(const QString& application);

    QString iniPath_;
    std::unique_ptr<QSettings> settings_;
    QString application_;
};

}  // namespace camwarden

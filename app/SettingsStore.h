#pragma once

#include <QDateTime>
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
    virtual bool ContainsSetting(const QString& application, const QString& section,
                                 const QString& key) = 0;

    // The program's own application and section.
    QString Read(const QString& key, const QString& defaultValue) {
        return ReadSetting(QLatin1String(kAppName), QLatin1String(kSection), key, defaultValue);
    }
    bool Contains(const QString& key) {
        return ContainsSetting(QLatin1String(kAppName), QLatin1String(kSection), key);
    }
    void Write(const QString& key, const QString& value) {
        WriteSetting(QLatin1String(kAppName), QLatin1String(kSection), key, value);
    }
};

// QSettings: an INI file under the user's config folder on Linux and macOS
// ($XDG_CONFIG_HOME/Quillory/Quillory.ini), the registry branch the
// settings have always lived in on Windows.
//
// QSettings writes the whole file back from what it parsed, so a file it
// cannot read whole would lose what it could not read. Such a file is kept
// aside as "<file>.unreadable" (".unreadable.2", ... when an earlier one is
// there) before anything is written to it, and the store goes on with
// what could be read.
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
    bool ContainsSetting(const QString& application, const QString& section,
                         const QString& key) override;

private:
    QSettings& For(const QString& application);
    // The INI file of an application; empty where the settings are no file.
    QString IniFile(const QString& application) const;
    std::unique_ptr<QSettings> Open(const QString& application) const;
    void KeepIfUnreadable(const QString& file);
    void Seen(const QString& file);
    bool ChangedSinceSeen(const QString& file) const;

    QString iniPath_;
    std::unique_ptr<QSettings> settings_;
    QString application_;
    // The file as it was last checked or written, to check it again only
    // when someone else has changed it since.
    qint64 seenSize_ = -1;
    QDateTime seenModified_;
    // False while the file could not be read whole and could not be kept
    // aside: writing would destroy what is left of it.
    bool writable_ = true;
};

}  // namespace camwarden

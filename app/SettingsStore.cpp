#include "app/SettingsStore.h"

#include <QLoggingCategory>
#include <QSettings>
#include <QStandardPaths>

Q_LOGGING_CATEGORY(lcSettings, "camwarden.settings")

namespace camwarden {

QSettingsStore::QSettingsStore() = default;

QSettingsStore::QSettingsStore(const QString& iniPath) : iniPath_(iniPath) {}

QSettingsStore::~QSettingsStore() = default;

QSettings& QSettingsStore::For(const QString& application) {
    if (!settings_ || application != application_) {
        application_ = application;
        if (!iniPath_.isEmpty()) {
            settings_ = std::make_unique<QSettings>(iniPath_, QSettings::IniFormat);
        } else {
#ifdef Q_OS_WIN
            settings_ = std::make_unique<QSettings>(
                QStringLiteral("HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings\\") +
                    application,
                QSettings::NativeFormat);
#else
            // Resolved on every open: QSettings would remember the first config
            // home of the process.
            const QString home =
                QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
            settings_ = std::make_unique<QSettings>(
                home + QLatin1Char('/') + application + QLatin1Char('/') + application + ".ini",
                QSettings::IniFormat);
#endif
        }
    }
    return *settings_;
}

QString QSettingsStore::ReadSetting(const QString& application, const QString& section,
                                    const QString& key, const QString& defaultValue) {
    QSettings& s = For(application);
    s.sync();  // another process (or the user) may have changed the file
    const QVariant v = s.value(section + QLatin1Char('/') + key);
    return v.isValid() ? v.toString() : defaultValue;
}

void QSettingsStore::WriteSetting(const QString& application, const QString& section,
                                  const QString& key, const QString& value) {
    QSettings& s = For(application);
    s.setValue(section + QLatin1Char('/') + key, value);
    s.sync();
    if (s.status() != QSettings::NoError)
        qCWarning(lcSettings) << "could not store" << key << "in" << s.fileName();
}

}  // namespace camwarden

#include "app/SettingsStore.h"

#include <QFile>
#include <QLoggingCategory>
#include <QSettings>
#include <QStandardPaths>

Q_LOGGING_CATEGORY(lcSettings, "camwarden.settings")

namespace camwarden {

namespace {

// The value as it stands in the file, for one QSettings would turn into
// something else: an unquoted comma makes a list of it, "@Variant(" or
// "@ByteArray(" a typed value. Either would come back as "" or garbage.
QString RawIniText(const QString& file, const QString& section, const QString& key) {
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
    const QString header = QLatin1Char('[') + section + QLatin1Char(']');
    bool inSection = false;
    QString found;  // the last one counts, as it does for QSettings
    while (!f.atEnd()) {
        const QString line = QString::fromUtf8(f.readLine()).trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inSection = line == header;
        } else if (inSection) {
            const qsizetype eq = line.indexOf(QLatin1Char('='));
            if (eq > 0 && line.left(eq).trimmed() == key) found = line.mid(eq + 1).trimmed();
        }
    }
    return found;
}

}  // namespace

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
    const QString name = section + QLatin1Char('/') + key;
    if (!s.contains(name)) return defaultValue;
    const QVariant v = s.value(name);
    if (v.typeId() == QMetaType::QString) return v.toString();
    return RawIniText(s.fileName(), section, key);
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

#include "app/SettingsStore.h"

#include "platform/Os.h"

#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSaveFile>
#include <QSettings>
#include <QStringDecoder>
#include <QTemporaryFile>
#include <optional>

Q_LOGGING_CATEGORY(lcSettings, "camwarden.settings")

namespace camwarden {

namespace {

// The value as it stands in the file, for one QSettings would turn into
// something else: an unquoted comma makes a list of it, "@Variant(" or
// "@ByteArray(" a typed value. Either would come back as "" or garbage.
std::optional<QString> RawIniText(const QString& file, const QString& section, const QString& key) {
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) return std::nullopt;
    const QString header = QLatin1Char('[') + section + QLatin1Char(']');
    bool inSection = false;
    std::optional<QString> found;  // the last one counts, as it does for QSettings
    while (!f.atEnd()) {
        const QString line = QString::fromUtf8(f.readLine()).trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inSection = line == header;
        } else if (inSection) {
            const qsizetype eq = line.indexOf(QLatin1Char('='));
            // Keys stand in the file as QSettings writes them: "Size%20Limit".
            const QString named = QString::fromUtf8(
                QByteArray::fromPercentEncoding(line.left(eq).trimmed().toUtf8()));
            if (eq > 0 && named == key) found = line.mid(eq + 1).trimmed();
        }
    }
    return found;
}

// QSettings writes the whole file back in its own form: a hand-typed
// "1,800" would come back as "1, 800" and "@Variant(...)" as what it stands
// for. The section's values go back as the text they were.
void KeepTypedValuesAsText(QSettings& s, const QString& section) {
    s.beginGroup(section);
    const QStringList keys = s.childKeys();
    for (const QString& key : keys) {
        if (s.value(key).typeId() == QMetaType::QString) continue;
        if (const auto raw = RawIniText(s.fileName(), section, key)) s.setValue(key, *raw);
    }
    s.endGroup();
}

// Why QSettings would not read these bytes whole; empty when it would.
QString WhyUnreadable(const QByteArray& bytes) {
    if (bytes.contains('\0')) return QStringLiteral("it holds NUL bytes");
    QStringDecoder utf8(QStringDecoder::Utf8);
    [[maybe_unused]] const QString text = utf8(bytes);
    if (utf8.hasError()) return QStringLiteral("it is not UTF-8 text");
    // Parsed from a copy of its own: QSettings keeps what it once read of a
    // file, and reports a parse error to the first reader only.
    QTemporaryFile copy;
    if (!copy.open() || copy.write(bytes) != bytes.size() || !copy.flush()) return {};
    QSettings parsed(copy.fileName(), QSettings::IniFormat);
    (void)parsed.allKeys();  // parses every section, not only those asked for
    if (parsed.status() == QSettings::FormatError)
        return QStringLiteral("it has lines that are not settings");
    return {};
}

// What a crash leaves in a file is a run of NUL bytes where it was never
// written. A line after such a run is whole; a line with a run inside or at
// its end has lost part of itself, and is left out.
QByteArray WithoutNulRuns(const QByteArray& bytes) {
    QList<QByteArray> lines = bytes.split('\n');
    for (QByteArray& line : lines) {
        qsizetype start = 0;
        while (start < line.size() && line.at(start) == '\0') ++start;
        line.remove(0, start);
        if (line.contains('\0')) line.clear();
    }
    return lines.join('\n');
}

// Keeps the bytes as "<file>.unreadable", or ".unreadable.2" and on when an
// earlier copy holds something else. Returns the copy's name; empty when
// none could be made.
QString KeepAside(const QString& file, const QByteArray& bytes) {
    for (int n = 1; n < 100; ++n) {
        QString name = file + QStringLiteral(".unreadable");
        if (n > 1) name += QLatin1Char('.') + QString::number(n);
        QFile reserved(name);
        if (!reserved.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            if (!reserved.exists()) return {};
            QFile earlier(name);
            if (earlier.open(QIODevice::ReadOnly) && earlier.readAll() == bytes) return name;
            continue;
        }
        reserved.close();
        // Written in full and synced before the file itself is written over.
        QSaveFile copy(name);
        if (copy.open(QIODevice::WriteOnly) && copy.write(bytes) == bytes.size() && copy.commit())
            return name;
        QFile::remove(name);
        return {};
    }
    return {};
}

}  // namespace

QSettingsStore::QSettingsStore() = default;

QSettingsStore::QSettingsStore(const QString& iniPath) : iniPath_(iniPath) {}

QSettingsStore::~QSettingsStore() = default;

QString QSettingsStore::IniFile(const QString& application) const {
    if (!iniPath_.isEmpty()) return iniPath_;
    return os::SettingsFile(application);
}

std::unique_ptr<QSettings> QSettingsStore::Open(const QString& application) const {
    const QString file = IniFile(application);
    if (!file.isEmpty()) return std::make_unique<QSettings>(file, QSettings::IniFormat);
    return std::make_unique<QSettings>(os::SettingsKey(application), QSettings::NativeFormat);
}

QSettings& QSettingsStore::For(const QString& application) {
    if (!settings_ || application != application_) {
        application_ = application;
        // Checked before QSettings first reads it, so it reads what was recovered.
        if (const QString file = IniFile(application); !file.isEmpty()) KeepIfUnreadable(file);
        settings_ = Open(application);
    }
    return *settings_;
}

void QSettingsStore::KeepIfUnreadable(const QString& file) {
    writable_ = true;
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) return;  // none yet, or QSettings will fail on it and say so
    const QByteArray bytes = f.readAll();
    f.close();
    const QString why = WhyUnreadable(bytes);
    if (why.isEmpty()) {
        Seen(file);
        return;
    }
    const QString kept = KeepAside(file, bytes);
    if (kept.isEmpty()) {
        writable_ = false;
        qCWarning(lcSettings).noquote()
            << QStringLiteral(
                   "%1 cannot be read whole (%2) and cannot be kept aside; nothing is stored in it")
                   .arg(file, why);
        return;
    }
    const QByteArray readable = WithoutNulRuns(bytes);
    if (readable != bytes) {
        QSaveFile recovered(file);
        if (recovered.open(QIODevice::WriteOnly)) {
            recovered.write(readable);
            recovered.commit();
        }
    }
    qCWarning(lcSettings).noquote()
        << QStringLiteral(
               "%1 could not be read whole (%2); kept as %3, going on with what could "
               "be read")
               .arg(file, why, kept);
    Seen(file);
}

void QSettingsStore::Seen(const QString& file) {
    const QFileInfo info(file);
    seenSize_ = info.exists() ? info.size() : -1;
    seenModified_ = info.lastModified();
}

bool QSettingsStore::ChangedSinceSeen(const QString& file) const {
    const QFileInfo info(file);
    return (info.exists() ? info.size() : -1) != seenSize_ || info.lastModified() != seenModified_;
}

QString QSettingsStore::ReadSetting(const QString& application, const QString& section,
                                    const QString& key, const QString& defaultValue) {
    QSettings& s = For(application);
    s.sync();  // another process (or the user) may have changed the file
    const QString name = section + QLatin1Char('/') + key;
    if (!s.contains(name)) return defaultValue;
    const QVariant v = s.value(name);
    if (v.typeId() == QMetaType::QString) return v.toString();
    // A registry value another program stored as a number reads as one.
    if (IniFile(application).isEmpty()) return v.toString();
    return RawIniText(s.fileName(), section, key).value_or(QString());
}

bool QSettingsStore::ContainsSetting(const QString& application, const QString& section,
                                     const QString& key) {
    QSettings& s = For(application);
    s.sync();
    return s.contains(section + QLatin1Char('/') + key);
}

void QSettingsStore::WriteSetting(const QString& application, const QString& section,
                                  const QString& key, const QString& value) {
    For(application);
    const QString file = IniFile(application);
    const bool ini = !file.isEmpty();
    // Edited by hand while the program runs: checked again before it is written over.
    if (ini && ChangedSinceSeen(file)) {
        KeepIfUnreadable(file);
        settings_ = Open(application);
    }
    if (!writable_) {
        qCWarning(lcSettings) << "could not store" << key << "in" << settings_->fileName();
        return;
    }
    KeepTypedValuesAsText(*settings_, section);
    settings_->setValue(section + QLatin1Char('/') + key, value);
    settings_->sync();
    if (settings_->status() != QSettings::NoError) {
        // QSettings reports the first error it met for as long as it lives:
        // one from reading a damaged file, or from an earlier write, would
        // make every later write look failed. A fresh one on the same file
        // takes over the changes not yet written and tries them again, so
        // its status is this write's.
        settings_ = Open(application);
        if (settings_->status() != QSettings::NoError)
            qCWarning(lcSettings) << "could not store" << key << "in" << settings_->fileName();
    }
    if (ini) Seen(file);
}

}  // namespace camwarden

#include "platform/xdg/XdgAutostartRegistry.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>

namespace camwarden {

namespace {

bool IsRunKey(std::uint32_t root, QString subKey) {
    if (root != HkeyLocalMachine && root != HkeyCurrentUser) return false;
    while (subKey.endsWith(QLatin1Char('\\'))) subKey.chop(1);
    return subKey.compare(QLatin1String("SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\RUN"),
                          Qt::CaseInsensitive) == 0;
}

// Escapes for a desktop entry string value.
QString EscapeValue(const QString& text) {
    QString out;
    for (QChar c : text) {
        switch (c.unicode()) {
            case '\\':
                out += QLatin1String("\\\\");
                break;
            case '\n':
                out += QLatin1String("\\n");
                break;
            case '\t':
                out += QLatin1String("\\t");
                break;
            case '\r':
                out += QLatin1String("\\r");
                break;
            default:
                out += c;
        }
    }
    if (out.startsWith(QLatin1Char(' '))) out.replace(0, 1, QLatin1String("\\s"));
    return out;
}

// One quoted Exec argument: the quoting rule first, then the string escapes
// the whole value gets. A percent sign never gets here (see RegSetValueEx).
QString ExecArgument(const QString& argument) {
    QString quoted = QStringLiteral("\"");
    for (QChar c : argument) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
            c == QLatin1Char('\\')) {
            quoted += QLatin1Char('\\');
        }
        quoted += c;
    }
    quoted += QLatin1Char('"');
    return EscapeValue(quoted);
}

QString Unquoted(const QString& command) {
    if (command.size() >= 2 && command.startsWith(QLatin1Char('"')) &&
        command.endsWith(QLatin1Char('"'))) {
        return command.mid(1, command.size() - 2);
    }
    return command;
}

// Keeps the file name to the characters a desktop file ID allows.
QString FileStem(const QString& valueName) {
    QString stem;
    for (QChar c : valueName) {
        const bool plain = (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
                           (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
                           (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
                           c == QLatin1Char('-') || c == QLatin1Char('_') || c == QLatin1Char('.');
        if (plain) {
            stem += c;
        } else {
            stem += QStringLiteral("_%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        }
    }
    return stem;
}

}  // namespace

XdgAutostartRegistry::XdgAutostartRegistry(QString autostartFolder, QString displayName,
                                           QString iconName, QString comment)
    : folder_(std::move(autostartFolder)),
      displayName_(std::move(displayName)),
      iconName_(std::move(iconName)),
      comment_(std::move(comment)) {}

QString XdgAutostartRegistry::DefaultAutostartFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart");
}

QString XdgAutostartRegistry::EntryPath(const QString& valueName) const {
    return folder_ + QLatin1Char('/') + FileStem(valueName) + QStringLiteral(".desktop");
}

QString XdgAutostartRegistry::EntryText(const QString& command) const {
    QString text = QStringLiteral(
                       "[Desktop Entry]\n"
                       "Type=Application\n"
                       "Name=%1\n")
                       .arg(EscapeValue(displayName_));
    if (!comment_.isEmpty()) text += QStringLiteral("Comment=%1\n").arg(EscapeValue(comment_));
    if (!iconName_.isEmpty()) text += QStringLiteral("Icon=%1\n").arg(EscapeValue(iconName_));
    return text + QStringLiteral(
                      "Exec=%1\n"
                      "Terminal=false\n")
                      .arg(ExecArgument(Unquoted(command)));
}

std::int32_t XdgAutostartRegistry::RegOpenKeyEx(std::uint32_t root, const QString& subKey,
                                                std::uint32_t /*options*/, std::uint32_t /*access*/,
                                                Handle& result) {
    result = 0;
    if (!IsRunKey(root, subKey)) return ErrorFileNotFound;
    if (folder_.isEmpty() || !QDir().mkpath(folder_)) return ErrorAccessDenied;
    result = nextHandle_++;
    open_.insert(result);
    return ErrorSuccess;
}

std::int32_t XdgAutostartRegistry::RegSetValueEx(Handle key, const QString& valueName,
                                                 std::uint32_t type, const RegistryData& data) {
    if (!open_.contains(key)) return ErrorInvalidHandle;
    const auto* command = std::get_if<QString>(&data);
    if (type != RegSz || command == nullptr || valueName.isEmpty() || command->isEmpty()) {
        return ErrorInvalidParameter;
    }
    // A session's launcher looks the program up without undoing the "%%"
    // escape a percent sign needs, so such an entry would be valid and never
    // run: refuse it.
    if (command->contains(QLatin1Char('%'))) return ErrorInvalidParameter;
    QSaveFile file(EntryPath(valueName));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) return ErrorAccessDenied;
    const QByteArray bytes = EntryText(*command).toUtf8();
    if (file.write(bytes) != bytes.size() || !file.commit()) return ErrorWriteFault;
    return ErrorSuccess;
}

std::int32_t XdgAutostartRegistry::RegDeleteValue(Handle key, const QString& valueName) {
    if (!open_.contains(key)) return ErrorInvalidHandle;
    QFile file(EntryPath(valueName));
    if (!file.exists()) return ErrorFileNotFound;
    return file.remove() ? ErrorSuccess : ErrorAccessDenied;
}

std::int32_t XdgAutostartRegistry::RegCloseKey(Handle key) {
    return open_.erase(key) == 1 ? ErrorSuccess : ErrorInvalidHandle;
}

}  // namespace camwarden

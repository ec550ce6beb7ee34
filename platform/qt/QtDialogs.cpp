#include "platform/qt/QtDialogs.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QStandardPaths>

Q_LOGGING_CATEGORY(lcDialogs, "camwarden.dialogs")

namespace camwarden {

void QtDialogs::MsgBox(const QString& text, MsgIcon icon, const QString& title) {
    // An unattended program would otherwise pile up one box per clip.
    const bool open = open_.contains(text);
    qCInfo(lcDialogs).noquote() << (open ? "message (still open):" : "message:")
                                << QString(text).replace(QLatin1Char('\r'), "");
    if (open) return;
    open_.insert(text);
    auto* box = new QMessageBox(
        icon == MsgIcon::Exclamation ? QMessageBox::Warning : QMessageBox::NoIcon, title,
        QString(text)
            .replace(QStringLiteral("\r\n"), QStringLiteral("\n"))
            .replace(QLatin1Char('\r'), QLatin1Char('\n')),
        QMessageBox::Ok, QApplication::activeWindow());
    box->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(box, &QDialog::finished, box, [this, text] { open_.remove(text); });
    box->open();  // returns at once; timers and the tray go on
}

std::optional<QString> QtDialogs::InputBox(const QString& prompt, const QString& title,
                                           const QString& defaultText) {
    bool ok = false;
    const QString answer = QInputDialog::getText(QApplication::activeWindow(), title, prompt,
                                                 QLineEdit::Normal, defaultText, &ok);
    if (!ok) return std::nullopt;
    return answer;
}

QString QtDialogs::BrowseForFolder(QWidget* owner, const QString& title,
                                   const QString& startFolder) {
    // A folder not there (yet) opens at the nearest one that is, not at the working folder.
    QString start = startFolder;
    while (!start.isEmpty() && !QFileInfo(start).isDir()) {
        const QString up = QFileInfo(QDir::cleanPath(start)).path();
        start = up == QDir::cleanPath(start) ? QString() : up;
    }
    return QFileDialog::getExistingDirectory(owner, title, start, QFileDialog::ShowDirsOnly);
}

QString QtShellFolders::SpecialFolderPath(int folder, bool create) {
    if (folder != ShellFolders::kDesktop) return {};
    // The folder the session's user-dirs.dirs names, else ~/Desktop.
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    if (desktop.isEmpty()) return {};
    // Minimal installs have no desktop folder. Only the last level is made:
    // a home or mount point that is not there means a name gone wrong.
    if (create && !QFileInfo(desktop).isDir()) {
        if (QDir().mkdir(desktop)) {
            qCInfo(lcDialogs).noquote() << "made the desktop folder" << desktop;
        } else {
            qCWarning(lcDialogs).noquote()
                << "the desktop folder" << desktop << "is not there and cannot be made";
        }
    }
    return QDir::toNativeSeparators(desktop);
}

}  // namespace camwarden

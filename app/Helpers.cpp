#include "app/Helpers.h"

#include "app/Logging.h"
#include "app/VbError.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QWidget>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

namespace camwarden {

QChar PathSeparator() {
    return QDir::separator();
}

bool FileExists(const QString& path) {
    return !path.isEmpty() && QFileInfo(path).lastModified().isValid();
}

bool FolderExists(const QString& path) {
    return !path.isEmpty() && QFileInfo(path).isDir();
}

struct FolderProbe::Pending {
    std::mutex m;
    std::condition_variable answered;
    std::optional<bool> exists;
};

bool FolderProbe::Exists(const QString& path) {
    if (hanging_) {
        std::lock_guard lock(hanging_->m);
        if (!hanging_->exists) return true;
    }
    hanging_.reset();
    auto pending = std::make_shared<Pending>();
    std::thread([pending, look = look_, path] {
        const bool exists = look(path);
        {
            std::lock_guard lock(pending->m);
            pending->exists = exists;
        }
        pending->answered.notify_all();
    }).detach();
    std::unique_lock lock(pending->m);
    if (pending->answered.wait_for(lock, kBound, [&] { return pending->exists.has_value(); }))
        return *pending->exists;
    qCWarning(lcApp).noquote() << "The folder" << path << "does not answer; taken as there";
    hanging_ = std::move(pending);
    return true;
}

QString CleanPathWith(const QString& path, QChar separator, int leadingKeep) {
    const QString pair(2, separator);
    const QString single(1, separator);
    if (path.isEmpty() || path.front() != separator) return QString(path).replace(pair, single);
    qsizetype first = 1;
    while (first < path.size() && path.at(first) == separator) ++first;
    return QString(leadingKeep, separator) + path.mid(first).replace(pair, single);
}

QString CleanPath(const QString& path) {
    // A Windows network path keeps the two separators it starts with.
    const QChar separator = PathSeparator();
    return CleanPathWith(path, separator, separator == QLatin1Char('\\') ? 2 : 1);
}

QString DesktopFolder(ShellFolders& shell, bool create) {
    QString path = shell.SpecialFolderPath(ShellFolders::kDesktop, create);
    if (path.isEmpty()) throw VbError::InvalidArgument();
    if (!path.endsWith(PathSeparator())) path += PathSeparator();
    return path;
}

void ApplySkin(QWidget& window, const QString& programFolder) {
    const QFileInfo skin(programFolder + QStringLiteral("/x/o.cjs"));
    if (!skin.isFile() || skin.isHidden()) return;

    QFile file(skin.filePath());
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        throw VbError(75, QStringLiteral("Path/File access error"));
    // The style sheet first: setting one re-polishes the palettes below.
    window.setStyleSheet(QString::fromUtf8(file.readAll()));

    const QColor buttonFace = window.palette().color(QPalette::Button);
    auto paint = [&buttonFace](QWidget& w) {
        QPalette p = w.palette();
        p.setColor(QPalette::Window, buttonFace);
        w.setPalette(p);
        w.setAutoFillBackground(true);
    };
    paint(window);
    for (QWidget* child : window.findChildren<QWidget*>()) {
        if (qobject_cast<QCheckBox*>(child) || qobject_cast<QRadioButton*>(child) ||
            qobject_cast<QGroupBox*>(child) || qobject_cast<QLabel*>(child)) {
            paint(*child);
        }
    }
}

QString SetShortTitle(const QString& productTitle) {
    QString title = productTitle;
    // A title without a blank cannot be cut and stays whole.
    do {
        const qsizetype blank = title.lastIndexOf(QLatin1Char(' '));
        if (blank < 0) break;
        title.truncate(blank);
    } while (title.size() > 40);
    return title;
}

}  // namespace camwarden

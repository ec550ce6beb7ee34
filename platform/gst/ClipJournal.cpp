#include "platform/gst/ClipJournal.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>

#include "app/Os.h"
#include "platform/gst/CaptureLog.h"

namespace camwarden::capgst {
namespace {

// Far more than ever record at once: a list longer than this is not ours.
constexpr qint64 kMaxJournalBytes = qint64(1024) * 1024;

}  // namespace

QString ClipJournal::DefaultPath() {
    return os::StateFolder() + QStringLiteral("/unfinished-clips.json");
}

QString ClipJournal::BesidePath(const QString& settingsFile) {
    return QFileInfo(settingsFile).absolutePath() + QStringLiteral("/unfinished-clips.json");
}

ClipJournal::ClipJournal(QString path) : path_(std::move(path)) {
    if (path_.isEmpty()) return;
    QFile f(path_);
    if (!f.open(QIODevice::ReadOnly)) return;  // nothing left over
    if (f.size() > kMaxJournalBytes) {
        qCWarning(lcCapture).noquote() << "Ignoring" << path_ << ": too large for a list of clips";
        return;
    }
    // Only names of files: whatever else is in there was not written by us.
    for (const auto& v : QJsonDocument::fromJson(f.readAll()).array()) {
        const QString file = v.toString();
        if (QFileInfo(file).isAbsolute() && !listed_.contains(file)) listed_ << file;
    }
    leftovers_ = listed_;
}

QStringList ClipJournal::Leftovers() const {
    std::lock_guard lock(m_);
    return leftovers_;
}

void ClipJournal::Began(const QString& file) {
    std::lock_guard lock(m_);
    if (path_.isEmpty() || listed_.contains(file)) return;
    listed_ << file;
    Store();
}

void ClipJournal::Ended(const QString& file) {
    std::lock_guard lock(m_);
    leftovers_.removeAll(file);
    if (path_.isEmpty() || listed_.removeAll(file) == 0) return;
    Store();
}

void ClipJournal::Store() {
    if (listed_.isEmpty()) {
        QFile::remove(path_);
        return;
    }
    QDir().mkpath(QFileInfo(path_).absolutePath());
    // Written aside and renamed over, synced: a power cut leaves either list whole.
    QSaveFile f(path_);
    const bool stored = f.open(QIODevice::WriteOnly) &&
                        f.write(QJsonDocument(QJsonArray::fromStringList(listed_)).toJson()) >= 0 &&
                        f.commit();
    if (!stored && !complained_) {
        complained_ = true;
        qCWarning(lcCapture).noquote()
            << "Cannot note the clips being recorded in" << path_ << ":" << f.errorString()
            << "- a clip cut off by a crash will not be repaired at the next start";
    }
    if (stored) complained_ = false;
}

}  // namespace camwarden::capgst

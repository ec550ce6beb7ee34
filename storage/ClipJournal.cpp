#include "storage/ClipJournal.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

#include "storage/StateFile.h"
#include "storage/StoreLog.h"
#include "storage/System.h"

namespace camwarden::store {
namespace {

// Far more than ever record at once: a list longer than this is not ours.
constexpr qint64 kMaxJournalBytes = qint64(1024) * 1024;

}  // namespace

QString ClipJournal::DefaultPath() {
    return sys::StateFolder() + QStringLiteral("/unfinished-clips.json");
}

QString ClipJournal::BesidePath(const QString& settingsFile) {
    return QFileInfo(settingsFile).absolutePath() + QStringLiteral("/unfinished-clips.json");
}

ClipJournal::ClipJournal(QString path) : path_(std::move(path)) {
    if (path_.isEmpty()) return;
    QString why;
    const std::optional<QByteArray> bytes = ReadStateFile(path_, kMaxJournalBytes, &why);
    if (!bytes) {
        qCWarning(lcStore).noquote() << "Ignoring" << path_ << ":" << why;
        return;
    }
    // Only names of files: whatever else is in there was not written by us.
    for (const auto& v : QJsonDocument::fromJson(*bytes).array()) {
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

bool ClipJournal::HasLeftovers() const {
    std::lock_guard lock(m_);
    return !leftovers_.isEmpty();
}

void ClipJournal::Store() {
    if (listed_.isEmpty()) {
        RemoveStateFile(path_);
        return;
    }
    // A power cut leaves either list whole.
    QString why;
    QString replaced;
    const bool stored = ReplaceStateFile(
        path_, QJsonDocument(QJsonArray::fromStringList(listed_)).toJson(), &why, &replaced);
    if (!replaced.isEmpty())
        qCWarning(lcStore).noquote()
            << path_ << "was" << replaced + QStringLiteral(": replaced by the list itself");
    if (!stored && !complained_) {
        complained_ = true;
        qCWarning(lcStore).noquote()
            << "Cannot note the clips being recorded in" << path_ << ":" << why
            << "- a clip cut off by a crash will not be repaired at the next start";
    }
    if (stored) complained_ = false;
}

}  // namespace camwarden::store

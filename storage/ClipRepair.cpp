#include "storage/ClipRepair.h"

#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <chrono>

#include "storage/ClipFolder.h"
#include "storage/ClipJournal.h"
#include "storage/StoreLog.h"

namespace camwarden::store {

// How long putting each clip on disk takes, for whoever measures it.
Q_LOGGING_CATEGORY(lcClipDisk, "camwarden.gst.disk", QtInfoMsg)

AviRepair RepairInPlace(const ClipFile& file) {
    QFile f;
    if (!f.open(file.descriptor(), QIODevice::ReadWrite | QIODevice::Unbuffered,
                QFileDevice::DontCloseHandle)) {
        AviRepair failed;
        failed.error = f.errorString();
        return failed;
    }
    return RepairAvi(f);
}

QString PassedOver(const AviRepair& repaired) {
    if (repaired.damaged == 0) return {};
    return QStringLiteral("; %1 damaged stretches (%2 bytes) passed over")
        .arg(repaired.damaged)
        .arg(repaired.damagedBytes);
}

void RemoveFrameless(ClipFile& file) {
    file.Remove();
    qCWarning(lcStore).noquote() << "Clip" << file.path() << "removed: it holds no frame";
}

bool SyncClip(const ClipFile& file, QString* why) {
    const auto start = std::chrono::steady_clock::now();
    const bool synced = file.Sync(why);
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    qCDebug(lcClipDisk).noquote() << "Clip" << file.path() << "put on disk in" << took.count()
                                  << "ms";
    if (!synced)
        qCWarning(lcStore).noquote() << "Clip" << file.path() << "may not be on disk:" << *why;
    return synced;
}

bool RepairLeftover(const QString& path, bool tell) {
    const auto leftAlone = [&](const QString& why) {
        qCWarning(lcStore).noquote()
            << "Clip" << path << "listed as unfinished is left alone:" << why;
        return true;
    };
    const auto later = [&](const QString& why) {
        if (tell)
            qCWarning(lcStore).noquote()
                << "Clip" << path << "left unfinished by an earlier run cannot be repaired yet:"
                << why + QStringLiteral("; it stays listed");
        return false;
    };
    // Only what the program itself names so is ever one of its clips.
    const QFileInfo info(path);
    if (!info.isAbsolute() || !ClipFolder::IsClipName(info.fileName()))
        return leftAlone(QStringLiteral("it is not named as the program names its clips"));
    QString why;
    ClipFile::Leftover state = ClipFile::Leftover::NotOurs;
    const auto file = ClipFile::OpenLeftover(path, &state, &why);
    switch (state) {
        case ClipFile::Leftover::Open:
            break;
        case ClipFile::Leftover::Gone:
            qCInfo(lcStore).noquote()
                << "Clip" << path << "left unfinished by an earlier run is no longer there";
            return true;
        case ClipFile::Leftover::Later:
            return later(why);
        case ClipFile::Leftover::NotOurs:
            return leftAlone(why);
    }
    // Made, then the run ended before the camera delivered anything.
    if (file->Size() == 0) {
        RemoveFrameless(*file);
        return true;
    }
    const AviRepair repaired = RepairInPlace(*file);
    if (!repaired.ok && repaired.retry) return later(repaired.error);
    if (!repaired.ok) {
        qCWarning(lcStore).noquote() << "Clip" << path << "kept without index:" << repaired.error;
        return true;
    }
    if (repaired.frames == 0) {
        RemoveFrameless(*file);
        return true;
    }
    SyncClip(*file, &why);
    if (repaired.changed)
        qCInfo(lcStore).noquote() << "Repaired" << path
                                  << "after an unfinished run:" << repaired.frames
                                  << "frames" + PassedOver(repaired);
    else
        qCInfo(lcStore).noquote() << "Clip" << path
                                  << "of an unfinished run was complete:" << repaired.frames
                                  << "frames";
    return true;
}

bool LeftoverRepair::Begin() {
    if (!journal_.HasLeftovers()) return false;
    bool idle = false;
    return running_.compare_exchange_strong(idle, true);
}

void LeftoverRepair::Run() {
    for (const QString& file : journal_.Leftovers()) {
        if (RepairLeftover(file, !toldLater_.contains(file)))
            journal_.Ended(file);
        else
            toldLater_.insert(file);
    }
    running_ = false;
}

}  // namespace camwarden::store

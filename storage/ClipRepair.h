#pragma once

#include <QSet>
#include <QString>
#include <atomic>

#include "storage/AviRepair.h"
#include "storage/ClipFile.h"

namespace camwarden::store {

class ClipJournal;

// What becomes of a clip's file once nothing more is written into it,
// whether its run finished it or an earlier run was cut off.

// Repairs the AVI held in `file` where it lies.
AviRepair RepairInPlace(const ClipFile& file);
// What a repair passed over, for its log line; empty when nothing was.
QString PassedOver(const AviRepair& repaired);
// A clip without a frame plays nothing; its file would only mislead.
void RemoveFrameless(ClipFile& file);
// Puts the clip on the disk, before it is reported finished; false with *why.
bool SyncClip(const ClipFile& file, QString* why);

// Repairs a clip an earlier run left unfinished (killed, crashed, power cut)
// and says what became of it; anything at `file` that is not a clip of the
// user's is left alone. False while it is to be tried again later (its
// folder not there, no room for its index); then it is told only when
// `tell`. On the caller's thread; it may block on the folder.
bool RepairLeftover(const QString& file, bool tell);

// The clips an earlier run left listed as unfinished, repaired one pass at a
// time. Those that cannot be yet stay listed for the next pass and are told
// once. Safe from any thread.
class LeftoverRepair {
public:
    explicit LeftoverRepair(ClipJournal& journal) : journal_(journal) {}

    // Whether a pass is due now: something listed and no pass under way.
    // When true the caller owes one Run, on whatever thread may block.
    bool Begin();
    // One pass over what is listed; it ends what Begin started.
    void Run();

private:
    ClipJournal& journal_;
    std::atomic<bool> running_{false};
    QSet<QString> toldLater_;  // only by the one pass under way
};

}  // namespace camwarden::store

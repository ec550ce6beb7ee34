#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "storage/ClipJournal.h"
#include "storage/ClipRepair.h"
#include "support/StoreLog.h"

namespace camwarden::store {
namespace {

// What a killed run left listed: an empty clip goes, a file not named as a
// clip is never touched, a clip whose folder is away stays listed and is
// told once however often it is tried, and is dealt with once the folder
// is back. One pass runs at a time.
TEST(LeftoverRepairTest, EachLeftoverIsDealtWithOnceAndOnlyClipsAreTouched) {
    testing::StoreLog log;
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString empty = dir.filePath(QStringLiteral("SS 2026-01-05 09-00-00.avi"));
    const QString notes = dir.filePath(QStringLiteral("notes.avi"));
    const QString away = dir.filePath(QStringLiteral("away/SS 2026-01-05 09-00-10.avi"));
    for (const QString& file : {empty, notes}) {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        if (file == notes) f.write("the user's own");
    }
    const QString list = dir.filePath(QStringLiteral("unfinished-clips.json"));
    {
        ClipJournal killed(list);
        for (const QString& file : {empty, notes, away}) killed.Began(file);
    }

    ClipJournal journal(list);
    LeftoverRepair repair(journal);
    ASSERT_TRUE(repair.Begin());
    EXPECT_FALSE(repair.Begin()) << "a second pass began beside the first";
    repair.Run();
    EXPECT_FALSE(QFile::exists(empty));
    EXPECT_TRUE(QFile::exists(notes));
    EXPECT_EQ(journal.Leftovers(), QStringList{away});
    ASSERT_TRUE(repair.Begin());
    repair.Run();
    EXPECT_EQ(testing::StoreLog::Lines(QStringLiteral("cannot be repaired yet")).size(), 1);

    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("away")));
    ASSERT_TRUE(repair.Begin());
    repair.Run();
    EXPECT_TRUE(journal.Leftovers().isEmpty());
    EXPECT_FALSE(repair.Begin()) << "a pass began with nothing listed";
    // The list on disk agrees: a restart finds nothing left.
    EXPECT_FALSE(ClipJournal(list).HasLeftovers());
}

}  // namespace
}  // namespace camwarden::store

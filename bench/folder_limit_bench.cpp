// What the folder size limit costs with a very full folder: the first
// listing, then each clip's check, deletion of the oldest and addition of
// the new one, as a long run does it; and a look of the age limit at every
// clip of the folder, as when one comes due.
//   folder_limit_bench FOLDER [CLIPS=200000] [ROUNDS=2000]
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QLoggingCategory>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "storage/AgeLimit.h"
#include "storage/ClipFolder.h"

using namespace camwarden::store;
using Clock = std::chrono::steady_clock;

namespace {

QString ClipName(const QDateTime& start, int i) {
    return start.addSecs(10LL * i).toString(QStringLiteral("'SS 'yyyy-MM-dd hh-mm-ss'.avi'"));
}

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("camwarden.*=false"));
    if (argc < 2) {
        std::fprintf(stderr, "usage: folder_limit_bench FOLDER [CLIPS] [ROUNDS]\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const int clips = argc > 2 ? std::atoi(argv[2]) : 200000;
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 2000;
    const QDateTime start(QDate(2026, 1, 1), QTime(0, 0));
    constexpr int64_t kClipBytes = 1000;
    for (int i = 0; i < clips; ++i) {
        QFile f(folder + QLatin1Char('/') + ClipName(start, i));
        if (!f.open(QIODevice::WriteOnly) || f.write(QByteArray(kClipBytes, 'c')) != kClipBytes)
            return 1;
    }
    ClipFolder limit([](const QString&) { return std::optional<int64_t>{}; });
    // Just full: every new clip makes the oldest go.
    const int64_t bytes = int64_t(clips) * kClipBytes;
    QString why;
    const auto t0 = Clock::now();
    limit.MakeRoom(folder, bytes, kClipBytes, {}, &why);
    const double firstListing = Ms(Clock::now() - t0);

    std::vector<double> perClip;
    for (int r = 0; r < rounds; ++r) {
        const QString file = folder + QLatin1Char('/') + ClipName(start, clips + r);
        const auto t = Clock::now();
        limit.MakeRoom(folder, bytes, kClipBytes, {}, &why);
        perClip.push_back(Ms(Clock::now() - t));
        QFile f(file);
        if (!f.open(QIODevice::WriteOnly) || f.write(QByteArray(kClipBytes, 'c')) != kClipBytes)
            return 1;
        f.close();
        limit.Settled(file);
    }
    // Ten years: every clip is looked at, none goes.
    AgeLimit ages(limit, nullptr);
    ages.Set(folder, 3650);
    const auto t1 = Clock::now();
    ages.Look({});
    const double ageLook = Ms(Clock::now() - t1);
    std::sort(perClip.begin(), perClip.end());
    std::printf("clips in the folder: %zu (%d listing%s)\n", limit.ListedClips(), limit.Listings(),
                limit.Listings() == 1 ? "" : "s");
    std::printf("first listing: %.1f ms\n", firstListing);
    std::printf("per clip: median %.3f ms, 99th %.3f ms, max %.3f ms over %d clips (target < 5)\n",
                perClip[perClip.size() / 2], perClip[perClip.size() * 99 / 100], perClip.back(),
                rounds);
    std::printf("the age limit's look at every clip: %.1f ms\n", ageLook);
    return 0;
}

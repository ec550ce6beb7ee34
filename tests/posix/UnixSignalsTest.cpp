#include "platform/posix/UnixSignals.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTest>
#include <array>
#include <cerrno>
#include <csignal>
#include <set>
#include <vector>

#include <sys/ioctl.h>
#include <unistd.h>

namespace camwarden {
namespace {

std::set<int> OpenSockets() {
    std::set<int> fds;
    const QDir dir(QStringLiteral("/proc/self/fd"));
    for (const QString& name : dir.entryList(QDir::Files | QDir::System)) {
        std::array<char, 64> target{};
        const QByteArray path = QFile::encodeName(dir.filePath(name));
        const ssize_t n = ::readlink(path.constData(), target.data(), target.size() - 1);
        if (n > 0 && QByteArray(target.data(), n).startsWith("socket:")) fds.insert(name.toInt());
    }
    return fds;
}

// Bytes waiting to be read on these sockets.
int Unread(const std::vector<int>& fds) {
    int total = 0;
    for (int fd : fds) {
        int n = 0;
        if (::ioctl(fd, FIONREAD, &n) == 0) total += n;
    }
    return total;
}

// Only this test makes the signal pipe, so it is the pair of sockets that
// appears when the first object is made.
TEST(UnixSignals, SignalsWaitingTogetherAreOneCloseAndTheHandlerKeepsErrno) {
    // A program that has started up: a second signal is no reason to end at once.
    UnixSignals::StartUpOver();
    const std::set<int> before = OpenSockets();
    UnixSignals signals;
    std::vector<int> made;
    for (int fd : OpenSockets())
        if (!before.contains(fd)) made.push_back(fd);
    ASSERT_EQ(made.size(), 2u);
    QSignalSpy closes(&signals, &UnixSignals::CloseRequested);

    ::raise(SIGINT);
    ::raise(SIGHUP);
    ASSERT_TRUE(closes.wait(5000));
    // Both signals' bytes read: the program is past them.
    ASSERT_TRUE(QTest::qWaitFor([&] { return Unread(made) == 0; }, 5000));
    EXPECT_EQ(closes.count(), 1) << "a second signal sent at once asks for nothing new";

    // A full pipe makes the handler's write fail; the code it interrupted
    // must still see its own errno. Both ways are filled, whichever end the
    // handler writes to.
    const char byte = 0;
    for (int fd : made) {
        while (::write(fd, &byte, 1) == 1) {
        }
        ASSERT_EQ(errno, EAGAIN) << "the pipe never blocks a handler";
    }
    errno = EDOM;
    ::raise(SIGTERM);
    EXPECT_EQ(errno, EDOM);
    ASSERT_TRUE(closes.wait(5000));
    EXPECT_EQ(closes.count(), 2);
}

}  // namespace
}  // namespace camwarden

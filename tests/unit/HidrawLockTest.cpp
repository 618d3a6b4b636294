// SPDX-License-Identifier: MIT
// The hidraw node's lock on plain files and a FIFO: flock() and record locks
// behave on them as on a device node. Two open files of one node stand for
// two programs (the lock belongs to the open file, not the process).
#if defined(__linux__)

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/linux/HidrawLock.hpp"

namespace CorvaneTest {
namespace {

namespace fs = std::filesystem;
using Corvane::LockOutcome;

class HidrawLockTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/corvane-lock-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        root = pattern;
        std::ofstream(root / "hidraw0");
    }
    void TearDown() override {
        for (int fd : fds) ::close(fd);
        fs::remove_all(root);
    }
    int Open(const fs::path& path, int flags = O_RDONLY) {
        const int fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK);
        EXPECT_GE(fd, 0) << path;
        fds.push_back(fd);
        return fd;
    }

    fs::path root;
    std::vector<int> fds;
};

TEST_F(HidrawLockTest, OneOpenFileAtATimeHoldsTheNode) {
    const int first = Open(root / "hidraw0");
    const int second = Open(root / "hidraw0");
    EXPECT_EQ(Corvane::LockNode(first, 0), LockOutcome::Held);
    EXPECT_EQ(Corvane::LockNode(second, 0), LockOutcome::Busy);
    Corvane::UnlockNode(first);
    EXPECT_EQ(Corvane::LockNode(second, 0), LockOutcome::Held);
    // Closing the holder's file releases the lock too.
    ::close(second);
    fds.pop_back();
    EXPECT_EQ(Corvane::LockNode(first, 0), LockOutcome::Held);
    EXPECT_EQ(Corvane::LockNode(-1, 0), LockOutcome::Failed);
}

TEST_F(HidrawLockTest, TheHolderIsNamedFromProc) {
    const int holder = Open(root / "hidraw0");
    const int waiter = Open(root / "hidraw0");
    std::ofstream(root / "other");
    const int unrelated = Open(root / "other");
    EXPECT_EQ(Corvane::NodeLockHolder(waiter), "");
    ASSERT_EQ(Corvane::LockNode(holder, 0), LockOutcome::Held);
    std::string comm;
    std::getline(std::ifstream("/proc/self/comm"), comm);
    EXPECT_EQ(Corvane::NodeLockHolder(waiter), comm + " (pid " + std::to_string(::getpid()) + ")");
    EXPECT_EQ(Corvane::NodeLockHolder(unrelated), "");
}

TEST_F(HidrawLockTest, TakingTheLockDiscardsTheReportsQueuedForOthers) {
    ASSERT_EQ(::mkfifo((root / "fifo").c_str(), 0600), 0);
    const int reader = Open(root / "fifo");
    const int writer = Open(root / "fifo", O_WRONLY);
    const std::array<std::uint8_t, 64> report{0x10};
    for (int i = 0; i < 3; ++i) ASSERT_EQ(::write(writer, report.data(), report.size()), 64);
    ASSERT_EQ(Corvane::LockNode(reader, 0), LockOutcome::Held);
    std::array<std::uint8_t, 64> left{};
    EXPECT_EQ(::read(reader, left.data(), left.size()), -1);
    EXPECT_EQ(errno, EAGAIN);
}

}  // namespace
}  // namespace CorvaneTest

#endif  // __linux__

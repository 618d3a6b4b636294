// SPDX-License-Identifier: MIT
// The hidraw backend against a scratch sysfs tree, with FIFOs standing in for
// the device nodes.
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
#include <optional>
#include <string>

#include "platform/linux/LinuxHidrawPlatform.hpp"
#include "transport/DevComTransport.hpp"
#include "transport/DevManagement.hpp"

namespace CorvaneTest {
namespace {

namespace fs = std::filesystem;
using Corvane::ChannelAccess;
using Corvane::kInvalidHandle;
using Corvane::kWireReportSize;
using Corvane::LinuxHidrawPlatform;
using Corvane::PlatformHandle;
using Corvane::TransferOutcome;
using Wire = std::array<std::uint8_t, kWireReportSize>;

// For transfers that must time out; those that succeed get the real 1000 ms,
// which costs nothing when they do.
constexpr std::uint32_t kShortTimeoutMs = 5;
constexpr std::uint32_t kTimeoutMs = 1000;

Wire Numbered(std::uint8_t first) {
    Wire wire{};
    for (std::size_t i = 0; i < wire.size(); ++i) wire[i] = static_cast<std::uint8_t>(first + i);
    return wire;
}

class HidrawTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/corvane-hidraw-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        root = pattern;
        sys = root / "sys";
        dev = root / "dev";
        fs::create_directories(sys / "class" / "hidraw");
        fs::create_directories(dev);
        platform = std::make_unique<LinuxHidrawPlatform>(sys.string(), dev.string());
    }

    void TearDown() override {
        for (int fd : testFds) ::close(fd);
        platform.reset();
        fs::remove_all(root);
    }

    // Lays out hidrawN as sysfs does: the class entry links to the node's
    // directory below its HID device, whose parent is the USB interface.
    void AddNode(unsigned n, const std::optional<std::string>& uevent,
                 std::optional<unsigned> interfaceNumber = {}) {
        const fs::path usbInterface = sys / "devices" / ("1-" + std::to_string(n) + ":1.0");
        const fs::path hid = usbInterface / ("0003:3A7C:01D5.000" + std::to_string(n));
        const fs::path node = hid / "hidraw" / ("hidraw" + std::to_string(n));
        fs::create_directories(node);
        fs::create_directory_symlink("../..", node / "device");
        fs::create_directory_symlink(node,
                                     sys / "class" / "hidraw" / ("hidraw" + std::to_string(n)));
        if (uevent) std::ofstream(hid / "uevent") << *uevent;
        if (interfaceNumber) {
            char text[8];
            std::snprintf(text, sizeof text, "%02x\n", *interfaceNumber);
            std::ofstream(usbInterface / "bInterfaceNumber") << text;
        }
    }

    std::string Fifo(unsigned n) {
        const fs::path path = dev / ("hidraw" + std::to_string(n));
        EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0);
        return path.string();
    }

    int OpenEnd(const std::string& path, int flags) {
        const int fd = ::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC);
        EXPECT_GE(fd, 0) << path;
        if (fd >= 0) testFds.push_back(fd);
        return fd;
    }

    void CloseEnd(int fd) {
        std::erase(testFds, fd);
        ::close(fd);
    }

    PlatformHandle Open(const std::string& path, ChannelAccess access) {
        return platform->OpenChannel(std::u16string(path.begin(), path.end()), access);
    }

    TransferOutcome Write(PlatformHandle channel, const Wire& wire,
                          std::uint32_t timeoutMs = kTimeoutMs) {
        return platform->WriteReport(channel, platform->CreateTransferEvent(), wire, timeoutMs);
    }

    TransferOutcome Read(PlatformHandle channel, Wire& wire, std::uint32_t timeoutMs = kTimeoutMs) {
        return platform->ReadReport(channel, platform->CreateTransferEvent(), wire, timeoutMs);
    }

    // Fills a FIFO through a descriptor of the test's own until it takes nothing more.
    void FillFifo(const std::string& path) {
        const int filler = OpenEnd(path, O_WRONLY);
        const std::array<std::uint8_t, 4096> block{};
        while (::write(filler, block.data(), block.size()) > 0) {
        }
        while (::write(filler, block.data(), 1) > 0) {
        }
        CloseEnd(filler);
    }

    fs::path root, sys, dev;
    std::unique_ptr<LinuxHidrawPlatform> platform;
    std::vector<int> testFds;
};

TEST_F(HidrawTest, ListsNodesInNumericOrderWithHardwareIdAndSerial) {
    AddNode(10,
            "DRIVER=hid-generic\nHID_ID=0003:00003A7C:000001D5\nHID_NAME=Corvane\n"
            "HID_UNIQ=CV-0042\n",
            2);
    AddNode(2, "HID_ID=0003:0000046d:0000C52B\n");
    AddNode(1, "HID_ID=0003:zz:01D5\nHID_UNIQ=x\n");  // an ID that does not parse
    AddNode(0, std::nullopt);                         // no uevent at all
    AddNode(3, "HID_ID=0018:00003A7C:000001D5\nHID_UNIQ=Ger\xC3\xA4t \xF0\x9F\x94\x8C\xFF\n");
    fs::create_directory(sys / "class" / "hidraw" / "hidrawx");  // not a node name

    struct Expected {
        unsigned n;
        std::u16string firstId;  // empty: no hardware ID
        std::u16string serial;
    };
    const Expected rows[] = {
        {0, u"", u""},
        {1, u"", u"x"},
        {2, u"HID\\VID_046D&PID_C52B", u""},
        {3, u"HID\\VID_3A7C&PID_01D5", u"Ger\u00e4t \U0001F50C\uFFFD"},
        {10, u"HID\\VID_3A7C&PID_01D5&MI_02", u"CV-0042"},
    };
    const auto interfaces = platform->ListHidInterfaces();
    ASSERT_EQ(interfaces.size(), std::size(rows));
    for (std::size_t i = 0; i < interfaces.size(); ++i) {
        const Expected& row = rows[i];
        const std::string path = (dev / ("hidraw" + std::to_string(row.n))).string();
        EXPECT_EQ(interfaces[i].path, std::u16string(path.begin(), path.end())) << i;
        if (row.firstId.empty()) {
            EXPECT_TRUE(interfaces[i].hardwareIds.empty()) << i;
        } else {
            ASSERT_EQ(interfaces[i].hardwareIds.size(), 1u) << i;
            EXPECT_EQ(interfaces[i].hardwareIds[0], row.firstId) << i;
        }
        EXPECT_EQ(interfaces[i].serialNumber, row.serial) << i;
    }
}

// A listing reads again only entries that are new: a node number that went to
// another device comes with a new class entry, and must not keep the old IDs.
TEST_F(HidrawTest, ANodeNumberTakenByAnotherDeviceShowsItsIds) {
    AddNode(1, "HID_ID=0003:00003A7C:000001D5\n");
    AddNode(2, "HID_ID=0003:00003A7C:000001D5\n");
    ASSERT_EQ(platform->ListHidInterfaces().size(), 2u);

    const fs::path other = sys / "devices" / "other" / "0003:046D:C52B.0009";
    fs::create_directories(other / "hidraw" / "hidraw1");
    fs::create_directory_symlink("../..", other / "hidraw" / "hidraw1" / "device");
    std::ofstream(other / "uevent") << "HID_ID=0003:0000046D:0000C52B\n";
    // Made beside the old entry, so it cannot get the old one's inode.
    const fs::path entry = sys / "class" / "hidraw" / "hidraw1";
    fs::create_directory_symlink(other / "hidraw" / "hidraw1", entry.string() + ".new");
    fs::rename(entry.string() + ".new", entry);
    fs::remove(sys / "class" / "hidraw" / "hidraw2");

    const auto interfaces = platform->ListHidInterfaces();
    ASSERT_EQ(interfaces.size(), 1u);
    ASSERT_EQ(interfaces[0].hardwareIds.size(), 1u);
    EXPECT_EQ(interfaces[0].hardwareIds[0], u"HID\\VID_046D&PID_C52B");
}

TEST_F(HidrawTest, NoHidrawClassMeansNoInterfaces) {
    fs::remove_all(sys / "class");
    EXPECT_TRUE(platform->ListHidInterfaces().empty());
}

TEST_F(HidrawTest, TransportMatchesNodesOfItsIdsOnly) {
    AddNode(0, "HID_ID=0003:00001234:00005678\n");
    AddNode(1, "HID_ID=0003:00003A7C:000001D5\n", 2);
    AddNode(4, "HID_ID=0003:00003A7C:000001D5\n");
    Fifo(0);
    Fifo(1);
    Fifo(4);
    auto shared = std::shared_ptr<LinuxHidrawPlatform>(std::move(platform));
    Corvane::SetPlatform(shared);
    Corvane::DevComTransport::ResetState(0x3A7C, 0x01D5);
    EXPECT_TRUE(Corvane::DevComTransport::DiscoverDevices());
    EXPECT_EQ(Corvane::DevManagement::int_GetDevCount(), 2);
    char path[256];
    Corvane::DevComTransport::GetSelectedDevicePath(path);
    EXPECT_EQ(std::string(path), (dev / "hidraw1").string());
    Corvane::DevComTransport::ResetState(0x3A7C, 0x01D5);  // closes the channels
    Corvane::SetPlatform(nullptr);
}

TEST_F(HidrawTest, OpenFailsForAMissingNode) {
    EXPECT_EQ(Open((dev / "hidraw9").string(), ChannelAccess::Read), kInvalidHandle);
    EXPECT_EQ(platform->OpenChannel(u"/dev/\xD800x", ChannelAccess::Read), kInvalidHandle);
}

TEST_F(HidrawTest, WriteSendsTheWhole65ByteReportInOneWrite) {
    const std::string path = Fifo(0);
    const int device = OpenEnd(path, O_RDONLY);
    const PlatformHandle channel = Open(path, ChannelAccess::Write);
    ASSERT_NE(channel, kInvalidHandle);
    Wire sent = Numbered(0x10);
    sent[0] = 0x00;
    EXPECT_EQ(Write(channel, sent), TransferOutcome::Done);
    std::array<std::uint8_t, 100> got{};
    ASSERT_EQ(::read(device, got.data(), got.size()), static_cast<ssize_t>(kWireReportSize));
    EXPECT_TRUE(std::equal(sent.begin(), sent.end(), got.begin()));
    platform->CloseHandle(channel);
}

TEST_F(HidrawTest, ReadAcceptsReportsWithAndWithoutReportId) {
    struct Row {
        std::size_t delivered;  // bytes the node hands over
        Wire expected;
    };
    const Wire source = Numbered(0x40);
    Wire shifted{};  // 64 bytes without ID: moved behind a zero ID
    std::copy_n(source.begin(), 64, shifted.begin() + 1);
    Wire shortReport{};
    std::copy_n(source.begin(), 10, shortReport.begin() + 1);
    const Row rows[] = {{64, shifted}, {65, source}, {10, shortReport}};

    const std::string path = Fifo(0);
    const PlatformHandle channel = Open(path, ChannelAccess::Read);
    ASSERT_NE(channel, kInvalidHandle);
    const int device = OpenEnd(path, O_WRONLY);
    for (const Row& row : rows) {
        ASSERT_EQ(::write(device, source.data(), row.delivered),
                  static_cast<ssize_t>(row.delivered));
        Wire got;
        got.fill(0xEE);
        ASSERT_EQ(Read(channel, got), TransferOutcome::Done) << row.delivered;
        EXPECT_EQ(got, row.expected) << row.delivered;
    }
    platform->CloseHandle(channel);
}

TEST_F(HidrawTest, ReadTimesOutWhenNothingArrives) {
    const std::string path = Fifo(0);
    const PlatformHandle channel = Open(path, ChannelAccess::Read);
    OpenEnd(path, O_WRONLY);
    Wire got{};
    EXPECT_EQ(Read(channel, got, kShortTimeoutMs), TransferOutcome::TimedOut);
    platform->CloseHandle(channel);
}

TEST_F(HidrawTest, HangUpIsGoneAndReleasesTheNodeWhileTheHandleIsOpen) {
    const std::string path = Fifo(0);
    const PlatformHandle channel = Open(path, ChannelAccess::Read);
    const int device = OpenEnd(path, O_WRONLY);
    const Wire report = Numbered(1);
    ASSERT_EQ(::write(device, report.data(), report.size()), static_cast<ssize_t>(report.size()));
    CloseEnd(device);
    // The queued report may still come (unless the node was released first); then Gone.
    Wire got{};
    TransferOutcome outcome = Read(channel, got);
    if (outcome == TransferOutcome::Done) {
        EXPECT_EQ(got, report);
        outcome = Read(channel, got);
    }
    EXPECT_EQ(outcome, TransferOutcome::Gone);
    // Released: the FIFO soon has no reader left, though the handle is not closed.
    bool released = false;
    for (int i = 0; i < 2000 && !released; ++i) {
        const int probe = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        released = probe < 0 && errno == ENXIO;
        if (probe >= 0) ::close(probe);
        if (!released) ::usleep(1000);
    }
    EXPECT_TRUE(released);
    EXPECT_EQ(Read(channel, got), TransferOutcome::Gone);
    platform->CloseHandle(channel);
}

TEST_F(HidrawTest, WriteToANodeWhoseReaderLeftIsGone) {
    const std::string path = Fifo(0);
    const int device = OpenEnd(path, O_RDONLY);
    const PlatformHandle channel = Open(path, ChannelAccess::Write);
    CloseEnd(device);
    // EPIPE; the SIGPIPE goes to the writer thread, which blocks it.
    EXPECT_EQ(Write(channel, Wire{}), TransferOutcome::Gone);
    platform->CloseHandle(channel);
}

TEST_F(HidrawTest, AWriteThatCannotFinishTimesOutAndTheChannelRecovers) {
    const std::string path = Fifo(0);
    const int device = OpenEnd(path, O_RDONLY);
    const PlatformHandle channel = Open(path, ChannelAccess::Write);
    FillFifo(path);  // nobody reads: no room for a report
    EXPECT_EQ(Write(channel, Wire{}, kShortTimeoutMs), TransferOutcome::TimedOut);
    platform->CancelTransfer(channel);

    std::array<std::uint8_t, 4096> sink;
    while (::read(device, sink.data(), sink.size()) > 0) {
    }
    const Wire next = Numbered(7);
    EXPECT_EQ(Write(channel, next), TransferOutcome::Done);
    Wire got{};
    ASSERT_EQ(::read(device, got.data(), got.size()), static_cast<ssize_t>(got.size()));
    EXPECT_EQ(got, next);  // the cancelled report was not sent late
    platform->CloseHandle(channel);
}

// A uhid node never makes a write wait for the device, so the caller writes
// itself; a node without room still times out.
TEST_F(HidrawTest, UhidNodeIsWrittenOnTheCallersThreadWithinTheTimeOut) {
    // Where the kernel puts a uhid device, whatever bus it claims.
    const fs::path node = sys / "devices/virtual/misc/uhid/0003:3A7C:01D5.0001/hidraw/hidraw0";
    fs::create_directories(node);
    fs::create_directory_symlink("../..", node / "device");
    fs::create_directory_symlink(node, sys / "class" / "hidraw" / "hidraw0");
    const std::string path = Fifo(0);
    const int device = OpenEnd(path, O_RDONLY);
    const PlatformHandle channel = Open(path, ChannelAccess::Write);
    const Wire sent = Numbered(3);
    const auto threads = [] {
        return std::distance(fs::directory_iterator("/proc/self/task"), fs::directory_iterator());
    };
    const auto before = threads();
    EXPECT_EQ(Write(channel, sent), TransferOutcome::Done);
    EXPECT_EQ(threads(), before);  // no write thread started
    Wire got{};
    ASSERT_EQ(::read(device, got.data(), got.size()), static_cast<ssize_t>(got.size()));
    EXPECT_EQ(got, sent);
    FillFifo(path);
    EXPECT_EQ(Write(channel, sent, kShortTimeoutMs), TransferOutcome::TimedOut);
    platform->CloseHandle(channel);
}

TEST_F(HidrawTest, ClosingDuringAStuckWriteDoesNotWait) {
    const std::string path = Fifo(0);
    OpenEnd(path, O_RDONLY);
    const PlatformHandle channel = Open(path, ChannelAccess::Write);
    FillFifo(path);
    EXPECT_EQ(Write(channel, Wire{}, kShortTimeoutMs), TransferOutcome::TimedOut);
    platform->CloseHandle(channel);  // without CancelTransfer first
    EXPECT_EQ(Write(channel, Wire{}), TransferOutcome::Gone);
}

TEST_F(HidrawTest, WrongDirectionUnknownHandleAndEventAreHandled) {
    const std::string path = Fifo(0);
    const PlatformHandle reader = Open(path, ChannelAccess::Read);
    const int device = OpenEnd(path, O_WRONLY);
    const PlatformHandle writer = Open(path, ChannelAccess::Write);
    Wire wire{};
    EXPECT_EQ(Write(reader, wire), TransferOutcome::Gone);
    EXPECT_EQ(Read(writer, wire), TransferOutcome::Gone);
    EXPECT_EQ(Write(12345, wire), TransferOutcome::Gone);
    EXPECT_EQ(Read(kInvalidHandle, wire), TransferOutcome::Gone);
    const PlatformHandle event = platform->CreateTransferEvent();
    EXPECT_NE(event, kInvalidHandle);
    platform->CloseHandle(event);
    platform->CloseHandle(kInvalidHandle);
    platform->CancelTransfer(reader);
    // The device's own end is untouched by all of that.
    EXPECT_EQ(::write(device, wire.data(), wire.size()), static_cast<ssize_t>(wire.size()));
    EXPECT_EQ(Read(reader, wire), TransferOutcome::Done);
    platform->CloseHandle(reader);
    platform->CloseHandle(writer);
}

TEST_F(HidrawTest, ProbeTellsWhichNodesOpen) {
    AddNode(0, "HID_ID=0003:00003A7C:000001D5\nHID_NAME=Corvane Bridge\nHID_UNIQ=A1\n");
    AddNode(1, "HID_ID=0003:00001234:000001D5\n");
    AddNode(2, "HID_ID=0003:00003A7C:000001D5\nHID_UNIQ=B2\n");
    Fifo(0);
    Fifo(1);  // hidraw2 has no node in dev
    const auto nodes = platform->ProbeNodes(0x3A7C, 0x01D5);
    ASSERT_EQ(nodes.size(), 2u);
    EXPECT_EQ(nodes[0].path, (dev / "hidraw0").string());
    EXPECT_EQ(nodes[0].productName, "Corvane Bridge");
    EXPECT_EQ(nodes[0].serialNumber, "A1");
    EXPECT_TRUE(nodes[0].opens);
    EXPECT_EQ(nodes[0].errorNumber, 0);
    EXPECT_EQ(nodes[1].path, (dev / "hidraw2").string());
    EXPECT_EQ(nodes[1].serialNumber, "B2");
    EXPECT_FALSE(nodes[1].opens);
    EXPECT_EQ(nodes[1].errorNumber, ENOENT);
    EXPECT_FALSE(nodes[1].errorText.empty());
}

}  // namespace
}  // namespace CorvaneTest

#endif  // __linux__

// SPDX-License-Identifier: MIT
// The Windows backend on the real system (under Wine in CI). Transfers run
// over a named pipe, which takes the same overlapped file I/O as a HID device.
// tests/api/SystemPlatformTest.cpp runs discovery through it.
#if defined(_WIN32)

#include <gtest/gtest.h>

#include <corvane/corvane.hpp>

#include <array>
#include <string>
#include <thread>

#include "platform/windows/WindowsPlatform.hpp"

namespace CorvaneTest {
namespace {

using Corvane::ChannelAccess;
using Corvane::kInvalidHandle;
using Corvane::kWireReportSize;
using Corvane::LockOutcome;
using Corvane::PlatformHandle;
using Corvane::TransferOutcome;
using Corvane::WindowsPlatform;
using Wire = std::array<std::uint8_t, kWireReportSize>;

// Multi-strings as the registry returns them: UTF-16LE bytes.
std::vector<std::uint8_t> Utf16Bytes(const std::u16string& text) {
    std::vector<std::uint8_t> bytes;
    for (char16_t c : text) {
        bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    return bytes;
}

TEST(SplitMultiString, StopsAtTheListEndAndNeverReadsPastTheValue) {
    using namespace std::string_literals;
    struct Row {
        std::u16string value;
        std::size_t bytes;  // as returned; the value may hold more behind it
        std::vector<std::u16string> strings;
    };
    const Row rows[] = {
        {u"HID\\VID_3A7C&PID_01D5&REV_0100\0HID\\VID_3A7C&PID_01D5\0\0"s,
         0,
         {u"HID\\VID_3A7C&PID_01D5&REV_0100", u"HID\\VID_3A7C&PID_01D5"}},
        {u"A\0\0B\0\0"s, 0, {u"A"}},      // nothing after the list end
        {u"AB"s, 0, {u"AB"}},             // no terminator at all
        {u"AB\0CD"s, 0, {u"AB", u"CD"}},  // last string unterminated
        {u"\0\0"s, 0, {}},                // empty list
        {u""s, 0, {}},                    // no value
        {u"ABCD\0\0"s, 4, {u"AB"}},       // value ends before the buffer
        {u"AB\0\0"s, 5, {u"AB"}},         // odd byte count
        {u"A\0\0"s, 3, {u"A"}},           // half a terminator
    };
    for (const Row& row : rows) {
        const std::vector<std::uint8_t> bytes = Utf16Bytes(row.value);
        const std::size_t size = row.bytes == 0 ? bytes.size() : row.bytes;
        EXPECT_EQ(Corvane::SplitMultiString(bytes.data(), size), row.strings)
            << "value of " << row.value.size() << " units, " << size << " bytes";
    }
}

TEST(WindowsBackend, IsTheSystemPlatform) {
    const auto system = Corvane::MakeSystemPlatform();
    EXPECT_NE(dynamic_cast<WindowsPlatform*>(system.get()), nullptr);
}

TEST(WindowsBackend, HardwareIdsMatchTheirVendorAndProductInEitherCase) {
    struct Row {
        std::u16string id;
        bool matches;
    };
    const Row rows[] = {
        {u"HID\\VID_3A7C&PID_01D5&REV_0100", true},
        {u"hid\\vid_3a7c&pid_01d5", true},
        {u"HID\\VID_3A7C&PID_01D6", false},
        {u"HID\\VID_03A7&PID_C01D", false},
        {u"HID_DEVICE", false},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(Corvane::HardwareIdCarries(row.id, 0x3A7C, 0x01D5), row.matches)
            << std::string(row.id.begin(), row.id.end());
    }
}

TEST(WindowsBackend, ErrorTextsAreTheSystemsOwnOnOneLine) {
    const std::string denied = Corvane::SystemErrorText(ERROR_ACCESS_DENIED);
    EXPECT_FALSE(denied.empty());
    EXPECT_EQ(denied.find_first_of("\r\n"), std::string::npos) << denied;
    EXPECT_EQ(Corvane::SystemErrorText(0x7FFFFFF0), "system error 2147483632");
}

// No HID devices here (Wine has none): the probe finds nothing and does not fail.
TEST(WindowsBackend, ProbingWithoutDevicesFindsNone) {
    EXPECT_TRUE(Corvane::ProbeDeviceNodes(0x3A7C, 0x01D5).empty());
}

HANDLE Native(PlatformHandle handle) {
    return reinterpret_cast<HANDLE>(handle);
}

Wire Numbered(std::uint8_t first) {
    Wire wire{};
    for (std::size_t i = 0; i < wire.size(); ++i) wire[i] = static_cast<std::uint8_t>(first + i);
    return wire;
}

// One pipe server, with the backend's channel as its only client.
class PipeChannelTest : public ::testing::Test {
  protected:
    void SetUp() override {
        static int serial = 0;
        name = L"\\\\.\\pipe\\corvane-test-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
               std::to_wstring(serial++);
        server = ::CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT, 1,
                                    4096, 4096, 0, nullptr);
        ASSERT_NE(server, INVALID_HANDLE_VALUE);
        event = platform.CreateTransferEvent();
        ASSERT_NE(event, kInvalidHandle);
    }

    void TearDown() override {
        platform.CloseHandle(channel);
        platform.CloseHandle(event);
        if (server != INVALID_HANDLE_VALUE) ::CloseHandle(server);
    }

    void Open(ChannelAccess access) {
        channel = platform.OpenChannel(std::u16string(name.begin(), name.end()), access);
        ASSERT_NE(channel, kInvalidHandle);
        // The client is connected already; this only completes the handshake.
        if (!::ConnectNamedPipe(server, nullptr)) {
            ASSERT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_PIPE_CONNECTED));
        }
    }

    void ServerSend(const Wire& wire) {
        DWORD written = 0;
        ASSERT_TRUE(
            ::WriteFile(server, wire.data(), static_cast<DWORD>(wire.size()), &written, nullptr));
        ASSERT_EQ(written, wire.size());
    }

    void ServerClose() {
        ::CloseHandle(server);
        server = INVALID_HANDLE_VALUE;
    }

    WindowsPlatform platform;
    std::wstring name;
    HANDLE server = INVALID_HANDLE_VALUE;
    PlatformHandle channel = kInvalidHandle;
    PlatformHandle event = kInvalidHandle;
};

TEST_F(PipeChannelTest, TheTransferEventStartsSignalled) {
    EXPECT_EQ(::WaitForSingleObject(Native(event), 0), WAIT_OBJECT_0);
}

TEST_F(PipeChannelTest, ReadDeliversAll65BytesAndLeavesTheEventReset) {
    ASSERT_NO_FATAL_FAILURE(Open(ChannelAccess::Read));
    const Wire sent = Numbered(0);
    ServerSend(sent);
    Wire received{};
    EXPECT_EQ(platform.ReadReport(channel, event, received, 1000), TransferOutcome::Done);
    EXPECT_EQ(received, sent);
    EXPECT_EQ(::WaitForSingleObject(Native(event), 0), static_cast<DWORD>(WAIT_TIMEOUT));
}

TEST_F(PipeChannelTest, WriteSendsAll65Bytes) {
    ASSERT_NO_FATAL_FAILURE(Open(ChannelAccess::Write));
    const Wire sent = Numbered(7);
    EXPECT_EQ(platform.WriteReport(channel, event, sent, 1000), TransferOutcome::Done);
    Wire received{};
    DWORD read = 0;
    ASSERT_TRUE(
        ::ReadFile(server, received.data(), static_cast<DWORD>(received.size()), &read, nullptr));
    EXPECT_EQ(read, received.size());
    EXPECT_EQ(received, sent);
}

TEST_F(PipeChannelTest, ATimedOutReadIsCancelledAndTheNextReadGetsTheNextReport) {
    ASSERT_NO_FATAL_FAILURE(Open(ChannelAccess::Read));
    Wire received = Numbered(100);
    const Wire untouched = received;
    EXPECT_EQ(platform.ReadReport(channel, event, received, 10), TransferOutcome::TimedOut);
    EXPECT_EQ(received, untouched);
    EXPECT_EQ(::WaitForSingleObject(Native(event), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    platform.CancelTransfer(channel);

    // The cancelled read took nothing: the report sent now goes to the next one.
    const Wire sent = Numbered(1);
    ServerSend(sent);
    EXPECT_EQ(platform.ReadReport(channel, event, received, 1000), TransferOutcome::Done);
    EXPECT_EQ(received, sent);
}

TEST_F(PipeChannelTest, AReadAfterThePeerLeftFindsTheChannelGone) {
    ASSERT_NO_FATAL_FAILURE(Open(ChannelAccess::Read));
    ServerClose();
    Wire received{};
    EXPECT_EQ(platform.ReadReport(channel, event, received, 1000), TransferOutcome::Gone);
}

TEST_F(PipeChannelTest, NoChannelIsGoneAndNoEventStartsNothing) {
    ASSERT_NO_FATAL_FAILURE(Open(ChannelAccess::Read));
    Wire report = Numbered(3);
    EXPECT_EQ(platform.WriteReport(kInvalidHandle, event, report, 1000), TransferOutcome::Gone);
    EXPECT_EQ(platform.ReadReport(kInvalidHandle, event, report, 1000), TransferOutcome::Gone);
    EXPECT_EQ(platform.ReadReport(channel, kInvalidHandle, report, 1000), TransferOutcome::Failed);
    platform.CloseHandle(kInvalidHandle);

    // No read was left behind to take the next report.
    const Wire sent = Numbered(9);
    ServerSend(sent);
    EXPECT_EQ(platform.ReadReport(channel, event, report, 1000), TransferOutcome::Done);
    EXPECT_EQ(report, sent);
}

TEST(WindowsBackend, AMissingPathOpensNoChannel) {
    WindowsPlatform platform;
    EXPECT_EQ(platform.OpenChannel(u"\\\\?\\hid#vid_3a7c&pid_01d5#none#{4d1e55b2-f16f-11cf-88cb-"
                                   u"001111000030}",
                                   ChannelAccess::Read),
              kInvalidHandle);
}

// Two programs on one device: two backends, each with a read channel of the
// same path, on threads of their own (a mutex belongs to a thread).
TEST(WindowsBackend, OneThreadAtATimeHoldsADevicesLock) {
    const std::wstring name =
        L"\\\\.\\pipe\\corvane-lock-" + std::to_wstring(::GetCurrentProcessId());
    const std::u16string path(name.begin(), name.end());
    HANDLE servers[2];
    for (HANDLE& server : servers) {
        server = ::CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT, 2,
                                    4096, 4096, 0, nullptr);
        ASSERT_NE(server, INVALID_HANDLE_VALUE);
    }
    WindowsPlatform first, second;
    const PlatformHandle mine = first.OpenChannel(path, ChannelAccess::Read);
    const PlatformHandle theirs = second.OpenChannel(path, ChannelAccess::Read);
    ASSERT_NE(mine, kInvalidHandle);
    ASSERT_NE(theirs, kInvalidHandle);
    const auto other = [&](auto step) { std::thread(step).join(); };

    EXPECT_EQ(first.LockChannel(mine, 0), LockOutcome::Held);
    other([&] { EXPECT_EQ(second.LockChannel(theirs, 0), LockOutcome::Busy); });
    first.UnlockChannel(mine);
    other([&] {
        EXPECT_EQ(second.LockChannel(theirs, 0), LockOutcome::Held);
        second.UnlockChannel(theirs);
    });
    // Closing the channel lets go too.
    EXPECT_EQ(first.LockChannel(mine, 0), LockOutcome::Held);
    first.CloseHandle(mine);
    other([&] {
        EXPECT_EQ(second.LockChannel(theirs, 0), LockOutcome::Held);
        second.CloseHandle(theirs);
    });
    EXPECT_EQ(first.LockChannel(kInvalidHandle, 0), LockOutcome::Failed);
    for (HANDLE server : servers) ::CloseHandle(server);
}

}  // namespace
}  // namespace CorvaneTest

#endif  // _WIN32

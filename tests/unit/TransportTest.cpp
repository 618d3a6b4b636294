// SPDX-License-Identifier: MIT
// Discovery, the device table and the report exchange.
#include <gtest/gtest.h>

#include <corvane/corvane.hpp>
#include <corvane/sim.hpp>

#include <string>

#include "common/SimTest.hpp"
#include "transport/DevComTransport.hpp"
#include "transport/DevManagement.hpp"
#include "transport/DeviceState.hpp"

namespace CorvaneTest {
namespace {

using Corvane::DevComTransport;
using namespace std::chrono_literals;

std::string Hex(std::uint32_t value) {
    const auto digits = DevComTransport::FormatHexId(value);
    return std::string(digits.begin(), digits.end());
}

TEST(FormatHexId, FourLowercaseDigits) {
    const std::pair<std::uint32_t, const char*> rows[] = {
        {0x3A7C, "3a7c"}, {0x01D5, "01d5"}, {0x1, "0001"},     {0x0, "0000"},
        {0x10, "0010"},   {0xABC, "0abc"},  {0x12345, "1234"}, {0xFFFFFFFF, "ffff"},
        {0xFFFF, "ffff"}, {0x10000, "1000"}};
    for (const auto& [value, text] : rows) EXPECT_EQ(Hex(value), text) << value;
}

class TransportTest : public SimTest {
  protected:
    void Reset(std::uint32_t vid = 0x3A7C, std::uint32_t pid = 0x01D5) {
        DevComTransport::ResetState(vid, pid);
    }
};

TEST_F(TransportTest, MatchString) {
    Reset();
    EXPECT_EQ(DevComTransport::BuildMatchString(), "vid_3a7c&pid_01d5");
    Reset(0x1, 0x2);
    EXPECT_EQ(DevComTransport::BuildMatchString(), "vid_0001&pid_0002");
}

TEST_F(TransportTest, OnlyTheFirst21CharactersOfTheFirstHardwareIdMatch) {
    struct Row {
        std::u16string firstId;
        bool matches;
    };
    const Row rows[] = {
        {u"HID\\VID_3A7C&PID_01D5&REV_0100", true},
        {u"hid\\vid_3a7c&pid_01d5", true},
        {u"HID\\Vid_3a7C&PID_01d5&MI_00", true},
        {u"USB\\HID\\VID_3A7C&PID_01D5", false},  // the match would end past character 21
        {u"HID\\VID_3A7C&PID_01D6", false},
        {u"HID\\VID_3A7C", false},
        {u"", false},
    };
    for (const Row& row : rows) {
        Corvane::SetPlatform(nullptr);
        host = SimulatedHost::Install();
        host->AddForeignInterface({row.firstId, u"HID\\VID_3A7C&PID_01D5"}, u"path-a");
        Reset();
        DevComTransport::DiscoverDevices();
        EXPECT_EQ(Corvane::DevManagement::int_GetDevCount(), row.matches ? 1 : 0)
            << std::string(row.firstId.begin(), row.firstId.end());
    }
}

TEST_F(TransportTest, OnlyEqualWidePathsAreOneDevice) {
    // Paths that agree when contained, narrowed ('?' for non-ASCII) or cut
    // at 200 units are still different devices.
    const std::u16string base(210, u'p');
    const std::vector<std::pair<std::u16string, std::u16string>> rows = {
        {u"/dev/hidraw10", u"/dev/hidraw1"},
        {u"dev-\u00e9", u"dev-\u00e8"},
        {base + u"a", base + u"b"},
    };
    for (const auto& [first, second] : rows) {
        Corvane::SetPlatform(nullptr);
        host = SimulatedHost::Install();
        host->AddForeignInterface({u"HID\\VID_3A7C&PID_01D5"}, first);
        host->AddForeignInterface({u"HID\\VID_3A7C&PID_01D5"}, second);
        host->AddForeignInterface({u"HID\\VID_3A7C&PID_01D5"}, second);  // listed twice
        Reset();
        DevComTransport::DiscoverDevices();
        EXPECT_EQ(Corvane::DevManagement::int_GetDevCount(), 2) << Narrow(second);
        EXPECT_EQ(std::u16string(Corvane::DeviceState::Default().pwcDevName[1]), second);
        // The entry found twice holds one pair of channels, not two.
        EXPECT_EQ(host->OpenChannelCount(), 4u);
    }
}

TEST_F(TransportTest, TableNeverOverflows) {
    const std::u16string longPath(300, u'x');
    host->AddForeignInterface({u"HID\\VID_3A7C&PID_01D5"}, longPath);
    for (int i = 0; i < 70; ++i) {
        const std::string path = "/dev/hidraw" + std::to_string(i);
        host->AddForeignInterface({u"HID\\VID_3A7C&PID_01D5"},
                                  std::u16string(path.begin(), path.end()));
    }
    Reset();
    DevComTransport::DiscoverDevices();
    EXPECT_EQ(Corvane::DevManagement::int_GetDevCount(), Corvane::kMaxDevices);
    EXPECT_EQ(std::u16string(Corvane::DeviceState::Default().pwcDevName[0]), u"/dev/hidraw0");
    EXPECT_EQ(std::u16string(Corvane::DeviceState::Default().pwcDevName[63]), u"/dev/hidraw63");
    EXPECT_EQ(host->OpenChannelCount(), 128u);
}

TEST_F(TransportTest, SelectedPathIsCutAt200Bytes) {
    const std::u16string path(250, u'p');
    host->AddForeignInterface({u"HID\\VID_3A7C&PID_01D5"}, path);
    Reset();
    DevComTransport::DiscoverDevices();
    char buffer[256];
    EXPECT_EQ(DevComTransport::GetSelectedDevicePath(buffer), 0);
    EXPECT_EQ(std::string(buffer), std::string(200, 'p'));
}

TEST_F(TransportTest, NoDeviceFailsAtOnceWithoutWaiting) {
    Reset();
    const Report report = Bytes({0x10});
    Report response = Bytes({0xAA});
    EXPECT_FALSE(DevComTransport::WriteReport(report));
    EXPECT_FALSE(DevComTransport::ReadReport(response));
    EXPECT_EQ(response[0], 0xAA);
    EXPECT_EQ(host->Now(), 0us);
    EXPECT_TRUE(host->Trace().empty());
    EXPECT_EQ(host->DiscoveryCount(), 2u);
}

TEST_F(TransportTest, ExchangeReachesTheDeviceAndBack) {
    auto device = Plug();
    Reset();
    Report report{};
    for (std::size_t i = 0; i < report.size(); ++i) report[i] = static_cast<std::uint8_t>(i);
    report[0] = 0x10;
    ASSERT_TRUE(DevComTransport::WriteReport(report));
    Report response{};
    ASSERT_TRUE(DevComTransport::ReadReport(response));
    ASSERT_EQ(host->Trace().size(), 2u);
    EXPECT_EQ(host->Trace()[0].bytes, report);  // the 64th byte arrives as sent
    EXPECT_TRUE(host->Trace()[0].toDevice);
    EXPECT_EQ(host->Trace()[1].bytes, response);
    EXPECT_EQ(response[0], 0x10);
    EXPECT_EQ(host->Now(), 2ms);  // one frame each way
}

TEST_F(TransportTest, ReadTimeOutDropsTheConnectionAndTheNextExchangeRediscovers) {
    auto device = Plug();
    Reset();
    device->DropResponses(0x10);
    ASSERT_TRUE(DevComTransport::WriteReport(Bytes({0x10})));
    Report response = Bytes({0xAA});
    const auto before = host->Now();
    EXPECT_FALSE(DevComTransport::ReadReport(response));
    EXPECT_EQ(response[0], 0xAA);
    EXPECT_EQ(host->Now() - before, 1000ms);
    EXPECT_FALSE(Corvane::DevComTransport::IsConnected());
    EXPECT_EQ(host->OpenChannelCount(), 0u);
    const std::size_t passes = host->DiscoveryCount();
    ASSERT_TRUE(DevComTransport::WriteReport(Bytes({0x10})));
    EXPECT_EQ(host->DiscoveryCount(), passes + 1);
    EXPECT_TRUE(DevComTransport::ReadReport(response));
    EXPECT_EQ(host->OpenChannelCount(), 2u);
}

TEST_F(TransportTest, WriteTimeOutDropsTheConnection) {
    auto device = Plug();
    Reset();
    ASSERT_TRUE(DevComTransport::DiscoverDevices());
    device->TimeOutWrites();
    EXPECT_FALSE(DevComTransport::WriteReport(Bytes({0x10})));
    EXPECT_FALSE(Corvane::DevComTransport::IsConnected());
    EXPECT_EQ(host->Now(), 1000ms);
    EXPECT_TRUE(host->Trace().empty());
}

TEST_F(TransportTest, FailedWaitCancelsAndDropsTheConnectionWithoutWaiting) {
    auto device = Plug();
    Reset();
    ASSERT_TRUE(DevComTransport::DiscoverDevices());
    device->FailWaits();
    EXPECT_FALSE(DevComTransport::WriteReport(Bytes({0x10})));
    EXPECT_FALSE(Corvane::DevComTransport::IsConnected());
    EXPECT_EQ(host->Now(), 0ms);
    // A failed read leaves no stale answer behind for the next exchange.
    ASSERT_TRUE(DevComTransport::WriteReport(Bytes({0x10})));
    device->FailWaits();
    Report response = Bytes({0xAA});
    EXPECT_FALSE(DevComTransport::ReadReport(response));
    EXPECT_EQ(response[0], 0xAA);
    ASSERT_TRUE(DevComTransport::WriteReport(Bytes({0x61})));
    ASSERT_TRUE(DevComTransport::ReadReport(response));
    EXPECT_EQ(response[0], 0x61);
}

TEST_F(TransportTest, UnpluggedDeviceTimesOutOnceThenFailsWithoutWaiting) {
    auto device = Plug();
    Reset();
    ASSERT_TRUE(DevComTransport::DiscoverDevices());
    host->Unplug(device);
    EXPECT_FALSE(DevComTransport::WriteReport(Bytes({0x10})));
    EXPECT_EQ(host->Now(), 1000ms);
    EXPECT_FALSE(DevComTransport::WriteReport(Bytes({0x10})));
    EXPECT_EQ(host->Now(), 1000ms);
    host->Plug(device);
    EXPECT_TRUE(DevComTransport::WriteReport(Bytes({0x10})));
}

// A platform that records the wire bytes and answers with a fixed report ID.
class WirePlatform : public Corvane::Platform {
  public:
    std::vector<Corvane::HidInterfaceInfo> ListHidInterfaces() override {
        return {{{u"HID\\VID_3A7C&PID_01D5"}, u"wire", {}}};
    }
    Corvane::PlatformHandle OpenChannel(const std::u16string&, Corvane::ChannelAccess) override {
        return next++;
    }
    Corvane::PlatformHandle CreateTransferEvent() override { return 99; }
    Corvane::TransferOutcome WriteReport(Corvane::PlatformHandle, Corvane::PlatformHandle,
                                         std::span<const std::uint8_t, 65> report,
                                         std::uint32_t timeoutMs) override {
        written.assign(report.begin(), report.end());
        lastTimeout = timeoutMs;
        return outcome;
    }
    Corvane::TransferOutcome ReadReport(Corvane::PlatformHandle, Corvane::PlatformHandle,
                                        std::span<std::uint8_t, 65> report,
                                        std::uint32_t) override {
        for (std::size_t i = 0; i < report.size(); ++i)
            report[i] = static_cast<std::uint8_t>(i + 0x55);
        return outcome;
    }
    void CancelTransfer(Corvane::PlatformHandle handle) override { cancelled.push_back(handle); }
    void CloseHandle(Corvane::PlatformHandle handle) override { closed.push_back(handle); }
    void SleepMs(std::uint32_t) override {}

    Corvane::PlatformHandle next = 1;
    Corvane::TransferOutcome outcome = Corvane::TransferOutcome::Done;
    std::vector<std::uint8_t> written;
    std::vector<Corvane::PlatformHandle> cancelled, closed;
    std::uint32_t lastTimeout = 0;
};

TEST(WireFraming, ReportIdFirstAndDroppedOnRead) {
    auto wire = std::make_shared<WirePlatform>();
    Corvane::SetPlatform(wire);
    DevComTransport::ResetState(0x3A7C, 0x01D5);
    Report report{};
    for (std::size_t i = 0; i < report.size(); ++i) report[i] = static_cast<std::uint8_t>(0x80 + i);
    ASSERT_TRUE(DevComTransport::WriteReport(report));
    ASSERT_EQ(wire->written.size(), 65u);
    EXPECT_EQ(wire->written[0], 0x00);
    EXPECT_TRUE(std::equal(report.begin(), report.end(), wire->written.begin() + 1));
    EXPECT_EQ(wire->lastTimeout, 1000u);
    Report response{};
    ASSERT_TRUE(DevComTransport::ReadReport(response));
    EXPECT_EQ(response[0], 0x56);  // wire byte 1
    EXPECT_EQ(response[63], static_cast<std::uint8_t>(64 + 0x55));

    wire->outcome = Corvane::TransferOutcome::TimedOut;
    EXPECT_FALSE(DevComTransport::WriteReport(report));
    EXPECT_EQ(wire->cancelled, (std::vector<Corvane::PlatformHandle>{1}));
    EXPECT_EQ(wire->closed, (std::vector<Corvane::PlatformHandle>{2, 1}));  // read, then write

    wire->outcome = Corvane::TransferOutcome::Done;
    ASSERT_TRUE(DevComTransport::WriteReport(report));  // rediscovered
    wire->outcome = Corvane::TransferOutcome::Failed;
    wire->cancelled.clear();
    EXPECT_FALSE(DevComTransport::ReadReport(response));
    EXPECT_EQ(wire->cancelled, (std::vector<Corvane::PlatformHandle>{4}));  // the read channel
    EXPECT_FALSE(Corvane::DevComTransport::IsConnected());

    wire->outcome = Corvane::TransferOutcome::Done;
    ASSERT_TRUE(DevComTransport::WriteReport(report));
    wire->outcome = Corvane::TransferOutcome::Gone;
    wire->cancelled.clear();
    EXPECT_FALSE(DevComTransport::ReadReport(response));
    EXPECT_TRUE(wire->cancelled.empty());
    EXPECT_FALSE(Corvane::DevComTransport::IsConnected());
    Corvane::SetPlatform(nullptr);
}

}  // namespace
}  // namespace CorvaneTest

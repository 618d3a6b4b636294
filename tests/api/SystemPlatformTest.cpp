// The operating system's own backend, on any machine: CI and Wine (for the
// Windows build) have no bridge, a developer's may have one plugged in.
#include <gtest/gtest.h>

#include <corvane/corvane.hpp>

#include <memory>

namespace CorvaneTest {
namespace {

using Corvane::ChannelAccess;
using Corvane::kWireReportSize;
using Corvane::PlatformHandle;
using Corvane::TransferOutcome;

// Forwards to the real backend and counts what the library asked of it.
class Recording final : public Corvane::Platform {
  public:
    explicit Recording(std::shared_ptr<Corvane::Platform> inner) : inner_(std::move(inner)) {}

    std::vector<Corvane::HidInterfaceInfo> ListHidInterfaces() override {
        ++listings;
        return inner_->ListHidInterfaces();
    }
    PlatformHandle OpenChannel(const std::u16string& path, ChannelAccess access) override {
        ++opens;
        return inner_->OpenChannel(path, access);
    }
    PlatformHandle CreateTransferEvent() override { return inner_->CreateTransferEvent(); }
    TransferOutcome WriteReport(PlatformHandle channel, PlatformHandle event,
                                std::span<const std::uint8_t, kWireReportSize> report,
                                std::uint32_t timeoutMs) override {
        ++transfers;
        return inner_->WriteReport(channel, event, report, timeoutMs);
    }
    TransferOutcome ReadReport(PlatformHandle channel, PlatformHandle event,
                               std::span<std::uint8_t, kWireReportSize> report,
                               std::uint32_t timeoutMs) override {
        ++transfers;
        return inner_->ReadReport(channel, event, report, timeoutMs);
    }
    void CancelTransfer(PlatformHandle channel) override { inner_->CancelTransfer(channel); }
    void CloseHandle(PlatformHandle handle) override { inner_->CloseHandle(handle); }
    void SleepMs(std::uint32_t ms) override {
        ++sleeps;
        inner_->SleepMs(ms);
    }

    int listings = 0;
    int opens = 0;
    int transfers = 0;
    int sleeps = 0;

  private:
    std::shared_ptr<Corvane::Platform> inner_;
};

// With no bridge plugged in, discovery finds none and an exchange fails
// without waiting; with one, the exchange reaches it with no pause.
TEST(SystemPlatform, DiscoveryAndOneExchangeThroughTheSystemBackend) {
    auto recording = std::make_shared<Recording>(Corvane::MakeSystemPlatform());
    Corvane::SetPlatform(recording);
    {
        Corvane::VrelUsbI2c bridge;
        const bool present = bridge.Settings->GetConnectionStatus();
        EXPECT_EQ(bridge.Management->GetDevCount() > 0, present);
        EXPECT_EQ(recording->listings, 1);
        const int opened = recording->opens;

        const std::int32_t result = bridge.Functions->ReadGpioPinValue(0);
        EXPECT_EQ(recording->sleeps, 0);
        if (present && result == Corvane::REPORT_WRITE_FAILED) {
            Corvane::SetPlatform(nullptr);
            GTEST_SKIP() << "a bridge is plugged in but cannot be opened here";
        }
        if (present) {
            // Pin 0 reads as a level, or as no GPIO when designated otherwise.
            EXPECT_TRUE(result == 0 || result == 1 || result == Corvane::PIN_NOT_GPIO) << result;
            EXPECT_EQ(recording->transfers, 2);
            EXPECT_EQ(recording->listings, 1);
        } else {
            // The exchange ran a discovery pass and then gave up: nothing was
            // opened, sent or waited for.
            EXPECT_EQ(result, Corvane::REPORT_WRITE_FAILED);
            EXPECT_EQ(recording->listings, 2);
            EXPECT_EQ(opened, 0);
            EXPECT_EQ(recording->opens, 0);
            EXPECT_EQ(recording->transfers, 0);
        }
    }
    Corvane::SetPlatform(nullptr);
}

}  // namespace
}  // namespace CorvaneTest

// The operating system's own backend, on a machine without a bridge (CI, and
// Wine for the Windows build): discovery finds nothing and exchanges fail at
// once, without waiting for a time-out.
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

TEST(SystemPlatform, WithoutABridgeDiscoveryFindsNoneAndAnExchangeFailsWithoutWaiting) {
    auto recording = std::make_shared<Recording>(Corvane::MakeSystemPlatform());
    Corvane::SetPlatform(recording);
    {
        Corvane::VrelUsbI2c bridge;
        EXPECT_FALSE(bridge.Settings->GetConnectionStatus());
        EXPECT_EQ(bridge.Management->GetDevCount(), 0);
        EXPECT_EQ(recording->listings, 1);

        EXPECT_EQ(bridge.Functions->ReadGpioPinValue(0), Corvane::REPORT_WRITE_FAILED);
        // The exchange ran a discovery pass and then gave up: nothing was
        // opened, sent or waited for.
        EXPECT_EQ(recording->listings, 2);
        EXPECT_EQ(recording->opens, 0);
        EXPECT_EQ(recording->transfers, 0);
        EXPECT_EQ(recording->sleeps, 0);
    }
    Corvane::SetPlatform(nullptr);
}

}  // namespace
}  // namespace CorvaneTest

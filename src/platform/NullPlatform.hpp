// SPDX-License-Identifier: MIT
#pragma once

#include "corvane/Platform.hpp"

namespace Corvane {

// A platform with no HID devices: used where the system has no backend. Every
// transfer reports a dead channel; sleeps are real.
class NullPlatform final : public Platform {
  public:
    std::vector<HidInterfaceInfo> ListHidInterfaces() override { return {}; }
    PlatformHandle OpenChannel(const std::u16string&, ChannelAccess) override {
        return kInvalidHandle;
    }
    PlatformHandle CreateTransferEvent() override { return kInvalidHandle; }
    TransferOutcome WriteReport(PlatformHandle, PlatformHandle,
                                std::span<const std::uint8_t, kWireReportSize>,
                                std::uint32_t) override {
        return TransferOutcome::Gone;
    }
    TransferOutcome ReadReport(PlatformHandle, PlatformHandle,
                               std::span<std::uint8_t, kWireReportSize>, std::uint32_t) override {
        return TransferOutcome::Gone;
    }
    void CancelTransfer(PlatformHandle) override {}
    void CloseHandle(PlatformHandle) override {}
    void SleepMs(std::uint32_t ms) override;
    void SleepUs(std::uint32_t us) override;
};

}  // namespace Corvane

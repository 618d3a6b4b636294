// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "corvane/Diagnostics.hpp"
#include "corvane/Platform.hpp"
#include "platform/linux/HangupMonitor.hpp"
#include "platform/linux/HidrawChannel.hpp"
#include "platform/linux/HidrawSysfs.hpp"

namespace Corvane {

// The Linux backend: HID interfaces are the kernel's hidraw nodes, found in
// sysfs. sysRoot and devRoot stand for /sys and /dev (tests point them at a
// scratch tree). Channel handles are the nodes' file descriptors.
class LinuxHidrawPlatform final : public Platform {
  public:
    explicit LinuxHidrawPlatform(std::string sysRoot = "/sys", std::string devRoot = "/dev");
    ~LinuxHidrawPlatform() override;

    std::vector<HidInterfaceInfo> ListHidInterfaces() override;
    PlatformHandle OpenChannel(const std::u16string& path, ChannelAccess access) override;
    // Each channel waits on its own descriptor, so the shared event is a
    // placeholder: a valid handle that nothing waits on.
    PlatformHandle CreateTransferEvent() override;
    TransferOutcome WriteReport(PlatformHandle channel, PlatformHandle event,
                                std::span<const std::uint8_t, kWireReportSize> report,
                                std::uint32_t timeoutMs) override;
    TransferOutcome ReadReport(PlatformHandle channel, PlatformHandle event,
                               std::span<std::uint8_t, kWireReportSize> report,
                               std::uint32_t timeoutMs) override;
    void CancelTransfer(PlatformHandle channel) override;
    void CloseHandle(PlatformHandle handle) override;
    // Sleeps on the monotonic clock to an absolute deadline, resuming after signals.
    void SleepMs(std::uint32_t ms) override;
    void SleepUs(std::uint32_t us) override;
    // flock() on the read channel's node (HidrawLock.hpp).
    LockOutcome LockChannel(PlatformHandle channel, std::uint32_t timeoutMs) override;
    void UnlockChannel(PlatformHandle channel) override;
    std::string LockHolder(PlatformHandle channel) override;

    // The nodes of vendorId/productId and whether this process can open them.
    std::vector<DeviceNodeStatus> ProbeNodes(std::uint16_t vendorId, std::uint16_t productId) const;

  private:
    HidrawChannel* Find(PlatformHandle handle);
    // Whether writes to the node at `path` stay on the caller's thread.
    bool WritesDirectly(const std::string& path);

    const std::string sysRoot_;
    const std::string devRoot_;
    std::mutex listedMutex_;
    HidrawNodeCache listed_;  // what the last ListHidInterfaces() read
    std::mutex mutex_;
    std::map<PlatformHandle, std::unique_ptr<HidrawChannel>> channels_;
    // Declared after the channels so its thread stops before they close.
    HangupMonitor monitor_;
};

}  // namespace Corvane

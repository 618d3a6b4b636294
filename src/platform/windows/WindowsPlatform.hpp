// SPDX-License-Identifier: MIT
#pragma once

// The Windows backend: SetupAPI discovery of HID interfaces and overlapped
// report I/O on the HID class driver's file handles.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "corvane/Diagnostics.hpp"
#include "corvane/Platform.hpp"

namespace Corvane {

// Splits a REG_MULTI_SZ value of `bytes` bytes (UTF-16, little-endian) into its
// strings: up to the empty string that ends the list, or up to `bytes` when
// the terminators are missing. Never reads past `bytes`.
std::vector<std::u16string> SplitMultiString(const std::uint8_t* data, std::size_t bytes);

// Whether a hardware ID (HID\VID_3A7C&PID_01D5&...) names this vendor and
// product, in either case.
bool HardwareIdCarries(std::u16string_view hardwareId, std::uint16_t vendorId,
                       std::uint16_t productId);

// The system's message for an error code, in UTF-8 and without the line
// break; "system error N" when it has none.
std::string SystemErrorText(DWORD error);

class WindowsPlatform final : public Platform {
  public:
    WindowsPlatform();
    ~WindowsPlatform() override;
    WindowsPlatform(const WindowsPlatform&) = delete;
    WindowsPlatform& operator=(const WindowsPlatform&) = delete;

    std::vector<HidInterfaceInfo> ListHidInterfaces() override;
    PlatformHandle OpenChannel(const std::u16string& path, ChannelAccess access) override;
    PlatformHandle CreateTransferEvent() override;
    TransferOutcome WriteReport(PlatformHandle channel, PlatformHandle event,
                                std::span<const std::uint8_t, kWireReportSize> report,
                                std::uint32_t timeoutMs) override;
    TransferOutcome ReadReport(PlatformHandle channel, PlatformHandle event,
                               std::span<std::uint8_t, kWireReportSize> report,
                               std::uint32_t timeoutMs) override;
    void CancelTransfer(PlatformHandle channel) override;
    void CloseHandle(PlatformHandle handle) override;
    void SleepMs(std::uint32_t ms) override;
    void SleepUs(std::uint32_t us) override;
    // A named mutex of the device path: Global\corvane-bridge- and a hash of
    // the path (Local\ where this program may not create global objects).
    // Owned by the thread that took it, which is the one that releases it:
    // the library runs one operation on one thread. An abandoned mutex (its
    // program died holding it) counts as taken.
    LockOutcome LockChannel(PlatformHandle channel, std::uint32_t timeoutMs) override;
    void UnlockChannel(PlatformHandle channel) override;

    // The HID interfaces of this vendor and product, each opened for reading
    // and writing once and closed again.
    std::vector<DeviceNodeStatus> ProbeNodes(std::uint16_t vendorId, std::uint16_t productId);

    // True when pauses use a high-resolution waitable timer, false when they
    // fall back to Sleep (Windows before 10 1803).
    bool HasHighResolutionTimer() const { return timer_ != nullptr; }

  private:
    // What one overlapped transfer needs until the system has finished with
    // it. Kept on the heap: a transfer that never completes keeps its own.
    struct TransferRecord {
        OVERLAPPED overlapped{};
        std::array<std::uint8_t, kWireReportSize> buffer{};
    };

    enum class Direction { Write, Read };

    // Starts one transfer of record_->buffer and waits for it.
    TransferOutcome Transfer(Direction direction, PlatformHandle channel, PlatformHandle event,
                             std::uint32_t timeoutMs);
    // Waits `hundredNs` on the high-resolution timer; false when there is
    // none or the wait failed.
    bool WaitTimer(long long hundredNs);
    // Cancels the transfer still outstanding, if any, and waits for the
    // cancellation to land before the record is used again.
    void SettleOutstanding();

    // The device path of every open read channel, and the mutex each holds.
    std::map<HANDLE, std::u16string> readPaths_;
    std::map<HANDLE, HANDLE> heldLocks_;

    std::unique_ptr<TransferRecord> record_;
    HANDLE outstanding_ = nullptr;  // channel of a transfer that did not finish
    HANDLE timer_ = nullptr;
};

}  // namespace Corvane

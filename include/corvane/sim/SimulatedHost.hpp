// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "corvane/Export.hpp"
#include "corvane/Platform.hpp"
#include "corvane/sim/VirtualDevice.hpp"

namespace Corvane::Sim {

// One report that crossed between library and device (report ID removed).
struct TraceEntry {
    bool toDevice;
    std::array<std::uint8_t, 64> bytes;
    // Whether the library held the device's inter-process lock as the report crossed.
    bool locked = false;
};

// Who holds a virtual device's inter-process lock.
enum class LockOwner {
    Nobody,
    Library,       // a channel of the library, through Platform::LockChannel()
    OtherProgram,  // HoldLock() in the test's name
};

// Faults the host can make happen at one report transfer (a write or a read).
enum class HostFault {
    Unplug,    // the device is unplugged just before the transfer
    Silence,   // from that transfer on, the device takes commands and answers none
    FailWait,  // that one transfer's wait fails
};

// A platform made of virtual devices, with a virtual clock. Sleeps and
// time-outs advance the clock instead of taking real time (unless real-time
// mode is on), and every report that crosses costs modelled bus time.
//
// Unplugged devices, and channels opened before a device reset, time out as
// real hardware does. Thread-safe.
class CORVANE_SIM_API SimulatedHost : public Platform {
  public:
    SimulatedHost();
    ~SimulatedHost() override;

    // Makes a new simulated host the process-wide platform and returns it.
    static std::shared_ptr<SimulatedHost> Install();

    // Makes `device` present for the next discovery pass, at the end of the
    // enumeration or at `position` among the listed interfaces.
    void Plug(std::shared_ptr<VirtualDevice> device, std::optional<std::size_t> position = {});
    // Makes `device` absent; its open channels time out from now on.
    void Unplug(const std::shared_ptr<VirtualDevice>& device);
    // Lists an interface that is not a virtual device (other IDs, odd hardware IDs).
    void AddForeignInterface(std::vector<std::u16string> hardwareIds, std::u16string path,
                             std::optional<std::size_t> position = {});

    // Every report that crossed, in order.
    std::vector<TraceEntry> Trace() const;
    void ClearTrace();
    // The millisecond sleeps the library asked for, in order.
    std::vector<std::uint32_t> Sleeps() const;
    void ClearSleeps();

    // Virtual time since the host was made.
    std::chrono::microseconds Now() const;
    void AdvanceClock(std::chrono::microseconds by);
    // Bus time of one report in either direction (default 1 ms, zero allowed).
    void SetReportTime(std::chrono::microseconds perReport);
    // In real-time mode sleeps, report times and time-outs take real time too.
    void SetRealTime(bool realTime);

    // Channels opened and not yet closed.
    std::size_t OpenChannelCount() const;
    // Closes of handles that were not open: closed before, or never given.
    // Where the system reuses handle values, such a close may hit an
    // unrelated handle of the process, so any count above 0 is a fault.
    std::size_t StrayCloseCount() const;
    // Discovery passes (interface listings) so far.
    std::size_t DiscoveryCount() const;
    // Transfer events created so far.
    std::size_t EventCount() const;

    // Report transfers (writes and reads) attempted so far.
    std::size_t TransferCount() const;
    // Makes `fault` happen at the transfer with that number (counting as
    // TransferCount() does) to the device on that channel.
    void InjectFault(std::size_t transfer, HostFault fault);
    // Undoes injected faults: unplugged devices come back at their place,
    // silenced ones answer again, pending ones are dropped.
    void ClearFaults();

    // ---- the devices' inter-process lock ----------------------------------------
    // Every virtual device has one lock, which the library takes through a
    // channel (Platform::LockChannel) and which closing that channel releases.
    // A library waiting for it passes virtual time only.

    // Makes another program, named `holder` ("corvane-i2cdev (pid 1234)"),
    // hold `device`'s lock from now on: for `duration` of virtual time, or
    // until ReleaseLock(). False, and nothing changes, while another holds it.
    bool HoldLock(const std::shared_ptr<VirtualDevice>& device, std::string holder,
                  std::optional<std::chrono::microseconds> duration = {});
    // The other program lets go; nothing when it holds nothing.
    void ReleaseLock(const std::shared_ptr<VirtualDevice>& device);
    LockOwner LockOwnerOf(const std::shared_ptr<VirtualDevice>& device) const;
    // Times the library took a device's lock so far.
    std::size_t LockTakeCount() const;

    // ---- Platform -------------------------------------------------------------
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
    // Advances the virtual clock; not listed in Sleeps().
    void SleepUs(std::uint32_t us) override;
    // Now() in microseconds.
    std::uint64_t MonotonicUs() override;
    // Queued answers are the library's own (the host runs one program), so
    // taking the lock discards none.
    LockOutcome LockChannel(PlatformHandle channel, std::uint32_t timeoutMs) override;
    void UnlockChannel(PlatformHandle channel) override;
    // The other program's name while it holds the lock.
    std::string LockHolder(PlatformHandle channel) override;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace Corvane::Sim

// SPDX-License-Identifier: MIT
#pragma once

// The platform the library reaches devices through. The operating system's
// backend is the default; a simulated host (corvane/sim.hpp) or a test double
// can take its place at run time with SetPlatform().

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "corvane/Export.hpp"

namespace Corvane {

// An open channel or event. kInvalidHandle marks "none".
using PlatformHandle = std::intptr_t;
inline constexpr PlatformHandle kInvalidHandle = -1;

// Size of one report on the wire: report ID 0x00 followed by 64 report bytes.
inline constexpr std::size_t kWireReportSize = 65;

// One present HID interface, as the platform enumerates it.
struct HidInterfaceInfo {
    // The hardware-ID list; the first entry reads like
    // "HID\VID_3A7C&PID_01D5&REV_0100". May be empty when the platform has none.
    std::vector<std::u16string> hardwareIds;
    // Path that OpenChannel() accepts.
    std::u16string path;
    // USB serial number where the platform knows it (tools only; may be empty).
    std::u16string serialNumber;
};

enum class ChannelAccess { Write, Read };

// How one report transfer ended.
enum class TransferOutcome {
    Done,      // the transfer finished within the time-out
    TimedOut,  // nothing happened within the time-out; the platform has not cancelled it
    Failed,    // the wait itself was abandoned or failed, or the transfer finished
               // with an error; the channel may still be good
    Gone,      // the channel is dead (device removed, bad handle); it will never work again
};

// How a wait for a device's inter-process lock ended (Platform::LockChannel).
enum class LockOutcome {
    Held,    // this channel holds the lock now
    Busy,    // another program kept it for the whole time-out
    Failed,  // the lock cannot be had through this channel (device gone, bad
             // handle, a system error); waiting longer would not help
};

// Contract shared by every backend. Calls come from one thread at a time
// (the library serialises its own operations). No call throws. A transfer
// the system completed with an error is never reported as Done: the library
// takes it as a failed exchange, cancels it and reconnects.
class CORVANE_API Platform {
  public:
    virtual ~Platform();

    // Returns the present HID interfaces in a stable enumeration order. Changes nothing.
    virtual std::vector<HidInterfaceInfo> ListHidInterfaces() = 0;

    // Opens `path` for writing or reading only, shared with other openers,
    // existing devices only. Returns the channel, or kInvalidHandle when the
    // path cannot be opened.
    virtual PlatformHandle OpenChannel(const std::u16string& path, ChannelAccess access) = 0;

    // Creates the transfer-completion event shared by every transfer
    // (manual reset, initially signalled). Returns kInvalidHandle on failure.
    virtual PlatformHandle CreateTransferEvent() = 0;

    // Writes one 65-byte report (byte 0 is the report ID) on a write channel
    // and waits at most timeoutMs for it to finish.
    virtual TransferOutcome WriteReport(PlatformHandle channel, PlatformHandle event,
                                        std::span<const std::uint8_t, kWireReportSize> report,
                                        std::uint32_t timeoutMs) = 0;

    // Reads one report on a read channel, waiting at most timeoutMs. On Done,
    // `report` holds the report ID in byte 0 and the 64 report bytes after it;
    // otherwise its content is unspecified.
    virtual TransferOutcome ReadReport(PlatformHandle channel, PlatformHandle event,
                                       std::span<std::uint8_t, kWireReportSize> report,
                                       std::uint32_t timeoutMs) = 0;

    // Cancels the transfer still outstanding on `channel`, if any.
    virtual void CancelTransfer(PlatformHandle channel) = 0;

    // Closes a channel or event returned by this platform. kInvalidHandle is ignored.
    virtual void CloseHandle(PlatformHandle handle) = 0;

    // Blocks the calling thread for `ms` milliseconds (bus pacing).
    virtual void SleepMs(std::uint32_t ms) = 0;

    // Blocks the calling thread for `us` microseconds (bus-time pacing, see
    // corvane/Pacing.hpp). A pause may come out longer, never shorter. The
    // default rounds up to whole milliseconds and calls SleepMs(), so a
    // platform that keeps its own clock sees every pause.
    virtual void SleepUs(std::uint32_t us);

    // Microseconds on a monotonic clock with an arbitrary origin: the clock
    // SleepMs() and SleepUs() pass time on. The default is the system's
    // steady clock; a platform with its own clock must return that one.
    virtual std::uint64_t MonotonicUs();

    // ---- the device's inter-process lock ----------------------------------
    // Several programs may have one device open; each exchanges its reports
    // with the device only while it holds the device's lock through its read
    // channel. The lock belongs to the channel: closing the channel releases
    // it. The library takes it on one channel at a time and never twice.

    // Takes the lock of the device behind read channel `channel`, waiting at
    // most timeoutMs (0: one try) on the clock of MonotonicUs() while another
    // program holds it. Returns Held, then discards the input reports queued
    // on the channel so far: they answered another program's commands. Busy
    // when another program held it all along, Failed when the channel cannot
    // take it (see LockOutcome). The default takes nothing and returns Held:
    // a platform without a lock serialises nothing between programs.
    virtual LockOutcome LockChannel(PlatformHandle channel, std::uint32_t timeoutMs);

    // Releases the lock `channel` holds; nothing when it holds none. The
    // default does nothing.
    virtual void UnlockChannel(PlatformHandle channel);

    // Who holds the lock of the device behind `channel` now, for people:
    // "corvane-i2cdev (pid 1234)". Empty when nobody does or the platform
    // cannot tell (the default).
    virtual std::string LockHolder(PlatformHandle channel);
};

// The platform in use now; never null.
CORVANE_API std::shared_ptr<Platform> GetPlatform();

// Makes `platform` the process-wide platform; nullptr restores the operating
// system's backend. Channels opened on the previous platform are forgotten,
// so replace the platform before constructing a VrelUsbI2c.
CORVANE_API void SetPlatform(std::shared_ptr<Platform> platform);

// A new instance of the operating system's backend (one that finds no devices
// where the system has no backend).
CORVANE_API std::shared_ptr<Platform> MakeSystemPlatform();

}  // namespace Corvane

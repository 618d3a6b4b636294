// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "corvane/Platform.hpp"
#include "corvane/ReportTrace.hpp"

namespace Corvane {

// One 64-byte command or response report, without the report ID.
using Report = std::array<std::uint8_t, 64>;

inline constexpr std::size_t kPasswordBytes = 8;
using AccessPassword = std::array<std::uint8_t, kPasswordBytes>;

// Bytes [first, first + count) of a request that carry a password: a report
// trace never shows them.
struct SecretBytes {
    std::size_t first = 0;
    std::size_t count = 0;
};

// The transport half of DevCom: discovery, selection and the exchange of one
// report pair. Holds no data; it works on the process's DeviceState.
class DevComTransport {
  public:
    // Held for the whole of every public operation, so calls from several
    // threads never interleave their reports on the shared channels.
    static std::recursive_mutex& ApiMutex();

    // Bracket one public operation. Its first report exchange takes the
    // connected device's inter-process lock (waiting at most the busy
    // time-out, corvane/BusyTimeout.hpp), and the end of the outermost
    // operation releases it: one operation is one unit for other programs.
    static void BeginOperation();
    static void EndOperation();

    // Whether the last WriteReport() or ReadReport() failed because another
    // program held the device for the whole busy time-out; nothing was sent.
    static bool BridgeWasBusy();

    // The access password that every chip-settings write carries unless it
    // names its own; zeros after a reset.
    static const AccessPassword& RememberedPassword();
    static void RememberPassword(const AccessPassword& password);

    // Whether the selected device is connected (no discovery is run).
    static bool IsConnected();

    // Forgets the device table, selection, connection and remembered password
    // and searches for vendorId/productId from now on. Closes every channel
    // the table still holds. Performs no discovery.
    static void ResetState(std::uint32_t vendorId, std::uint32_t productId);

    // Rebuilds the table from the present HID interfaces, opens every matching
    // device and connects the selected one. Returns IsConnected().
    static bool DiscoverDevices();

    // Sends one command report (discovering first when not connected; taking
    // the device's lock first inside an operation). True when the transfer
    // finished within 1000 ms. A time-out, a failed wait or a dead channel
    // cancels the transfer and drops the connection, so the next exchange
    // rediscovers.
    static bool WriteReport(const Report& report, SecretBytes secret = {});

    // Receives one response report into `report`. True when one arrived within
    // 1000 ms; otherwise `report` is not written and the connection is
    // dropped as for WriteReport.
    static bool ReadReport(Report& report);

    // Four lowercase hex digits: the leading four of a longer value, a shorter
    // one right-aligned in "0000".
    static std::array<char, 4> FormatHexId(std::uint32_t value);

    // "vid_" + FormatHexId(vendor ID) + "&pid_" + FormatHexId(product ID).
    static std::string BuildMatchString();

    // The first hardware ID of an interface as matched: narrow, at most its
    // first 21 characters, ASCII capitals in lowercase. Empty when it has none.
    static std::string ReadHardwareId(const HidInterfaceInfo& info);

    // Adds `path` to the table or finds it there (equal wide paths only). Returns
    // the entry index, or -1 when the table is full.
    static std::int32_t AddDevice(const std::u16string& path);

    // Opens entry i twice, for writing and for reading. A failed open stores
    // kInvalidHandle.
    static void OpenDeviceHandles(const std::u16string& path, std::int32_t i);

    // Closes every channel of the table and empties it.
    static void CloseAllDevices();

    // 0 and the new selection, or -2 when devNum (compared unsigned) is not
    // below the device count.
    static std::int32_t SelectDevice(std::int32_t devNum);

    // The selected path as narrow text (at most 200 bytes) into a 256-byte
    // buffer. Always 0.
    static std::int32_t GetSelectedDevicePath(char* buffer);

    // The device table's paths in table order, the selected path, and the path
    // the connection is open on (empty when not connected). Nothing is searched.
    static std::vector<std::u16string> DevicePaths();
    static std::u16string SelectedPath();
    static std::u16string ConnectedPath();
    static std::uint64_t DiscoveryPasses();
    static std::uint32_t VendorId();
    static std::uint32_t ProductId();

    // Narrow form of a device path or hardware ID: ASCII passes unchanged,
    // every other code unit becomes '?'; at most maxBytes bytes.
    static std::string ToNarrow(const char16_t* text, std::size_t maxBytes);

  private:
    // Hands the report to the trace function, if one is set, with `secret` zeroed.
    static void Trace(ReportDirection direction, const Report& report, SecretBytes secret = {});
    static void DropConnection();
    // Inside an operation: takes the device's lock on the connection's read
    // channel unless that channel holds it already. False when it cannot be
    // had: busy (BridgeWasBusy()), or failed, which drops the connection.
    static bool HoldBridge();
    // The connection after one transfer on `channel`; true when it was done.
    static bool Finish(TransferOutcome outcome, PlatformHandle channel);
};

}  // namespace Corvane

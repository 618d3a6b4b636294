// SPDX-License-Identifier: MIT
#include "transport/DevComTransport.hpp"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string_view>

#include "corvane/BusyTimeout.hpp"
#include "transport/DeviceState.hpp"

namespace Corvane {

namespace {

constexpr std::size_t kHardwareIdNarrowMax = 100;
constexpr std::size_t kHardwareIdMatchChars = 21;

Platform& ChannelPlatform() {
    DeviceState& s = DeviceState::Default();
    if (!s.channelPlatform) s.channelPlatform = GetPlatform();
    return *s.channelPlatform;
}

std::size_t PathLength(const char16_t* path) {
    std::size_t n = 0;
    while (n < kPathChars && path[n] != 0) ++n;
    return n;
}

void CopyPath(char16_t* slot, const std::u16string& path) {
    std::fill(slot, slot + kPathChars, u'\0');
    std::copy(path.begin(), path.end(), slot);
}

void ReleaseBridge() {
    DeviceState& s = DeviceState::Default();
    if (s.lockedChannel == kInvalidHandle) return;
    ChannelPlatform().UnlockChannel(s.lockedChannel);
    s.lockedChannel = kInvalidHandle;
}

void CloseIfOpen(PlatformHandle& handle) {
    if (handle != kInvalidHandle) {
        DeviceState& s = DeviceState::Default();
        // The lock goes with its channel; the next exchange of the
        // operation takes it again on the channel it then uses.
        if (handle == s.lockedChannel) ReleaseBridge();
        ChannelPlatform().CloseHandle(handle);
        handle = kInvalidHandle;
    }
}

// Closes the channels of table entry `index`. The connection's handles are
// copies of the selected entry's and are forgotten with them: closing one a
// second time could close an unrelated handle where the system reuses
// handle values.
void CloseEntry(std::size_t index) {
    DeviceState& s = DeviceState::Default();
    if (s.hWriteHandle == s.hWrtHandleLst[index]) s.hWriteHandle = kInvalidHandle;
    if (s.hReadHandle == s.hRdHandleLst[index]) s.hReadHandle = kInvalidHandle;
    CloseIfOpen(s.hWrtHandleLst[index]);
    CloseIfOpen(s.hRdHandleLst[index]);
}

std::atomic<std::uint32_t>& BusyTimeoutMs() {
    static std::atomic<std::uint32_t> ms{kDefaultBusyTimeoutMs};
    return ms;
}

// Per thread: each thread's caller asks about its own BRIDGE_BUSY.
std::string& BusyHolder() {
    thread_local std::string holder;
    return holder;
}

}  // namespace

void SetBusyTimeout(std::uint32_t ms) {
    BusyTimeoutMs().store(ms, std::memory_order_relaxed);
}

std::uint32_t GetBusyTimeout() {
    return BusyTimeoutMs().load(std::memory_order_relaxed);
}

std::string LastBusyHolder() {
    return BusyHolder();
}

void DevComTransport::BeginOperation() {
    ++DeviceState::Default().operationDepth;
}

void DevComTransport::EndOperation() {
    if (--DeviceState::Default().operationDepth == 0) ReleaseBridge();
}

bool DevComTransport::BridgeWasBusy() {
    return DeviceState::Default().bridgeBusy;
}

bool DevComTransport::HoldBridge() {
    DeviceState& s = DeviceState::Default();
    if (s.operationDepth == 0) return true;
    if (s.lockedChannel != kInvalidHandle && s.lockedChannel == s.hReadHandle) return true;
    // An operation talks to one device: it never waits for one lock while
    // holding another, which two programs could do the other way round.
    ReleaseBridge();
    switch (ChannelPlatform().LockChannel(s.hReadHandle, GetBusyTimeout())) {
        case LockOutcome::Held:
            s.lockedChannel = s.hReadHandle;
            return true;
        case LockOutcome::Busy:
            s.bridgeBusy = true;
            BusyHolder() = ChannelPlatform().LockHolder(s.hReadHandle);
            return false;
        case LockOutcome::Failed:
            break;
    }
    DropConnection();
    return false;
}

std::recursive_mutex& DevComTransport::ApiMutex() {
    return DeviceState::Default().apiMutex;
}

const AccessPassword& DevComTransport::RememberedPassword() {
    return DeviceState::Default().accessPassword;
}

void DevComTransport::RememberPassword(const AccessPassword& password) {
    DeviceState::Default().accessPassword = password;
}

bool DevComTransport::IsConnected() {
    return DeviceState::Default().DeviceDetected;
}

std::string DevComTransport::ToNarrow(const char16_t* text, std::size_t maxBytes) {
    std::string narrow;
    for (std::size_t i = 0; text[i] != 0 && narrow.size() < maxBytes; ++i) {
        narrow.push_back(text[i] < 0x80 ? static_cast<char>(text[i]) : '?');
    }
    return narrow;
}

void DevComTransport::ResetState(std::uint32_t vendorId, std::uint32_t productId) {
    DeviceState& s = DeviceState::Default();
    // Close what an earlier object left open, so constructing many objects
    // leaks no channels. The connection's handles are copies of table entries.
    if (s.channelPlatform) {
        for (int i = 0; i < kMaxDevices; ++i) CloseEntry(static_cast<std::size_t>(i));
        CloseIfOpen(s.hWriteHandle);
        CloseIfOpen(s.hReadHandle);
        CloseIfOpen(s.hEventObject);
    }
    s.channelPlatform.reset();

    s.hWriteHandle = kInvalidHandle;
    s.hReadHandle = kInvalidHandle;
    s.DeviceDetected = false;
    s.VID = vendorId;
    s.PID = productId;
    s.hEventObject = kInvalidHandle;
    s.HIDOverlapped = {};
    s.accessPassword.fill(0);
    s.iNumDevices = 0;
    s.iSelectedDevice = 0;
    s.aubStatusDevice.fill(false);
    s.bFirstRun = true;
    std::fill(std::begin(s.wcSelectedDevicePath), std::end(s.wcSelectedDevicePath), u'\0');
    s.pwcDevName.fill(nullptr);
}

std::array<char, 4> DevComTransport::FormatHexId(std::uint32_t value) {
    static constexpr char kDigits[] = "0123456789abcdef";
    char hex[8];
    int n = 0;
    do {
        hex[n++] = kDigits[value & 0xF];
        value >>= 4;
    } while (value != 0);
    // hex holds the digits least significant first.
    std::array<char, 4> out{'0', '0', '0', '0'};
    if (n >= 4) {
        for (int i = 0; i < 4; ++i) out[static_cast<std::size_t>(i)] = hex[n - 1 - i];
    } else {
        for (int i = 0; i < n; ++i) out[static_cast<std::size_t>(3 - i)] = hex[i];
    }
    return out;
}

std::string DevComTransport::BuildMatchString() {
    DeviceState& s = DeviceState::Default();
    const auto vid = FormatHexId(s.VID);
    const auto pid = FormatHexId(s.PID);
    std::string match = "vid_";
    match.append(vid.begin(), vid.end());
    match += "&pid_";
    match.append(pid.begin(), pid.end());
    return match;
}

std::string DevComTransport::ReadHardwareId(const HidInterfaceInfo& info) {
    if (info.hardwareIds.empty()) return {};
    std::string id = ToNarrow(info.hardwareIds.front().c_str(), kHardwareIdNarrowMax);
    if (id.size() > kHardwareIdMatchChars) id.resize(kHardwareIdMatchChars);
    for (char& c : id) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return id;
}

void DevComTransport::CloseAllDevices() {
    DeviceState& s = DeviceState::Default();
    s.aubStatusDevice.fill(false);
    for (auto& slot : s.wcDevName) std::fill(std::begin(slot), std::end(slot), u'\0');
    for (int i = 0; i < s.iNumDevices; ++i) CloseEntry(static_cast<std::size_t>(i));
    s.iNumDevices = 0;
}

std::int32_t DevComTransport::AddDevice(const std::u16string& path) {
    DeviceState& s = DeviceState::Default();
    for (std::int32_t i = 0; i < s.iNumDevices; ++i) {
        const auto index = static_cast<std::size_t>(i);
        // Equal wide paths in full: "/dev/hidraw1" is contained in
        // "/dev/hidraw10", and narrowed or cut paths of two devices can agree.
        if (std::u16string_view(s.wcDevName[index], PathLength(s.wcDevName[index])) == path) {
            s.aubStatusDevice[index] = true;
            return i;
        }
    }
    if (s.iNumDevices >= kMaxDevices) return -1;
    const auto index = static_cast<std::size_t>(s.iNumDevices);
    CopyPath(s.wcDevName[index], path);
    s.pwcDevName[index] = s.wcDevName[index];
    s.aubStatusDevice[index] = true;
    return s.iNumDevices++;
}

void DevComTransport::OpenDeviceHandles(const std::u16string& path, std::int32_t i) {
    DeviceState& s = DeviceState::Default();
    const auto index = static_cast<std::size_t>(i);
    // An entry found again within one pass gets fresh channels, not a second pair.
    CloseEntry(index);
    s.hWrtHandleLst[index] = ChannelPlatform().OpenChannel(path, ChannelAccess::Write);
    s.hRdHandleLst[index] = ChannelPlatform().OpenChannel(path, ChannelAccess::Read);
}

bool DevComTransport::DiscoverDevices() {
    DeviceState& s = DeviceState::Default();
    ++s.discoveryPasses;
    s.DeviceDetected = false;
    const std::string match = BuildMatchString();
    auto platform = GetPlatform();
    const std::vector<HidInterfaceInfo> interfaces = platform->ListHidInterfaces();
    CloseAllDevices();
    if (s.channelPlatform != platform) {
        // Channels of a replaced platform cannot be used with the new one.
        CloseIfOpen(s.hEventObject);
        s.HIDOverlapped = {};
        s.channelPlatform = platform;
        s.hWriteHandle = kInvalidHandle;
        s.hReadHandle = kInvalidHandle;
        s.lockedChannel = kInvalidHandle;
    }

    for (const HidInterfaceInfo& info : interfaces) {
        const std::string hardwareId = ReadHardwareId(info);
        if (hardwareId.find(match) == std::string::npos) continue;
        // A path that does not fit a slot could never be compared or reopened.
        if (info.path.empty() || info.path.size() >= static_cast<std::size_t>(kPathChars)) continue;
        const std::int32_t i = AddDevice(info.path);
        if (i < 0) continue;  // table full: further devices are ignored
        if (s.bFirstRun) {
            s.bFirstRun = false;
            CopyPath(s.wcSelectedDevicePath, info.path);
        }
        OpenDeviceHandles(info.path, i);
        if (s.iSelectedDevice >= 0 && s.iSelectedDevice < s.iNumDevices) {
            const auto selected = static_cast<std::size_t>(s.iSelectedDevice);
            s.hWriteHandle = s.hWrtHandleLst[selected];
            s.hReadHandle = s.hRdHandleLst[selected];
            if (s.aubStatusDevice[selected]) {
                const std::size_t length = PathLength(s.wcDevName[selected]);
                s.DeviceDetected = length == PathLength(s.wcSelectedDevicePath) &&
                                   std::equal(s.wcDevName[selected], s.wcDevName[selected] + length,
                                              s.wcSelectedDevicePath);
            }
        }
        if (s.hEventObject == kInvalidHandle) {
            s.hEventObject = platform->CreateTransferEvent();
            s.HIDOverlapped = {.event = s.hEventObject, .offset = 0};
        }
    }
    return s.DeviceDetected;
}

void DevComTransport::DropConnection() {
    DeviceState& s = DeviceState::Default();
    // Table entries sharing these channels must not close them a second time.
    for (int i = 0; i < kMaxDevices; ++i) {
        const auto index = static_cast<std::size_t>(i);
        if (s.hWrtHandleLst[index] == s.hWriteHandle) s.hWrtHandleLst[index] = kInvalidHandle;
        if (s.hRdHandleLst[index] == s.hReadHandle) s.hRdHandleLst[index] = kInvalidHandle;
    }
    CloseIfOpen(s.hReadHandle);
    CloseIfOpen(s.hWriteHandle);
    s.DeviceDetected = false;
}

bool DevComTransport::Finish(TransferOutcome outcome, PlatformHandle channel) {
    switch (outcome) {
        case TransferOutcome::Done:
            return true;
        case TransferOutcome::TimedOut:
        case TransferOutcome::Failed:
            // A transfer still outstanding would later land in a buffer that is
            // gone, and an answer arriving late would be taken for the next
            // one: cancel it and start the next exchange on fresh channels.
            ChannelPlatform().CancelTransfer(channel);
            DropConnection();
            return false;
        case TransferOutcome::Gone:
            DropConnection();
            return false;
    }
    return false;
}

bool DevComTransport::WriteReport(const Report& report, SecretBytes secret) {
    DeviceState& s = DeviceState::Default();
    std::array<std::uint8_t, kWireReportSize> wire{};
    wire[0] = 0x00;
    std::copy(report.begin(), report.end(), wire.begin() + 1);
    s.bridgeBusy = false;
    if (!s.DeviceDetected) {
        DiscoverDevices();
        if (!s.DeviceDetected) return false;
    }
    if (!HoldBridge()) return false;
    Trace(ReportDirection::Sent, report, secret);
    return Finish(ChannelPlatform().WriteReport(s.hWriteHandle, s.HIDOverlapped.event, wire,
                                                kTransferTimeoutMs),
                  s.hWriteHandle);
}

bool DevComTransport::ReadReport(Report& report) {
    DeviceState& s = DeviceState::Default();
    s.bridgeBusy = false;
    if (!s.DeviceDetected) {
        DiscoverDevices();
        if (!s.DeviceDetected) return false;
    }
    if (!HoldBridge()) return false;
    std::array<std::uint8_t, kWireReportSize> wire{};
    if (!Finish(ChannelPlatform().ReadReport(s.hReadHandle, s.HIDOverlapped.event, wire,
                                             kTransferTimeoutMs),
                s.hReadHandle)) {
        return false;
    }
    std::copy(wire.begin() + 1, wire.end(), report.begin());
    Trace(ReportDirection::Received, report);
    return true;
}

std::int32_t DevComTransport::SelectDevice(std::int32_t devNum) {
    DeviceState& s = DeviceState::Default();
    if (static_cast<std::uint32_t>(devNum) >= static_cast<std::uint32_t>(s.iNumDevices)) return -2;
    s.iSelectedDevice = devNum;
    const auto index = static_cast<std::size_t>(devNum);
    std::copy(std::begin(s.wcDevName[index]), std::end(s.wcDevName[index]), s.wcSelectedDevicePath);
    return 0;
}

std::vector<std::u16string> DevComTransport::DevicePaths() {
    DeviceState& s = DeviceState::Default();
    std::vector<std::u16string> paths;
    for (std::int32_t i = 0; i < s.iNumDevices; ++i) {
        const auto index = static_cast<std::size_t>(i);
        paths.emplace_back(s.wcDevName[index], PathLength(s.wcDevName[index]));
    }
    return paths;
}

std::u16string DevComTransport::SelectedPath() {
    DeviceState& s = DeviceState::Default();
    return {s.wcSelectedDevicePath, PathLength(s.wcSelectedDevicePath)};
}

std::u16string DevComTransport::ConnectedPath() {
    DeviceState& s = DeviceState::Default();
    if (!s.DeviceDetected || s.hWriteHandle == kInvalidHandle) return {};
    // The connection's channels are copies of the entry it was made with; a
    // selection made since does not move them until the next discovery pass.
    for (std::int32_t i = 0; i < s.iNumDevices; ++i) {
        const auto index = static_cast<std::size_t>(i);
        if (s.hWrtHandleLst[index] == s.hWriteHandle) {
            return {s.wcDevName[index], PathLength(s.wcDevName[index])};
        }
    }
    return {};
}

std::uint64_t DevComTransport::DiscoveryPasses() {
    return DeviceState::Default().discoveryPasses;
}

std::uint32_t DevComTransport::VendorId() {
    return DeviceState::Default().VID;
}

std::uint32_t DevComTransport::ProductId() {
    return DeviceState::Default().PID;
}

std::int32_t DevComTransport::GetSelectedDevicePath(char* buffer) {
    DeviceState& s = DeviceState::Default();
    const std::string narrow = ToNarrow(s.wcSelectedDevicePath, kNarrowPathMax);
    std::memcpy(buffer, narrow.c_str(), narrow.size() + 1);
    return 0;
}

}  // namespace Corvane

#include "transport/DevComTransport.hpp"

#include <algorithm>
#include <cstring>

namespace Corvane {

namespace {

constexpr std::size_t kHardwareIdNarrowMax = 100;
constexpr std::size_t kHardwareIdMatchChars = 21;

Platform& ChannelPlatform() {
    if (!channelPlatform) channelPlatform = GetPlatform();
    return *channelPlatform;
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

void CloseIfOpen(PlatformHandle& handle) {
    if (handle != kInvalidHandle) {
        ChannelPlatform().CloseHandle(handle);
        handle = kInvalidHandle;
    }
}

}  // namespace

std::string DevComTransport::ToNarrow(const char16_t* text, std::size_t maxBytes) {
    std::string narrow;
    for (std::size_t i = 0; text[i] != 0 && narrow.size() < maxBytes; ++i) {
        narrow.push_back(text[i] < 0x80 ? static_cast<char>(text[i]) : '?');
    }
    return narrow;
}

void DevComTransport::ResetState(std::uint32_t vendorId, std::uint32_t productId) {
    // Close what an earlier object left open, so constructing many objects
    // leaks no channels. The connection's handles are copies of table entries.
    if (channelPlatform) {
        for (int i = 0; i < kMaxDevices; ++i) {
            if (hWrtHandleLst[i] == hWriteHandle) hWriteHandle = kInvalidHandle;
            if (hRdHandleLst[i] == hReadHandle) hReadHandle = kInvalidHandle;
            CloseIfOpen(hWrtHandleLst[i]);
            CloseIfOpen(hRdHandleLst[i]);
        }
        CloseIfOpen(hWriteHandle);
        CloseIfOpen(hReadHandle);
        CloseIfOpen(hEventObject);
    }
    channelPlatform.reset();

    hWriteHandle = kInvalidHandle;
    hReadHandle = kInvalidHandle;
    DeviceDetected = false;
    VID = vendorId;
    PID = productId;
    hEventObject = kInvalidHandle;
    accessPassword.fill(0);
    iNumDevices = 0;
    iSelectedDevice = 0;
    aubStatusDevice.fill(false);
    bFirstRun = true;
    std::fill(std::begin(wcSelectedDevicePath), std::end(wcSelectedDevicePath), u'\0');
    pwcDevName.fill(nullptr);
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
    const auto vid = FormatHexId(VID);
    const auto pid = FormatHexId(PID);
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
    aubStatusDevice.fill(false);
    for (auto& slot : wcDevName) std::fill(std::begin(slot), std::end(slot), u'\0');
    for (int i = 0; i < iNumDevices; ++i) {
        CloseIfOpen(hWrtHandleLst[static_cast<std::size_t>(i)]);
        CloseIfOpen(hRdHandleLst[static_cast<std::size_t>(i)]);
    }
    iNumDevices = 0;
}

std::int32_t DevComTransport::AddDevice(const std::u16string& path) {
    const std::string narrow = ToNarrow(path.c_str(), kNarrowPathMax);
    for (std::int32_t i = 0; i < iNumDevices; ++i) {
        const auto index = static_cast<std::size_t>(i);
        // Equal paths only: "/dev/hidraw1" is contained in "/dev/hidraw10".
        if (ToNarrow(wcDevName[index], kNarrowPathMax) == narrow) {
            aubStatusDevice[index] = true;
            return i;
        }
    }
    if (iNumDevices >= kMaxDevices) return -1;
    const auto index = static_cast<std::size_t>(iNumDevices);
    CopyPath(wcDevName[index], path);
    pwcDevName[index] = wcDevName[index];
    aubStatusDevice[index] = true;
    return iNumDevices++;
}

void DevComTransport::OpenDeviceHandles(const std::u16string& path, std::int32_t i) {
    const auto index = static_cast<std::size_t>(i);
    // An entry found again within one pass gets fresh channels, not a second pair.
    CloseIfOpen(hWrtHandleLst[index]);
    CloseIfOpen(hRdHandleLst[index]);
    hWrtHandleLst[index] = ChannelPlatform().OpenChannel(path, ChannelAccess::Write);
    hRdHandleLst[index] = ChannelPlatform().OpenChannel(path, ChannelAccess::Read);
}

bool DevComTransport::DiscoverDevices() {
    DeviceDetected = false;
    const std::string match = BuildMatchString();
    auto platform = GetPlatform();
    const std::vector<HidInterfaceInfo> interfaces = platform->ListHidInterfaces();
    CloseAllDevices();
    if (channelPlatform != platform) {
        // Channels of a replaced platform cannot be used with the new one.
        CloseIfOpen(hEventObject);
        channelPlatform = platform;
        hWriteHandle = kInvalidHandle;
        hReadHandle = kInvalidHandle;
    }

    for (const HidInterfaceInfo& info : interfaces) {
        const std::string hardwareId = ReadHardwareId(info);
        if (hardwareId.find(match) == std::string::npos) continue;
        // A path that does not fit a slot could never be compared or reopened.
        if (info.path.empty() || info.path.size() >= static_cast<std::size_t>(kPathChars)) continue;
        const std::int32_t i = AddDevice(info.path);
        if (i < 0) continue;  // table full: further devices are ignored
        if (bFirstRun) {
            bFirstRun = false;
            CopyPath(wcSelectedDevicePath, info.path);
        }
        OpenDeviceHandles(info.path, i);
        if (iSelectedDevice >= 0 && iSelectedDevice < iNumDevices) {
            const auto selected = static_cast<std::size_t>(iSelectedDevice);
            hWriteHandle = hWrtHandleLst[selected];
            hReadHandle = hRdHandleLst[selected];
            if (aubStatusDevice[selected]) {
                const std::size_t length = PathLength(wcDevName[selected]);
                DeviceDetected = length == PathLength(wcSelectedDevicePath) &&
                                 std::equal(wcDevName[selected], wcDevName[selected] + length,
                                            wcSelectedDevicePath);
            }
        }
        if (hEventObject == kInvalidHandle) hEventObject = platform->CreateTransferEvent();
    }
    return DeviceDetected;
}

void DevComTransport::DropConnection() {
    // Table entries sharing these channels must not close them a second time.
    for (int i = 0; i < kMaxDevices; ++i) {
        const auto index = static_cast<std::size_t>(i);
        if (hWrtHandleLst[index] == hWriteHandle) hWrtHandleLst[index] = kInvalidHandle;
        if (hRdHandleLst[index] == hReadHandle) hRdHandleLst[index] = kInvalidHandle;
    }
    CloseIfOpen(hReadHandle);
    CloseIfOpen(hWriteHandle);
    DeviceDetected = false;
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

bool DevComTransport::WriteReport(const Report& report) {
    std::array<std::uint8_t, kWireReportSize> wire{};
    wire[0] = 0x00;
    std::copy(report.begin(), report.end(), wire.begin() + 1);
    if (!DeviceDetected) {
        DiscoverDevices();
        if (!DeviceDetected) return false;
    }
    return Finish(
        ChannelPlatform().WriteReport(hWriteHandle, hEventObject, wire, kTransferTimeoutMs),
        hWriteHandle);
}

bool DevComTransport::ReadReport(Report& report) {
    if (!DeviceDetected) {
        DiscoverDevices();
        if (!DeviceDetected) return false;
    }
    std::array<std::uint8_t, kWireReportSize> wire{};
    if (!Finish(ChannelPlatform().ReadReport(hReadHandle, hEventObject, wire, kTransferTimeoutMs),
                hReadHandle)) {
        return false;
    }
    std::copy(wire.begin() + 1, wire.end(), report.begin());
    return true;
}

std::int32_t DevComTransport::SelectDevice(std::int32_t devNum) {
    if (static_cast<std::uint32_t>(devNum) >= static_cast<std::uint32_t>(iNumDevices)) return -2;
    iSelectedDevice = devNum;
    const auto index = static_cast<std::size_t>(devNum);
    std::copy(std::begin(wcDevName[index]), std::end(wcDevName[index]), wcSelectedDevicePath);
    return 0;
}

std::int32_t DevComTransport::GetSelectedDevicePath(char* buffer) {
    const std::string narrow = ToNarrow(wcSelectedDevicePath, kNarrowPathMax);
    std::memcpy(buffer, narrow.c_str(), narrow.size() + 1);
    return 0;
}

}  // namespace Corvane

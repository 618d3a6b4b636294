// SPDX-License-Identifier: MIT
#include "platform/windows/WindowsPlatform.hpp"

#include "corvane/Utf.hpp"

#include <setupapi.h>
// hidsdi.h needs the Windows types above it; some editions of it declare
// the functions without C linkage.
extern "C" {
#include <hidsdi.h>
}

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cwchar>
#include <iterator>
#include <new>
#include <optional>

// Older SDK and mingw-w64 headers lack the flag; Windows before 10 1803
// rejects it, and the backend then paces with Sleep.
#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace Corvane {

namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide characters are UTF-16 units");

// The HID device interface class.
const GUID kHidInterfaceClass = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

constexpr DWORD kWireReportBytes = static_cast<DWORD>(kWireReportSize);

// How long a cancelled transfer may take to come back before its record is
// given up to the driver.
constexpr DWORD kCancelSettleMs = 1000;

// USB strings hold at most 126 UTF-16 units.
constexpr std::size_t kUsbStringChars = 126;

HANDLE ToHandle(PlatformHandle handle) {
    if (handle == kInvalidHandle || handle == 0) return nullptr;
    return reinterpret_cast<HANDLE>(handle);
}

PlatformHandle FromHandle(HANDLE handle) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return kInvalidHandle;
    return reinterpret_cast<PlatformHandle>(handle);
}

std::wstring ToWide(const std::u16string& text) {
    return std::wstring(text.begin(), text.end());
}

// Errors after which the channel can never carry a report again: the device
// was removed, or the handle is not (or no longer) one that can.
bool IsDeadChannel(DWORD error) {
    switch (error) {
        case ERROR_INVALID_HANDLE:
        case ERROR_ACCESS_DENIED:
        case ERROR_BAD_COMMAND:
        case ERROR_GEN_FAILURE:
        case ERROR_DEV_NOT_EXIST:
        case ERROR_BROKEN_PIPE:
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_DEVICE_REMOVED:
            return true;
        default:
            return false;
    }
}

// The interface's path, and the device information element it belongs to.
std::optional<std::u16string> ReadDevicePath(HDEVINFO set, SP_DEVICE_INTERFACE_DATA& interfaceData,
                                             SP_DEVINFO_DATA& device) {
    DWORD required = 0;
    ::SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, nullptr, 0, &required, nullptr);
    if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) return std::nullopt;
    // 8-byte units keep the record aligned.
    std::vector<std::uint64_t> storage((required + 7) / 8);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(storage.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    if (!::SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, detail, required, nullptr,
                                            &device)) {
        return std::nullopt;
    }
    const std::size_t maxChars =
        (required - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath)) / sizeof(wchar_t);
    const wchar_t* path = detail->DevicePath;
    const std::size_t length =
        static_cast<std::size_t>(std::find(path, path + maxChars, L'\0') - path);
    return std::u16string(path, path + length);
}

std::vector<std::u16string> ReadHardwareIds(HDEVINFO set, SP_DEVINFO_DATA& device) {
    DWORD type = 0;
    DWORD required = 0;
    ::SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_HARDWAREID, &type, nullptr, 0,
                                        &required);
    if (required == 0) return {};
    std::vector<std::uint8_t> value(required);
    DWORD returned = 0;
    if (!::SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_HARDWAREID, &type, value.data(),
                                             required, &returned)) {
        return {};
    }
    if (type != REG_MULTI_SZ && type != REG_SZ) return {};
    return SplitMultiString(value.data(), std::min<std::size_t>(returned, value.size()));
}

// Interfaces of USB HID devices only: asking a wireless device for its serial
// number can take long, and only USB bridges are of interest.
bool IsUsbHid(const std::vector<std::u16string>& hardwareIds) {
    static constexpr char16_t kPrefix[] = u"HID\\VID_";
    constexpr std::size_t kPrefixLength = std::size(kPrefix) - 1;
    if (hardwareIds.empty() || hardwareIds.front().size() < kPrefixLength) return false;
    const std::u16string& id = hardwareIds.front();
    for (std::size_t i = 0; i < kPrefixLength; ++i) {
        char16_t c = id[i];
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
        if (c != kPrefix[i]) return false;
    }
    return true;
}

// A text the HID class driver keeps for the device (`read`: its serial
// number, its product name), asked without read or write access, which
// leaves the device untouched. Empty when it has none.
std::u16string ReadHidString(const std::u16string& path,
                             decltype(&::HidD_GetSerialNumberString) read) {
    const HANDLE device = ::CreateFileW(ToWide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, 0, nullptr);
    if (device == INVALID_HANDLE_VALUE) return {};
    wchar_t text[kUsbStringChars + 1] = {};
    const bool done = read(device, text, kUsbStringChars * sizeof(wchar_t)) != FALSE;
    ::CloseHandle(device);
    if (!done) return {};
    const std::size_t length =
        static_cast<std::size_t>(std::find(text, text + kUsbStringChars, L'\0') - text);
    return std::u16string(text, text + length);
}

}  // namespace

bool HardwareIdCarries(std::u16string_view hardwareId, std::uint16_t vendorId,
                       std::uint16_t productId) {
    char ids[sizeof "VID_0000&PID_0000"];
    std::snprintf(ids, sizeof ids, "VID_%04X&PID_%04X", vendorId, productId);
    std::u16string upper(hardwareId);
    for (char16_t& c : upper) {
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    }
    return upper.find(std::u16string(ids, ids + sizeof ids - 1)) != std::u16string::npos;
}

std::string SystemErrorText(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::u16string message(text, text + (text != nullptr ? length : 0));
    if (text != nullptr) ::LocalFree(text);
    // The system's messages end in a line break.
    while (!message.empty() &&
           (message.back() == u'\r' || message.back() == u'\n' || message.back() == u' ')) {
        message.pop_back();
    }
    if (message.empty()) return "system error " + std::to_string(error);
    return Utf16ToUtf8(message);
}

std::vector<std::u16string> SplitMultiString(const std::uint8_t* data, std::size_t bytes) {
    std::vector<std::u16string> strings;
    std::u16string current;
    for (std::size_t i = 0; i + 1 < bytes; i += 2) {
        const auto unit = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
        if (unit != 0) {
            current.push_back(unit);
            continue;
        }
        if (current.empty()) return strings;  // the empty string ends the list
        strings.push_back(std::move(current));
        current.clear();
    }
    if (!current.empty()) strings.push_back(std::move(current));
    return strings;
}

WindowsPlatform::WindowsPlatform()
    : record_(new (std::nothrow) TransferRecord()),
      timer_(::CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                      TIMER_MODIFY_STATE | SYNCHRONIZE)) {}

WindowsPlatform::~WindowsPlatform() {
    SettleOutstanding();
    if (timer_ != nullptr) ::CloseHandle(timer_);
}

std::vector<HidInterfaceInfo> WindowsPlatform::ListHidInterfaces() {
    std::vector<HidInterfaceInfo> found;
    const HDEVINFO set = ::SetupDiGetClassDevsW(&kHidInterfaceClass, nullptr, nullptr,
                                                DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return found;
    try {
        for (DWORD k = 0;; ++k) {
            SP_DEVICE_INTERFACE_DATA interfaceData{};
            interfaceData.cbSize = sizeof(interfaceData);
            if (!::SetupDiEnumDeviceInterfaces(set, nullptr, &kHidInterfaceClass, k,
                                               &interfaceData)) {
                break;  // ERROR_NO_MORE_ITEMS, or the set became unusable
            }
            // The hardware IDs come from the element the interface belongs to,
            // not from element k: one device may carry several interfaces.
            SP_DEVINFO_DATA device{};
            device.cbSize = sizeof(device);
            std::optional<std::u16string> path = ReadDevicePath(set, interfaceData, device);
            if (!path) continue;  // removed meanwhile
            HidInterfaceInfo info;
            info.path = std::move(*path);
            info.hardwareIds = ReadHardwareIds(set, device);
            if (IsUsbHid(info.hardwareIds)) {
                info.serialNumber = ReadHidString(info.path, ::HidD_GetSerialNumberString);
            }
            found.push_back(std::move(info));
        }
    } catch (const std::bad_alloc&) {
        // Out of memory: the interfaces listed so far are kept.
    }
    ::SetupDiDestroyDeviceInfoList(set);
    return found;
}

PlatformHandle WindowsPlatform::OpenChannel(const std::u16string& path, ChannelAccess access) {
    const DWORD desired = access == ChannelAccess::Write ? GENERIC_WRITE : GENERIC_READ;
    const PlatformHandle channel =
        FromHandle(::CreateFileW(ToWide(path).c_str(), desired, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
    if (channel != kInvalidHandle && access == ChannelAccess::Read) {
        try {
            readPaths_[ToHandle(channel)] = path;
        } catch (const std::bad_alloc&) {
            // Without its path the channel cannot take the lock: LockChannel fails.
        }
    }
    return channel;
}

namespace {

// The mutex name of a device path: paths may hold backslashes, which names
// may not, and the case of a path varies between the system's listings.
std::wstring LockName(const std::u16string& path, const wchar_t* space) {
    std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
    for (char16_t c : path) {
        const char16_t lower = c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c;
        hash = (hash ^ lower) * 1099511628211ull;
    }
    wchar_t name[64];
    std::swprintf(name, 64, L"%ls\\corvane-bridge-%016llx", space,
                  static_cast<unsigned long long>(hash));
    return name;
}

HANDLE OpenLock(const std::u16string& path) {
    const std::wstring global = LockName(path, L"Global");
    // Another program may have made the global one that this one may not create.
    if (HANDLE mutex = ::OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, global.c_str())) {
        return mutex;
    }
    if (HANDLE mutex = ::CreateMutexW(nullptr, FALSE, global.c_str())) return mutex;
    return ::CreateMutexW(nullptr, FALSE, LockName(path, L"Local").c_str());
}

}  // namespace

LockOutcome WindowsPlatform::LockChannel(PlatformHandle channel, std::uint32_t timeoutMs) {
    const HANDLE file = ToHandle(channel);
    const auto path = readPaths_.find(file);
    if (path == readPaths_.end()) return LockOutcome::Failed;
    if (heldLocks_.count(file) != 0) return LockOutcome::Held;
    const HANDLE mutex = OpenLock(path->second);
    if (mutex == nullptr) return LockOutcome::Failed;
    switch (::WaitForSingleObject(mutex, timeoutMs)) {
        case WAIT_OBJECT_0:
        case WAIT_ABANDONED:
            try {
                heldLocks_[file] = mutex;
            } catch (const std::bad_alloc&) {
                ::ReleaseMutex(mutex);
                ::CloseHandle(mutex);
                return LockOutcome::Failed;
            }
            // The HID class driver queues every input report for every open
            // handle: the ones queued so far answered other programs.
            ::HidD_FlushQueue(file);
            return LockOutcome::Held;
        case WAIT_TIMEOUT:
            ::CloseHandle(mutex);
            return LockOutcome::Busy;
        default:
            ::CloseHandle(mutex);
            return LockOutcome::Failed;
    }
}

void WindowsPlatform::UnlockChannel(PlatformHandle channel) {
    const auto held = heldLocks_.find(ToHandle(channel));
    if (held == heldLocks_.end()) return;
    ::ReleaseMutex(held->second);
    ::CloseHandle(held->second);
    heldLocks_.erase(held);
}

PlatformHandle WindowsPlatform::CreateTransferEvent() {
    // Manual reset, initially signalled, unnamed.
    return FromHandle(::CreateEventW(nullptr, TRUE, TRUE, nullptr));
}

TransferOutcome WindowsPlatform::WriteReport(PlatformHandle channel, PlatformHandle event,
                                             std::span<const std::uint8_t, kWireReportSize> report,
                                             std::uint32_t timeoutMs) {
    SettleOutstanding();
    if (!record_) return TransferOutcome::Failed;
    std::copy(report.begin(), report.end(), record_->buffer.begin());
    return Transfer(Direction::Write, channel, event, timeoutMs);
}

TransferOutcome WindowsPlatform::ReadReport(PlatformHandle channel, PlatformHandle event,
                                            std::span<std::uint8_t, kWireReportSize> report,
                                            std::uint32_t timeoutMs) {
    SettleOutstanding();
    if (!record_) return TransferOutcome::Failed;
    record_->buffer.fill(0);
    const TransferOutcome outcome = Transfer(Direction::Read, channel, event, timeoutMs);
    // A read leaves the shared event reset, whatever became of it.
    if (const HANDLE done = ToHandle(event)) ::ResetEvent(done);
    if (outcome == TransferOutcome::Done) {
        std::copy(record_->buffer.begin(), record_->buffer.end(), report.begin());
    }
    return outcome;
}

TransferOutcome WindowsPlatform::Transfer(Direction direction, PlatformHandle channel,
                                          PlatformHandle event, std::uint32_t timeoutMs) {
    const HANDLE file = ToHandle(channel);
    const HANDLE done = ToHandle(event);
    if (file == nullptr) return TransferOutcome::Gone;
    if (done == nullptr) return TransferOutcome::Failed;

    OVERLAPPED& overlapped = record_->overlapped;
    overlapped = OVERLAPPED{};
    overlapped.hEvent = done;
    // Starting the transfer resets the event; its end signals it.
    const BOOL started =
        direction == Direction::Write
            ? ::WriteFile(file, record_->buffer.data(), kWireReportBytes, nullptr, &overlapped)
            : ::ReadFile(file, record_->buffer.data(), kWireReportBytes, nullptr, &overlapped);
    if (!started) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_IO_PENDING) {
            // Refused at once: nothing is outstanding, and the event may
            // still be signalled from before, so the wait would lie.
            return IsDeadChannel(error) ? TransferOutcome::Gone : TransferOutcome::Failed;
        }
    }

    switch (::WaitForSingleObject(done, timeoutMs)) {
        case WAIT_OBJECT_0:
            break;
        case WAIT_TIMEOUT:
            outstanding_ = file;  // the caller cancels it
            return TransferOutcome::TimedOut;
        default:
            outstanding_ = file;
            SettleOutstanding();
            return TransferOutcome::Failed;
    }

    // A transfer that ended in an error carries no report: a read's buffer
    // would hold nothing the device sent, and a write never reached it.
    DWORD transferred = 0;
    if (!::GetOverlappedResult(file, &overlapped, &transferred, FALSE)) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_IO_INCOMPLETE) {
            outstanding_ = file;
            SettleOutstanding();
            return TransferOutcome::Failed;
        }
        return IsDeadChannel(error) ? TransferOutcome::Gone : TransferOutcome::Failed;
    }
    return TransferOutcome::Done;
}

void WindowsPlatform::SettleOutstanding() {
    if (outstanding_ == nullptr) return;
    OVERLAPPED& overlapped = record_->overlapped;
    ::CancelIoEx(outstanding_, &overlapped);
    if (!HasOverlappedIoCompleted(&overlapped)) {
        ::WaitForSingleObject(overlapped.hEvent, kCancelSettleMs);
    }
    if (!HasOverlappedIoCompleted(&overlapped)) {
        // The driver still owns the record and may write into it at any
        // time: leave it there and use a new one.
        static_cast<void>(record_.release());
        record_.reset(new (std::nothrow) TransferRecord());
    }
    outstanding_ = nullptr;
}

void WindowsPlatform::CancelTransfer(PlatformHandle channel) {
    const HANDLE file = ToHandle(channel);
    if (file != nullptr && file == outstanding_) SettleOutstanding();
}

void WindowsPlatform::CloseHandle(PlatformHandle handle) {
    const HANDLE closing = ToHandle(handle);
    if (closing == nullptr) return;
    UnlockChannel(handle);  // the lock goes with its channel
    readPaths_.erase(closing);
    if (outstanding_ != nullptr &&
        (closing == outstanding_ || closing == record_->overlapped.hEvent)) {
        SettleOutstanding();
    }
    ::CloseHandle(closing);
}

bool WindowsPlatform::WaitTimer(long long hundredNs) {
    if (timer_ == nullptr) return false;
    LARGE_INTEGER due{};
    due.QuadPart = -hundredNs;  // negative: relative to now
    return ::SetWaitableTimer(timer_, &due, 0, nullptr, nullptr, FALSE) &&
           ::WaitForSingleObject(timer_, INFINITE) == WAIT_OBJECT_0;
}

void WindowsPlatform::SleepMs(std::uint32_t ms) {
    if (!WaitTimer(10'000LL * ms)) ::Sleep(ms);
}

void WindowsPlatform::SleepUs(std::uint32_t us) {
    // Sleep counts whole milliseconds: round up, never pause too short.
    if (!WaitTimer(10LL * us)) ::Sleep(us / 1000u + (us % 1000u != 0 ? 1u : 0u));
}

std::vector<DeviceNodeStatus> WindowsPlatform::ProbeNodes(std::uint16_t vendorId,
                                                          std::uint16_t productId) {
    std::vector<DeviceNodeStatus> found;
    for (const HidInterfaceInfo& info : ListHidInterfaces()) {
        if (info.hardwareIds.empty() ||
            !HardwareIdCarries(info.hardwareIds.front(), vendorId, productId)) {
            continue;
        }
        DeviceNodeStatus status;
        status.path = Utf16ToUtf8(info.path);
        status.productName = Utf16ToUtf8(ReadHidString(info.path, ::HidD_GetProductString));
        status.serialNumber = Utf16ToUtf8(info.serialNumber);
        const HANDLE device = ::CreateFileW(ToWide(info.path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        if (device != INVALID_HANDLE_VALUE) {
            status.opens = true;
            ::CloseHandle(device);
        } else {
            const DWORD error = ::GetLastError();
            status.errorNumber = static_cast<int>(error);
            status.errorText = SystemErrorText(error);
        }
        found.push_back(std::move(status));
    }
    return found;
}

std::shared_ptr<Platform> MakeSystemPlatform() {
    return std::make_shared<WindowsPlatform>();
}

std::vector<DeviceNodeStatus> ProbeDeviceNodes(std::uint16_t vendorId, std::uint16_t productId) {
    return WindowsPlatform().ProbeNodes(vendorId, productId);
}

}  // namespace Corvane

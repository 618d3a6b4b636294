#include "platform/linux/LinuxHidrawPlatform.hpp"

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <utility>

#include "platform/linux/HidrawSysfs.hpp"

namespace Corvane {

namespace {

// Stands for the shared transfer event; negative, so never a descriptor.
constexpr PlatformHandle kTransferEvent = -2;

// Sequence length and payload bits of a UTF-8 lead byte; length 0 when it is none.
std::pair<int, char32_t> Utf8Lead(unsigned char lead) {
    if (lead < 0x80) return {1, lead};
    if ((lead & 0xE0) == 0xC0) return {2, lead & 0x1Fu};
    if ((lead & 0xF0) == 0xE0) return {3, lead & 0x0Fu};
    if ((lead & 0xF8) == 0xF0) return {4, lead & 0x07u};
    return {0, 0};
}

// sysfs text is UTF-8; a malformed byte becomes U+FFFD.
std::u16string FromUtf8(const std::string& text) {
    std::u16string out;
    for (std::size_t i = 0; i < text.size();) {
        auto [length, c] = Utf8Lead(static_cast<unsigned char>(text[i]));
        const auto end = i + static_cast<std::size_t>(length);
        bool valid = length != 0 && end <= text.size();
        for (std::size_t k = i + 1; valid && k < end; ++k) {
            const auto next = static_cast<unsigned char>(text[k]);
            valid = (next & 0xC0) == 0x80;
            c = (c << 6) | (next & 0x3Fu);
        }
        if (!valid || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            out.push_back(u'\uFFFD');
            ++i;
            continue;
        }
        if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
        i = end;
    }
    return out;
}

// Paths go back to the file system as UTF-8; an unpaired surrogate cannot be
// part of a name this backend produced, so such a path fails to open.
std::optional<std::string> ToUtf8(const std::u16string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00u);
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            return std::nullopt;
        }
        if (c == 0) return std::nullopt;
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

}  // namespace

LinuxHidrawPlatform::LinuxHidrawPlatform(std::string sysRoot, std::string devRoot)
    : sysRoot_(std::move(sysRoot)), devRoot_(std::move(devRoot)) {}

LinuxHidrawPlatform::~LinuxHidrawPlatform() = default;

std::vector<HidInterfaceInfo> LinuxHidrawPlatform::ListHidInterfaces() {
    std::vector<HidInterfaceInfo> interfaces;
    for (const HidrawNode& node : ListHidrawNodes(sysRoot_, devRoot_)) {
        HidInterfaceInfo info;
        if (node.hasId) info.hardwareIds.push_back(FromUtf8(HardwareId(node)));
        info.path = FromUtf8(node.devicePath);
        info.serialNumber = FromUtf8(node.serialNumber);
        interfaces.push_back(std::move(info));
    }
    return interfaces;
}

PlatformHandle LinuxHidrawPlatform::OpenChannel(const std::u16string& path, ChannelAccess access) {
    const auto narrow = ToUtf8(path);
    if (!narrow) return kInvalidHandle;
    // Non-blocking: reads wait in poll() alone, and a write to a node that can
    // be full never blocks its thread for good (hidraw's USB write path
    // ignores the flag; see HidrawChannel).
    const int flags =
        (access == ChannelAccess::Write ? O_WRONLY : O_RDONLY) | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
    int fd = -1;
    do {
        fd = ::open(narrow->c_str(), flags);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return kInvalidHandle;
    auto channel = std::make_unique<HidrawChannel>(fd, access);
    monitor_.Watch(channel.get());
    std::lock_guard lock(mutex_);
    channels_[fd] = std::move(channel);
    return fd;
}

PlatformHandle LinuxHidrawPlatform::CreateTransferEvent() {
    return kTransferEvent;
}

HidrawChannel* LinuxHidrawPlatform::Find(PlatformHandle handle) {
    std::lock_guard lock(mutex_);
    const auto it = channels_.find(handle);
    return it == channels_.end() ? nullptr : it->second.get();
}

TransferOutcome LinuxHidrawPlatform::WriteReport(
    PlatformHandle channel, PlatformHandle, std::span<const std::uint8_t, kWireReportSize> report,
    std::uint32_t timeoutMs) {
    HidrawChannel* open = Find(channel);
    return open ? open->Write(report, timeoutMs) : TransferOutcome::Gone;
}

TransferOutcome LinuxHidrawPlatform::ReadReport(PlatformHandle channel, PlatformHandle,
                                                std::span<std::uint8_t, kWireReportSize> report,
                                                std::uint32_t timeoutMs) {
    HidrawChannel* open = Find(channel);
    return open ? open->Read(report, timeoutMs) : TransferOutcome::Gone;
}

void LinuxHidrawPlatform::CancelTransfer(PlatformHandle channel) {
    if (HidrawChannel* open = Find(channel)) open->Cancel();
}

void LinuxHidrawPlatform::CloseHandle(PlatformHandle handle) {
    std::unique_ptr<HidrawChannel> closing;
    {
        std::lock_guard lock(mutex_);
        const auto it = channels_.find(handle);
        if (it == channels_.end()) return;  // the event, kInvalidHandle, or closed already
        closing = std::move(it->second);
        channels_.erase(it);
    }
    monitor_.Forget(closing.get());
}

void LinuxHidrawPlatform::SleepMs(std::uint32_t ms) {
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += static_cast<time_t>(ms / 1000);
    deadline.tv_nsec += static_cast<long>(ms % 1000) * 1'000'000L;
    if (deadline.tv_nsec >= 1'000'000'000L) {
        deadline.tv_nsec -= 1'000'000'000L;
        ++deadline.tv_sec;
    }
    // An absolute deadline: a signal handler run in between costs no extra time.
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}

std::vector<DeviceNodeStatus> LinuxHidrawPlatform::ProbeNodes(std::uint16_t vendorId,
                                                              std::uint16_t productId) const {
    std::vector<DeviceNodeStatus> found;
    for (const HidrawNode& node : ListHidrawNodes(sysRoot_, devRoot_)) {
        if (!node.hasId || node.vendor != vendorId || node.product != productId) continue;
        DeviceNodeStatus status;
        status.path = node.devicePath;
        status.productName = node.name;
        status.serialNumber = node.serialNumber;
        const int fd = ::open(node.devicePath.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
        if (fd >= 0) {
            status.opens = true;
            ::close(fd);
        } else {
            status.errorNumber = errno;
            status.errorText = std::generic_category().message(status.errorNumber);
        }
        found.push_back(std::move(status));
    }
    return found;
}

}  // namespace Corvane

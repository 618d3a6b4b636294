// SPDX-License-Identifier: MIT
#include "platform/linux/LinuxHidrawPlatform.hpp"

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <utility>

#include "corvane/Utf.hpp"
#include "platform/linux/HidrawLock.hpp"
#include "platform/linux/HidrawSysfs.hpp"

namespace Corvane {

namespace {

// Stands for the shared transfer event; negative, so never a descriptor.
constexpr PlatformHandle kTransferEvent = -2;

// Paths go back to the file system as UTF-8; an unpaired surrogate or a NUL
// cannot be part of a name this backend produced, so such a path fails to open.
std::optional<std::string> PathUtf8(const std::u16string& path) {
    if (path.find(u'\0') != std::u16string::npos) return std::nullopt;
    return Utf16ToUtf8Strict(path);
}

}  // namespace

LinuxHidrawPlatform::LinuxHidrawPlatform(std::string sysRoot, std::string devRoot)
    : sysRoot_(std::move(sysRoot)), devRoot_(std::move(devRoot)) {}

LinuxHidrawPlatform::~LinuxHidrawPlatform() = default;

std::vector<HidInterfaceInfo> LinuxHidrawPlatform::ListHidInterfaces() {
    std::vector<HidInterfaceInfo> interfaces;
    std::vector<HidrawNode> nodes;
    {
        std::lock_guard lock(listedMutex_);
        nodes = ListHidrawNodes(sysRoot_, devRoot_, &listed_);
    }
    for (const HidrawNode& node : nodes) {
        HidInterfaceInfo info;
        if (node.hasId) info.hardwareIds.push_back(Utf8ToUtf16(HardwareId(node)));
        info.path = Utf8ToUtf16(node.devicePath);
        info.serialNumber = Utf8ToUtf16(node.serialNumber);
        interfaces.push_back(std::move(info));
    }
    return interfaces;
}

PlatformHandle LinuxHidrawPlatform::OpenChannel(const std::u16string& path, ChannelAccess access) {
    const auto narrow = PathUtf8(path);
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
    // A uhid node never keeps a write waiting: no write thread needed.
    const bool direct = access == ChannelAccess::Write && WritesDirectly(*narrow);
    auto channel = std::make_unique<HidrawChannel>(fd, access, direct);
    monitor_.Watch(channel.get());
    std::lock_guard lock(mutex_);
    channels_[fd] = std::move(channel);
    return fd;
}

bool LinuxHidrawPlatform::WritesDirectly(const std::string& path) {
    std::lock_guard lock(listedMutex_);
    // A listed node keeps the answer while the listing keeps the node.
    HidrawNode* listed = nullptr;
    if (const auto number = HidrawNodeNumber(path)) {
        const auto it = listed_.find(*number);
        if (it != listed_.end() && it->second.second.devicePath == path)
            listed = &it->second.second;
    }
    if (listed && listed->uhid) return *listed->uhid;
    const bool uhid = IsUhidNode(sysRoot_, path);
    if (listed) listed->uhid = uhid;
    return uhid;
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

LockOutcome LinuxHidrawPlatform::LockChannel(PlatformHandle channel, std::uint32_t timeoutMs) {
    HidrawChannel* open = Find(channel);
    if (!open || open->Gone()) return LockOutcome::Failed;
    return LockNode(open->Fd(), timeoutMs);
}

void LinuxHidrawPlatform::UnlockChannel(PlatformHandle channel) {
    if (HidrawChannel* open = Find(channel)) UnlockNode(open->Fd());
}

std::string LinuxHidrawPlatform::LockHolder(PlatformHandle channel) {
    HidrawChannel* open = Find(channel);
    return open ? NodeLockHolder(open->Fd()) : std::string();
}

namespace {

// Sleeps on the monotonic clock to an absolute deadline: a signal handler run
// in between costs no extra time.
void SleepNs(std::uint64_t ns) {
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += static_cast<time_t>(ns / 1'000'000'000u);
    deadline.tv_nsec += static_cast<long>(ns % 1'000'000'000u);
    if (deadline.tv_nsec >= 1'000'000'000L) {
        deadline.tv_nsec -= 1'000'000'000L;
        ++deadline.tv_sec;
    }
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}

}  // namespace

void LinuxHidrawPlatform::SleepMs(std::uint32_t ms) {
    SleepNs(std::uint64_t{ms} * 1'000'000u);
}

void LinuxHidrawPlatform::SleepUs(std::uint32_t us) {
    SleepNs(std::uint64_t{us} * 1'000u);
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

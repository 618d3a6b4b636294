// SPDX-License-Identifier: MIT
#include "corvane/sim/SimulatedHost.hpp"

#include <algorithm>
#include <map>
#include <string>
#include <thread>

namespace Corvane::Sim {

namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;

struct ForeignInterface {
    std::vector<std::u16string> hardwareIds;
    std::u16string path;
};

// A listed interface: a virtual device, or (when `device` is null) a foreign one.
struct Listed {
    std::shared_ptr<VirtualDevice> device;
    ForeignInterface foreign;
};

struct Channel {
    std::weak_ptr<VirtualDevice> device;  // empty for a foreign interface
    ChannelAccess access;
    std::uint64_t generation;
};

// A device's inter-process lock: a library channel holds it, or another
// program until `until` (never, when not set), or nobody.
struct DeviceLock {
    PlatformHandle channel = kInvalidHandle;
    std::string other;  // the other program's name; empty when it holds nothing
    std::optional<microseconds> until;
};

}  // namespace

struct SimulatedHost::State {
    mutable std::mutex mutex;
    std::vector<Listed> listed;
    std::map<PlatformHandle, Channel> channels;
    std::map<PlatformHandle, bool> events;
    PlatformHandle nextHandle = 0x100;
    std::vector<TraceEntry> trace;
    std::vector<std::uint32_t> sleeps;
    microseconds now{0};
    microseconds reportTime{milliseconds(1)};
    bool realTime = false;
    std::size_t discoveries = 0;
    std::size_t eventsCreated = 0;
    std::size_t transfers = 0;
    std::size_t strayCloses = 0;
    std::map<std::size_t, HostFault> pendingFaults;
    std::vector<std::pair<std::size_t, std::shared_ptr<VirtualDevice>>> unpluggedByFault;
    std::vector<std::shared_ptr<VirtualDevice>> silencedByFault;
    std::map<std::shared_ptr<VirtualDevice>, DeviceLock> locks;  // held ones only
    std::size_t lockTakes = 0;

    std::shared_ptr<VirtualDevice> DeviceOf(PlatformHandle channel) const {
        const auto it = channels.find(channel);
        return it == channels.end() ? nullptr : it->second.device.lock();
    }

    // The other program's hold on `device`, ended where its time is up.
    DeviceLock* Lock(const std::shared_ptr<VirtualDevice>& device) {
        const auto it = locks.find(device);
        if (it == locks.end()) return nullptr;
        if (!it->second.other.empty() && it->second.until && *it->second.until <= now) {
            locks.erase(it);
            return nullptr;
        }
        return &it->second;
    }

    bool LibraryHolds(PlatformHandle channel) {
        auto device = DeviceOf(channel);
        const DeviceLock* lock = device ? Lock(device) : nullptr;
        return lock && lock->channel != kInvalidHandle;
    }

    void Unlock(PlatformHandle channel) {
        std::erase_if(locks, [&](const auto& entry) { return entry.second.channel == channel; });
    }

    // Counts one transfer on `channel` and makes a fault due now happen.
    // Returns true when this transfer's wait must fail.
    bool StartTransfer(PlatformHandle channel) {
        const std::size_t number = transfers++;
        const auto due = pendingFaults.find(number);
        if (due == pendingFaults.end()) return false;
        const HostFault fault = due->second;
        pendingFaults.erase(due);
        if (fault == HostFault::FailWait) return true;
        const auto it = channels.find(channel);
        auto device = it == channels.end() ? nullptr : it->second.device.lock();
        if (!device) return false;
        if (fault == HostFault::Unplug) {
            for (std::size_t i = 0; i < listed.size(); ++i) {
                if (listed[i].device == device) {
                    unpluggedByFault.emplace_back(i, device);
                    listed.erase(listed.begin() + static_cast<std::ptrdiff_t>(i));
                    break;
                }
            }
        } else {
            device->SetSilent(true);
            while (device->TakeResponse()) {
            }
            silencedByFault.push_back(device);
        }
        return false;
    }

    void Pass(microseconds duration) {
        if (realTime && duration.count() > 0) std::this_thread::sleep_for(duration);
        now += duration;
    }

    bool IsPlugged(const std::shared_ptr<VirtualDevice>& device) const {
        return std::any_of(listed.begin(), listed.end(),
                           [&](const Listed& entry) { return entry.device == device; });
    }

    void Insert(Listed entry, std::optional<std::size_t> position) {
        const std::size_t at = std::min(position.value_or(listed.size()), listed.size());
        listed.insert(listed.begin() + static_cast<std::ptrdiff_t>(at), std::move(entry));
    }

    // The device behind a channel, or nothing when the channel cannot reach it:
    // unknown or closed channel (`gone`), device absent or reset since (`silent`).
    std::shared_ptr<VirtualDevice> Reach(PlatformHandle handle, ChannelAccess access, bool& gone) {
        gone = false;
        const auto it = channels.find(handle);
        if (it == channels.end() || it->second.access != access) {
            gone = true;
            return nullptr;
        }
        auto device = it->second.device.lock();
        if (!device || !IsPlugged(device) || device->Generation() != it->second.generation) {
            return nullptr;
        }
        return device;
    }
};

SimulatedHost::SimulatedHost() : state_(std::make_unique<State>()) {}

SimulatedHost::~SimulatedHost() = default;

std::shared_ptr<SimulatedHost> SimulatedHost::Install() {
    auto host = std::make_shared<SimulatedHost>();
    SetPlatform(host);
    return host;
}

void SimulatedHost::Plug(std::shared_ptr<VirtualDevice> device,
                         std::optional<std::size_t> position) {
    std::lock_guard lock(state_->mutex);
    if (!device || state_->IsPlugged(device)) return;
    state_->Insert(Listed{std::move(device), {}}, position);
}

void SimulatedHost::Unplug(const std::shared_ptr<VirtualDevice>& device) {
    std::lock_guard lock(state_->mutex);
    std::erase_if(state_->listed, [&](const Listed& entry) { return entry.device == device; });
}

void SimulatedHost::AddForeignInterface(std::vector<std::u16string> hardwareIds,
                                        std::u16string path, std::optional<std::size_t> position) {
    std::lock_guard lock(state_->mutex);
    state_->Insert(Listed{nullptr, ForeignInterface{std::move(hardwareIds), std::move(path)}},
                   position);
}

std::vector<TraceEntry> SimulatedHost::Trace() const {
    std::lock_guard lock(state_->mutex);
    return state_->trace;
}

void SimulatedHost::ClearTrace() {
    std::lock_guard lock(state_->mutex);
    state_->trace.clear();
}

std::vector<std::uint32_t> SimulatedHost::Sleeps() const {
    std::lock_guard lock(state_->mutex);
    return state_->sleeps;
}

void SimulatedHost::ClearSleeps() {
    std::lock_guard lock(state_->mutex);
    state_->sleeps.clear();
}

std::chrono::microseconds SimulatedHost::Now() const {
    std::lock_guard lock(state_->mutex);
    return state_->now;
}

void SimulatedHost::AdvanceClock(std::chrono::microseconds by) {
    std::lock_guard lock(state_->mutex);
    state_->now += by;
}

void SimulatedHost::SetReportTime(std::chrono::microseconds perReport) {
    std::lock_guard lock(state_->mutex);
    state_->reportTime = perReport;
}

void SimulatedHost::SetRealTime(bool realTime) {
    std::lock_guard lock(state_->mutex);
    state_->realTime = realTime;
}

std::size_t SimulatedHost::OpenChannelCount() const {
    std::lock_guard lock(state_->mutex);
    return state_->channels.size();
}

std::size_t SimulatedHost::StrayCloseCount() const {
    std::lock_guard lock(state_->mutex);
    return state_->strayCloses;
}

std::size_t SimulatedHost::DiscoveryCount() const {
    std::lock_guard lock(state_->mutex);
    return state_->discoveries;
}

std::size_t SimulatedHost::EventCount() const {
    std::lock_guard lock(state_->mutex);
    return state_->eventsCreated;
}

std::size_t SimulatedHost::TransferCount() const {
    std::lock_guard lock(state_->mutex);
    return state_->transfers;
}

void SimulatedHost::InjectFault(std::size_t transfer, HostFault fault) {
    std::lock_guard lock(state_->mutex);
    state_->pendingFaults[transfer] = fault;
}

void SimulatedHost::ClearFaults() {
    std::lock_guard lock(state_->mutex);
    state_->pendingFaults.clear();
    for (auto& device : state_->silencedByFault) device->SetSilent(false);
    state_->silencedByFault.clear();
    // Back at their places, earliest first.
    for (auto it = state_->unpluggedByFault.rbegin(); it != state_->unpluggedByFault.rend(); ++it) {
        if (!state_->IsPlugged(it->second)) state_->Insert(Listed{it->second, {}}, it->first);
    }
    state_->unpluggedByFault.clear();
}

bool SimulatedHost::HoldLock(const std::shared_ptr<VirtualDevice>& device, std::string holder,
                             std::optional<std::chrono::microseconds> duration) {
    std::lock_guard lock(state_->mutex);
    if (!device || state_->Lock(device)) return false;
    DeviceLock& held = state_->locks[device];
    held.other = holder.empty() ? "another program" : std::move(holder);
    if (duration) held.until = state_->now + *duration;
    return true;
}

void SimulatedHost::ReleaseLock(const std::shared_ptr<VirtualDevice>& device) {
    std::lock_guard lock(state_->mutex);
    const auto it = state_->locks.find(device);
    if (it != state_->locks.end() && !it->second.other.empty()) state_->locks.erase(it);
}

LockOwner SimulatedHost::LockOwnerOf(const std::shared_ptr<VirtualDevice>& device) const {
    std::lock_guard lock(state_->mutex);
    const DeviceLock* held = state_->Lock(device);
    if (!held) return LockOwner::Nobody;
    return held->other.empty() ? LockOwner::Library : LockOwner::OtherProgram;
}

std::size_t SimulatedHost::LockTakeCount() const {
    std::lock_guard lock(state_->mutex);
    return state_->lockTakes;
}

LockOutcome SimulatedHost::LockChannel(PlatformHandle channel, std::uint32_t timeoutMs) {
    std::lock_guard lock(state_->mutex);
    if (state_->channels.count(channel) == 0) return LockOutcome::Failed;
    auto device = state_->DeviceOf(channel);
    if (!device) return LockOutcome::Held;  // a foreign interface: nothing to share
    if (const DeviceLock* held = state_->Lock(device)) {
        if (held->channel == channel) return LockOutcome::Held;
        const microseconds deadline = state_->now + milliseconds(timeoutMs);
        if (!held->until || *held->until > deadline) {
            state_->Pass(deadline - state_->now);
            return LockOutcome::Busy;
        }
        state_->Pass(*held->until - state_->now);
        state_->locks.erase(device);
    }
    state_->locks[device].channel = channel;
    ++state_->lockTakes;
    return LockOutcome::Held;
}

void SimulatedHost::UnlockChannel(PlatformHandle channel) {
    std::lock_guard lock(state_->mutex);
    state_->Unlock(channel);
}

std::string SimulatedHost::LockHolder(PlatformHandle channel) {
    std::lock_guard lock(state_->mutex);
    auto device = state_->DeviceOf(channel);
    const DeviceLock* held = device ? state_->Lock(device) : nullptr;
    return held ? held->other : std::string();
}

std::vector<HidInterfaceInfo> SimulatedHost::ListHidInterfaces() {
    std::lock_guard lock(state_->mutex);
    ++state_->discoveries;
    std::vector<HidInterfaceInfo> interfaces;
    for (const Listed& entry : state_->listed) {
        if (entry.device) {
            // The serial number the chip enumerated with, as a USB host reads it.
            const auto serial = entry.device->Enumeration().serialNumber;
            interfaces.push_back(
                {entry.device->HardwareIds(), entry.device->Path(), serial.value_or(u"")});
        } else {
            interfaces.push_back({entry.foreign.hardwareIds, entry.foreign.path, {}});
        }
    }
    return interfaces;
}

PlatformHandle SimulatedHost::OpenChannel(const std::u16string& path, ChannelAccess access) {
    std::lock_guard lock(state_->mutex);
    for (const Listed& entry : state_->listed) {
        // Not through a conditional expression, which would copy every foreign path.
        const bool match = entry.device ? entry.device->Path() == path : entry.foreign.path == path;
        if (!match) continue;
        const PlatformHandle handle = state_->nextHandle++;
        state_->channels[handle] =
            Channel{entry.device, access, entry.device ? entry.device->Generation() : 0};
        return handle;
    }
    return kInvalidHandle;
}

PlatformHandle SimulatedHost::CreateTransferEvent() {
    std::lock_guard lock(state_->mutex);
    const PlatformHandle handle = state_->nextHandle++;
    state_->events[handle] = true;
    ++state_->eventsCreated;
    return handle;
}

TransferOutcome SimulatedHost::WriteReport(PlatformHandle channel, PlatformHandle,
                                           std::span<const std::uint8_t, kWireReportSize> report,
                                           std::uint32_t timeoutMs) {
    std::lock_guard lock(state_->mutex);
    if (state_->StartTransfer(channel)) return TransferOutcome::Failed;
    bool gone = false;
    auto device = state_->Reach(channel, ChannelAccess::Write, gone);
    if (gone) return TransferOutcome::Gone;
    if (device && device->TakeWaitFailure()) return TransferOutcome::Failed;
    if (!device || device->TakeWriteTimeout()) {
        state_->Pass(milliseconds(timeoutMs));
        return TransferOutcome::TimedOut;
    }
    state_->Pass(state_->reportTime);
    TraceEntry entry{true, {}, state_->LibraryHolds(channel)};
    std::copy(report.begin() + 1, report.end(), entry.bytes.begin());
    state_->trace.push_back(entry);
    device->Receive(entry.bytes, state_->now);
    return TransferOutcome::Done;
}

TransferOutcome SimulatedHost::ReadReport(PlatformHandle channel, PlatformHandle,
                                          std::span<std::uint8_t, kWireReportSize> report,
                                          std::uint32_t timeoutMs) {
    std::lock_guard lock(state_->mutex);
    if (state_->StartTransfer(channel)) return TransferOutcome::Failed;
    bool gone = false;
    auto device = state_->Reach(channel, ChannelAccess::Read, gone);
    if (gone) return TransferOutcome::Gone;
    if (device && device->TakeWaitFailure()) return TransferOutcome::Failed;
    std::optional<Report> response = device ? device->TakeResponse() : std::nullopt;
    if (!response) {
        state_->Pass(milliseconds(timeoutMs));
        return TransferOutcome::TimedOut;
    }
    state_->Pass(state_->reportTime);
    state_->trace.push_back(TraceEntry{false, *response, state_->LibraryHolds(channel)});
    report[0] = 0x00;
    std::copy(response->begin(), response->end(), report.begin() + 1);
    return TransferOutcome::Done;
}

void SimulatedHost::CancelTransfer(PlatformHandle) {}

void SimulatedHost::CloseHandle(PlatformHandle handle) {
    std::lock_guard lock(state_->mutex);
    if (handle == kInvalidHandle) return;
    const auto it = state_->channels.find(handle);
    if (it == state_->channels.end() && state_->events.count(handle) == 0) {
        ++state_->strayCloses;
        return;
    }
    if (it != state_->channels.end() && it->second.access == ChannelAccess::Read) {
        // Answers not yet read were queued for that channel and go with it.
        if (auto device = it->second.device.lock()) {
            while (device->TakeResponse()) {
            }
        }
    }
    state_->Unlock(handle);  // the lock goes with its channel
    state_->channels.erase(handle);
    state_->events.erase(handle);
}

void SimulatedHost::SleepMs(std::uint32_t ms) {
    std::lock_guard lock(state_->mutex);
    state_->sleeps.push_back(ms);
    state_->Pass(milliseconds(ms));
}

void SimulatedHost::SleepUs(std::uint32_t us) {
    std::lock_guard lock(state_->mutex);
    state_->Pass(microseconds(us));
}

std::uint64_t SimulatedHost::MonotonicUs() {
    std::lock_guard lock(state_->mutex);
    return static_cast<std::uint64_t>(state_->now.count());
}

}  // namespace Corvane::Sim

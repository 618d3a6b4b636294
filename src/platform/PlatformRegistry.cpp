// SPDX-License-Identifier: MIT
#include <chrono>
#include <mutex>

#include "corvane/Platform.hpp"

namespace Corvane {

Platform::~Platform() = default;

void Platform::SleepUs(std::uint32_t us) {
    SleepMs(us / 1000 + (us % 1000 != 0 ? 1u : 0u));
}

std::uint64_t Platform::MonotonicUs() {
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(since).count());
}

LockOutcome Platform::LockChannel(PlatformHandle, std::uint32_t) {
    return LockOutcome::Held;
}

void Platform::UnlockChannel(PlatformHandle) {}

std::string Platform::LockHolder(PlatformHandle) {
    return {};
}

namespace {

std::mutex& RegistryMutex() {
    static std::mutex mutex;
    return mutex;
}

std::shared_ptr<Platform>& CurrentPlatform() {
    static std::shared_ptr<Platform> current;
    return current;
}

}  // namespace

std::shared_ptr<Platform> GetPlatform() {
    std::lock_guard lock(RegistryMutex());
    auto& current = CurrentPlatform();
    if (!current) current = MakeSystemPlatform();
    return current;
}

void SetPlatform(std::shared_ptr<Platform> platform) {
    std::lock_guard lock(RegistryMutex());
    CurrentPlatform() = std::move(platform);
}

}  // namespace Corvane

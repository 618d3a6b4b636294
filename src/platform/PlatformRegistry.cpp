#include <mutex>

#include "corvane/Platform.hpp"

namespace Corvane {

Platform::~Platform() = default;

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

// SPDX-License-Identifier: MIT
#include "corvane/LibraryLock.hpp"

#include "corvane/Utf.hpp"
#include "interface/ApiLock.hpp"

namespace Corvane {

struct LibraryLock::Held {
    decltype(LockApi()) guard = LockApi();
};

LibraryLock::LibraryLock() : held_(std::make_unique<Held>()) {}

LibraryLock::~LibraryLock() = default;

DeviceStateView ViewDeviceState() {
    auto lock = LockApi();
    return DeviceStateView{
        .vendorId = DevComTransport::VendorId(),
        .productId = DevComTransport::ProductId(),
        .selectedPath = Utf16ToUtf8(DevComTransport::SelectedPath()),
        .connectedPath = Utf16ToUtf8(DevComTransport::ConnectedPath()),
        .discoveryPasses = DevComTransport::DiscoveryPasses(),
    };
}

std::vector<std::string> FoundDevicePaths() {
    auto lock = LockApi();
    std::vector<std::string> paths;
    for (const std::u16string& path : DevComTransport::DevicePaths()) {
        paths.push_back(Utf16ToUtf8(path));
    }
    return paths;
}

}  // namespace Corvane

// SPDX-License-Identifier: MIT
// Bridge handles: built on the public API only, like any user of the
// library. The library object's selection is process-wide; a handle keeps its
// own device's identity and puts the selection back on it before each
// operation, under the library's lock.
#include "corvane/BridgeHandle.hpp"

#include <algorithm>
#include <vector>

#include "corvane/LibraryLock.hpp"
#include "corvane/ResultCodes.hpp"
#include "corvane/Utf.hpp"
#include "corvane/VrelUsbI2c.hpp"

namespace Corvane {

namespace {

// The library object the opened handles share. Any object addresses the same
// device state, but constructing one resets that state for everyone, so the
// handles construct one only when none is alive. Guarded by the library's lock.
std::shared_ptr<VrelUsbI2c> SharedObject(std::uint32_t vendorId, std::uint32_t productId) {
    static std::weak_ptr<VrelUsbI2c> shared;
    if (auto object = shared.lock()) return object;
    auto object = std::make_shared<VrelUsbI2c>(vendorId, productId);
    shared = object;
    return object;
}

std::int32_t IndexOf(const std::vector<std::string>& paths, const std::string& path) {
    const auto found = std::find(paths.begin(), paths.end(), path);
    return found == paths.end() ? -1 : static_cast<std::int32_t>(found - paths.begin());
}

}  // namespace

BridgeHandle::BridgeHandle(std::shared_ptr<VrelUsbI2c> object, const BridgeChoice& choice)
    : object_(std::move(object)),
      vendorId_(choice.vendorId),
      productId_(choice.productId),
      path_(choice.path),
      serial_(choice.serial) {}

BridgeHandle::BridgeHandle(VrelUsbI2c& bridge)
    // Not owned: the caller's object outlives the handle.
    : object_(std::shared_ptr<VrelUsbI2c>(), &bridge) {
    LibraryLock lock;
    DeviceStateView state = ViewDeviceState();
    vendorId_ = state.vendorId;
    productId_ = state.productId;
    if (state.selectedPath.empty()) {
        bridge.Settings->GetConnectionStatus();
        state = ViewDeviceState();
    }
    path_ = state.selectedPath;
}

BridgeHandle::~BridgeHandle() = default;

std::shared_ptr<BridgeHandle> BridgeHandle::Unbound(std::uint32_t vendorId,
                                                    std::uint32_t productId) {
    LibraryLock lock;
    BridgeChoice choice;
    choice.vendorId = vendorId;
    choice.productId = productId;
    return std::shared_ptr<BridgeHandle>(
        new BridgeHandle(SharedObject(vendorId, productId), choice));
}

std::int32_t BridgeHandle::Open(const BridgeChoice& choice, std::shared_ptr<BridgeHandle>& handle) {
    if (choice.path.empty() && choice.serial.empty() && choice.index < 0) {
        return DEVICE_INDEX_ERROR;
    }
    LibraryLock lock;
    auto opened = std::shared_ptr<BridgeHandle>(
        new BridgeHandle(SharedObject(choice.vendorId, choice.productId), choice));
    opened->UseIds();
    if (choice.path.empty() && choice.serial.empty()) {
        opened->object_->Settings->GetConnectionStatus();
        const std::vector<std::string> paths = FoundDevicePaths();
        if (static_cast<std::size_t>(choice.index) >= paths.size()) return BRIDGE_NOT_FOUND;
        opened->path_ = paths[static_cast<std::size_t>(choice.index)];
    }
    if (!opened->Reselect()) return BRIDGE_NOT_FOUND;
    handle = std::move(opened);
    return SUCCESS;
}

std::string BridgeHandle::Path() const {
    LibraryLock lock;
    return path_;
}

std::string BridgeHandle::Serial() const {
    LibraryLock lock;
    return serial_;
}

void BridgeHandle::UseIds() {
    const DeviceStateView state = ViewDeviceState();
    if (state.vendorId == vendorId_ && state.productId == productId_) return;
    // Only a new library object changes the IDs searched for; it forgets the
    // selection, which every handle puts back before its next operation.
    VrelUsbI2c searching(vendorId_, productId_);
}

bool BridgeHandle::ConnectTo(const std::string& path) {
    const std::int32_t index = IndexOf(FoundDevicePaths(), path);
    if (index < 0 || object_->Management->SelectDev(index) != SUCCESS) return false;
    // The selection takes effect at the next discovery pass; this runs one.
    object_->Settings->GetConnectionStatus();
    const DeviceStateView state = ViewDeviceState();
    return state.connectedPath == path && state.selectedPath == path;
}

bool BridgeHandle::SerialMatches() {
    const auto serial = object_->Settings->GetSerialNumber();
    return serial && Utf16ToUtf8(*serial) == serial_;
}

bool BridgeHandle::FindBySerial() {
    object_->Settings->GetConnectionStatus();
    for (const std::string& path : FoundDevicePaths()) {
        if (ConnectTo(path) && SerialMatches()) {
            path_ = path;
            return true;
        }
    }
    return false;
}

bool BridgeHandle::Reselect() {
    const DeviceStateView state = ViewDeviceState();
    if (path_.empty() && serial_.empty()) {
        // Not bound yet: the first device found.
        object_->Settings->GetConnectionStatus();
        const std::vector<std::string> paths = FoundDevicePaths();
        if (paths.empty() || !ConnectTo(paths.front())) return false;
        path_ = paths.front();
        return true;
    }
    const bool connected =
        !path_.empty() && state.connectedPath == path_ && state.selectedPath == path_;
    // While no discovery pass ran, the connection is the one last checked.
    if (connected && (serial_.empty() || state.discoveryPasses == verifiedAt_)) return true;
    bool found = connected;
    if (!found && !path_.empty()) {
        // The table may predate a plug or unplug: try it, then a fresh one.
        found = ConnectTo(path_);
        if (!found) {
            object_->Settings->GetConnectionStatus();
            found = ConnectTo(path_);
        }
    }
    // A path can be another bridge's after an unplug: a handle opened by
    // serial checks whose it is.
    if (found && !serial_.empty()) found = SerialMatches();
    if (!found && !serial_.empty()) found = FindBySerial();
    if (!found && !serial_.empty()) {
        // Its path is no longer known to be its chip's.
        path_.clear();
    }
    if (found && password_) object_->Functions->EnterAccessPassword(password_->c_str());
    if (found) verifiedAt_ = ViewDeviceState().discoveryPasses;
    return found;
}

std::int32_t BridgeHandle::Run(FunctionRef<std::int32_t(VrelUsbI2c&)> operation) {
    LibraryLock lock;
    UseIds();
    if (!Reselect()) return BRIDGE_UNPLUGGED;
    const std::int32_t result = operation(*object_);
    // A connection that looked fine can be to a device pulled since the last
    // exchange: say so when the device is gone. (The operation is not tried
    // again: part of it may have reached the device.)
    if ((result == REPORT_WRITE_FAILED || result == REPORT_READ_FAILED) && !Reselect()) {
        return BRIDGE_UNPLUGGED;
    }
    return result;
}

std::int32_t BridgeHandle::RunUnbound(FunctionRef<std::int32_t(VrelUsbI2c&)> operation) {
    LibraryLock lock;
    UseIds();
    return operation(*object_);
}

std::int32_t BridgeHandle::Select(std::int32_t index) {
    LibraryLock lock;
    UseIds();
    const std::vector<std::string> paths = FoundDevicePaths();
    if (index < 0 || static_cast<std::size_t>(index) >= paths.size()) return DEVICE_INDEX_ERROR;
    path_ = paths[static_cast<std::size_t>(index)];
    serial_.clear();
    password_.reset();
    return SUCCESS;
}

std::int32_t BridgeHandle::Index() {
    LibraryLock lock;
    UseIds();
    return path_.empty() ? -1 : IndexOf(FoundDevicePaths(), path_);
}

bool BridgeHandle::IsAttached() {
    LibraryLock lock;
    UseIds();
    // A discovery pass even when the connection looks fine, as the library
    // object's connection status query runs one.
    object_->Settings->GetConnectionStatus();
    return Reselect();
}

std::int32_t BridgeHandle::EnterAccessPassword(const char* password) {
    return Run([&](VrelUsbI2c& bridge) {
        const std::int32_t result = bridge.Functions->EnterAccessPassword(password);
        if (result == SUCCESS) password_ = std::string(password, 8);
        return result;
    });
}

}  // namespace Corvane

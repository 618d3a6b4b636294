// SPDX-License-Identifier: MIT
#include "corvane/sim/VirtualDevice.hpp"

#include <atomic>

#include "VirtualDeviceState.hpp"

namespace Corvane::Sim {

namespace {

std::atomic<unsigned> nextDeviceNumber{1};

std::u16string Ascii(const std::string& text) {
    return std::u16string(text.begin(), text.end());
}

std::string Hex4(unsigned value, bool upper) {
    static constexpr char kLower[] = "0123456789abcdef";
    static constexpr char kUpper[] = "0123456789ABCDEF";
    const char* digits = upper ? kUpper : kLower;
    std::string out(4, '0');
    for (int i = 3; i >= 0; --i) {
        out[static_cast<std::size_t>(i)] = digits[value & 0xF];
        value >>= 4;
    }
    return out;
}

// A serial number unique within the process: "CVS" and six digits.
std::u16string SerialNumberOf(unsigned number) {
    std::string digits = std::to_string(number);
    if (digits.size() < 6) digits.insert(0, 6 - digits.size(), '0');
    return Ascii("CVS" + digits);
}

}  // namespace

VirtualDevice::State::State(std::uint16_t vid, std::uint16_t pid, unsigned deviceNumber)
    : number(deviceNumber), chip(vid, pid, SerialNumberOf(deviceNumber)) {}

std::span<const std::uint8_t> VirtualDevice::HidReportDescriptor() {
    static constexpr std::uint8_t kDescriptor[] = {
        0x06, 0x00, 0xFF,  // Usage Page (vendor 0xFF00)
        0x09, 0x01,        // Usage (1)
        0xA1, 0x01,        // Collection (Application)
        0x15, 0x00,        //   Logical Minimum (0)
        0x26, 0xFF, 0x00,  //   Logical Maximum (255)
        0x75, 0x08,        //   Report Size (8)
        0x95, 0x40,        //   Report Count (64)
        0x09, 0x01,        //   Usage (1)
        0x81, 0x02,        //   Input (Data, Var, Abs)
        0x95, 0x40,        //   Report Count (64)
        0x09, 0x01,        //   Usage (1)
        0x91, 0x02,        //   Output (Data, Var, Abs)
        0xC0,              // End Collection
    };
    return kDescriptor;
}

VirtualDevice::VirtualDevice(std::uint16_t vid, std::uint16_t pid)
    : state_(std::make_unique<State>(vid, pid, nextDeviceNumber++)) {}

VirtualDevice::~VirtualDevice() = default;

std::uint16_t VirtualDevice::EnumeratedVid() const {
    std::lock_guard lock(state_->mutex);
    return state_->chip.Enumeration().vid;
}

std::uint16_t VirtualDevice::EnumeratedPid() const {
    std::lock_guard lock(state_->mutex);
    return state_->chip.Enumeration().pid;
}

UsbEnumeration VirtualDevice::Enumeration() const {
    std::lock_guard lock(state_->mutex);
    return state_->chip.Enumeration();
}

std::vector<std::u16string> VirtualDevice::HardwareIds() const {
    std::lock_guard lock(state_->mutex);
    const std::string ids = "HID\\VID_" + Hex4(state_->chip.Enumeration().vid, true) + "&PID_" +
                            Hex4(state_->chip.Enumeration().pid, true);
    return {Ascii(ids + "&REV_0100"), Ascii(ids), Ascii("HID_DEVICE_UP:FF00_U:0001"),
            Ascii("HID_DEVICE")};
}

std::u16string VirtualDevice::Path() const {
    std::lock_guard lock(state_->mutex);
    if (state_->path) return *state_->path;
#if defined(_WIN32)
    // A HID interface path carries the IDs the device enumerated with.
    const UsbEnumeration ids = state_->chip.Enumeration();
    return Ascii("\\\\?\\hid#vid_" + Hex4(ids.vid, false) + "&pid_" + Hex4(ids.pid, false) +
                 "#corvane-sim-" + std::to_string(state_->number) +
                 "#{4d1e55b2-f16f-11cf-88cb-001111000030}");
#else
    // A hidraw node; a device that comes back after a reset gets the node it
    // freed.
    return Ascii("/dev/hidraw" + std::to_string(state_->number - 1));
#endif
}

void VirtualDevice::SetPath(std::u16string path) {
    std::lock_guard lock(state_->mutex);
    state_->path = std::move(path);
}

std::uint64_t VirtualDevice::Generation() const {
    std::lock_guard lock(state_->mutex);
    return state_->generation;
}

DeviceFlash VirtualDevice::Flash() const {
    std::lock_guard lock(state_->mutex);
    return state_->chip.Flash();
}

bool VirtualDevice::SetFlash(const DeviceFlash& flash) {
    for (const std::u16string* text : {&flash.manufacturer, &flash.product, &flash.serialNumber}) {
        if (text->size() > DeviceFlash::kMaxStringUnits) return false;
    }
    std::lock_guard lock(state_->mutex);
    state_->chip.Flash() = flash;
    return true;
}

void VirtualDevice::SetAdcInput(unsigned channel, std::uint16_t millivolts) {
    std::lock_guard lock(state_->mutex);
    state_->chip.SetAdcInput(channel, millivolts);
}

std::uint16_t VirtualDevice::AdcReading(unsigned channel) const {
    std::lock_guard lock(state_->mutex);
    return state_->chip.AdcReading(channel);
}

void VirtualDevice::SetPinInput(unsigned pin, std::uint8_t level) {
    std::lock_guard lock(state_->mutex);
    state_->chip.SetPinInput(pin, level);
}

std::uint8_t VirtualDevice::PinLevel(unsigned pin) const {
    std::lock_guard lock(state_->mutex);
    return state_->chip.PinLevel(pin);
}

void VirtualDevice::InterruptEdge(bool rising) {
    std::lock_guard lock(state_->mutex);
    state_->chip.InterruptEdge(rising);
}

bool VirtualDevice::InterruptFlag() const {
    std::lock_guard lock(state_->mutex);
    return state_->chip.InterruptFlag();
}

std::uint16_t VirtualDevice::DacOutputMillivolts() const {
    std::lock_guard lock(state_->mutex);
    return state_->chip.DacOutputMillivolts();
}

std::uint32_t VirtualDevice::ClockOutputHz() const {
    std::lock_guard lock(state_->mutex);
    return state_->chip.ClockOutputHz();
}

void VirtualDevice::SetRevision(std::array<char, 2> firmware, std::array<char, 2> hardware) {
    std::lock_guard lock(state_->mutex);
    state_->chip.SetRevision(firmware, hardware);
}

void VirtualDevice::AttachTarget(std::uint8_t address7, std::shared_ptr<I2cTarget> target) {
    std::lock_guard lock(state_->mutex);
    state_->chip.Engine().AttachTarget(address7, std::move(target));
}

void VirtualDevice::DetachTarget(std::uint8_t address7) {
    std::lock_guard lock(state_->mutex);
    state_->chip.Engine().AttachTarget(address7, nullptr);
}

void VirtualDevice::DropResponses(std::uint8_t commandCode, int count) {
    std::lock_guard lock(state_->mutex);
    state_->drops[commandCode] += count;
}

void VirtualDevice::EditResponses(std::uint8_t commandCode, std::function<void(Report&)> edit,
                                  int count) {
    std::lock_guard lock(state_->mutex);
    state_->edits[commandCode].push_back({std::move(edit), count});
}

void VirtualDevice::TimeOutWrites(int count) {
    std::lock_guard lock(state_->mutex);
    state_->writeTimeouts += count;
}

void VirtualDevice::FailWaits(int count) {
    std::lock_guard lock(state_->mutex);
    state_->waitFailures += count;
}

void VirtualDevice::RefuseCommands(std::uint8_t commandCode, std::uint8_t status, int count) {
    std::lock_guard lock(state_->mutex);
    for (int i = 0; i < count; ++i) state_->refusals[commandCode].push_back(status);
}

void VirtualDevice::ClearFaults() {
    std::lock_guard lock(state_->mutex);
    state_->drops.clear();
    state_->edits.clear();
    state_->refusals.clear();
    state_->writeTimeouts = 0;
    state_->waitFailures = 0;
    state_->silent = false;
}

void VirtualDevice::SetSilent(bool silent) {
    std::lock_guard lock(state_->mutex);
    state_->silent = silent;
}

std::size_t VirtualDevice::CommandCount(std::uint8_t commandCode) const {
    std::lock_guard lock(state_->mutex);
    const auto it = state_->commandCounts.find(commandCode);
    return it == state_->commandCounts.end() ? 0 : it->second;
}

void VirtualDevice::Receive(const Report& command, std::chrono::microseconds now) {
    std::lock_guard order(state_->receiveMutex);
    std::unique_lock lock(state_->mutex);
    State& s = *state_;
    const std::uint8_t code = command[0];
    ++s.commandCounts[code];
    std::optional<Report> response;
    if (auto refusal = s.refusals.find(code);
        refusal != s.refusals.end() && !refusal->second.empty()) {
        response = Report{};
        (*response)[0] = code;
        (*response)[1] = refusal->second.front();
        refusal->second.pop_front();
    } else {
        response = Execute(command, now);
    }
    if (!response || s.silent) return;
    if (auto drop = s.drops.find(code); drop != s.drops.end() && drop->second > 0) {
        --drop->second;
        return;
    }
    if (auto edits = s.edits.find(code); edits != s.edits.end() && !edits->second.empty()) {
        ResponseEdit& next = edits->second.front();
        const std::function<void(Report&)> edit = next.edit;
        if (--next.remaining <= 0) edits->second.pop_front();
        // Unlocked, so the edit may call the device's methods.
        lock.unlock();
        edit(*response);
        lock.lock();
    }
    s.responses.push_back(*response);
}

std::optional<Report> VirtualDevice::TakeResponse() {
    std::lock_guard lock(state_->mutex);
    if (state_->responses.empty()) return std::nullopt;
    Report response = state_->responses.front();
    state_->responses.pop_front();
    return response;
}

bool VirtualDevice::TakeWriteTimeout() {
    std::lock_guard lock(state_->mutex);
    if (state_->writeTimeouts <= 0) return false;
    --state_->writeTimeouts;
    return true;
}

bool VirtualDevice::TakeWaitFailure() {
    std::lock_guard lock(state_->mutex);
    if (state_->waitFailures <= 0) return false;
    --state_->waitFailures;
    return true;
}

std::optional<Report> VirtualDevice::Execute(const Report& command, std::chrono::microseconds now) {
    bool reset = false;
    std::optional<Report> response = state_->chip.Execute(command, now, reset);
    if (reset) {
        // The chip leaves the bus and comes back: old channels are dead and
        // answers not yet read are lost.
        ++state_->generation;
        state_->responses.clear();
    }
    return response;
}

}  // namespace Corvane::Sim

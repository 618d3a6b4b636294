// SPDX-License-Identifier: MIT
// The I2C bus section of VirtualDevice: inspection and faults of the engine.
#include "VirtualDeviceState.hpp"
#include "corvane/sim/VirtualDevice.hpp"

namespace Corvane::Sim {

std::uint8_t VirtualDevice::I2cEngineState() const {
    std::lock_guard lock(state_->mutex);
    return state_->chip.Engine().State();
}

std::uint8_t VirtualDevice::I2cSpeedDivider() const {
    std::lock_guard lock(state_->mutex);
    return state_->chip.Engine().Divider();
}

void VirtualDevice::RefuseI2cChunks(int count, std::uint8_t engineState) {
    std::lock_guard lock(state_->mutex);
    state_->chip.Engine().RefuseChunks(count, engineState);
}

void VirtualDevice::RefuseI2cStatusPolls(int count) {
    std::lock_guard lock(state_->mutex);
    state_->chip.Engine().RefuseStatusPolls(count);
}

void VirtualDevice::DelayI2cReadData(int count) {
    std::lock_guard lock(state_->mutex);
    state_->chip.Engine().DelayReadData(count);
}

void VirtualDevice::OfferExtraI2cBytes(std::uint8_t extra) {
    std::lock_guard lock(state_->mutex);
    state_->chip.Engine().OfferExtraBytes(extra);
}

void VirtualDevice::FailNextI2cTransfer(std::uint8_t engineState) {
    std::lock_guard lock(state_->mutex);
    state_->chip.Engine().FailNextTransfer(engineState);
}

void VirtualDevice::CorruptI2cReadTail(int count) {
    std::lock_guard lock(state_->mutex);
    state_->chip.Engine().CorruptReadTail(count);
}

void VirtualDevice::StretchI2cClock(bool hold) {
    std::lock_guard lock(state_->mutex);
    state_->chip.Engine().StretchClock(hold);
}

void VirtualDevice::SkipNextI2cRestartWait() {
    std::lock_guard lock(state_->mutex);
    state_->chip.Engine().SkipNextRestartWait();
}

void VirtualDevice::EndNextI2cReadEarly() {
    std::lock_guard lock(state_->mutex);
    state_->chip.Engine().EndNextReadEarly();
}

}  // namespace Corvane::Sim

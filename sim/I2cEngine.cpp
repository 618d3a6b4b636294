#include "I2cEngine.hpp"

namespace Corvane::Sim {

I2cTarget::~I2cTarget() = default;

void I2cEngine::HandleStatus(const Report& command, Report& response, std::chrono::microseconds) {
    response[2] = 0x00;                                // no transfer to cancel
    response[3] = command[3] == 0x20 ? 0x20 : 0x00;  // speed taken
    response[8] = 0x00;                                // idle
}

void I2cEngine::HandleBusCommand(const Report&, Report& response, std::chrono::microseconds) {
    response[1] = 0x00;
}

void I2cEngine::Reset() {}

void I2cEngine::AttachTarget(std::uint8_t address7, std::shared_ptr<I2cTarget> target) {
    if (target) {
        targets_[address7] = std::move(target);
    } else {
        targets_.erase(address7);
    }
}

}  // namespace Corvane::Sim

#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>

#include "corvane/sim/I2cTarget.hpp"
#include "corvane/sim/VirtualDevice.hpp"

namespace Corvane::Sim {

// The chip's I2C master: carries out the bus commands against the attached
// targets, on the virtual clock.
class I2cEngine {
public:
    // Fills the I2C part of a status/set-parameters answer (bytes 2, 3, 8, 20)
    // and carries out its cancel and speed requests.
    void HandleStatus(const Report& command, Report& response, std::chrono::microseconds now);

    // Answers 0x90, 0x91, 0x93, 0x94 and 0x40 (response[0] already echoes the code).
    void HandleBusCommand(const Report& command, Report& response, std::chrono::microseconds now);

    // A chip reset: the engine goes idle and forgets its transfer.
    void Reset();

    // Puts a target at a 7-bit address; nullptr removes it.
    void AttachTarget(std::uint8_t address7, std::shared_ptr<I2cTarget> target);

private:
    std::map<std::uint8_t, std::shared_ptr<I2cTarget>> targets_;
};

}  // namespace Corvane::Sim

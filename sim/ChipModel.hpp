#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

#include "I2cEngine.hpp"
#include "corvane/sim/VirtualDevice.hpp"

namespace Corvane::Sim {

// What the chip keeps and how it answers each command.
class ChipModel {
public:
    ChipModel(std::uint16_t vid, std::uint16_t pid);

    // The answer to one command, or nothing (reset). `resetRequested` is set
    // when the chip restarts and leaves the bus.
    std::optional<Report> Execute(const Report& command, std::chrono::microseconds now,
                                  bool& resetRequested);

    std::uint16_t EnumeratedVid() const { return enumeratedVid_; }
    std::uint16_t EnumeratedPid() const { return enumeratedPid_; }

    I2cEngine& Engine() { return engine_; }

private:
    std::uint16_t enumeratedVid_;
    std::uint16_t enumeratedPid_;
    I2cEngine engine_;
};

}  // namespace Corvane::Sim

// SPDX-License-Identifier: MIT
#pragma once

// The virtual bench's state file (JSON): the chip's flash, its run-time
// settings and everything its targets hold. The tool and the daemons load it
// at every start, so a file is read whole and checked before any of it
// reaches the bench: a truncated, damaged or hostile one changes nothing.

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace CorvaneTool {

// The chip's run-time settings as the library reads and sets them.
struct RunningSettings {
    std::array<std::uint8_t, 4> gpDesignation{};
    std::array<std::uint8_t, 4> gpDirection{};
    std::array<std::uint8_t, 4> gpValue{};
    std::int32_t clockDivider = 0;  // 0: no clock output
    std::int32_t clockDuty = 0;
    std::int32_t dacReference = 0;
    std::int32_t dacValue = 0;
    std::int32_t adcReference = 0;
    std::int32_t interruptMode = 0;  // 0: none

    bool operator==(const RunningSettings&) const = default;
};

struct SimState {
    std::string chip;  // the flash, as VirtualDevice::SaveState writes it
    // What the chip keeps while powered (VirtualDevice::SavePoweredState).
    std::optional<std::string> powered;
    std::vector<std::uint8_t> eeprom;
    std::size_t eepromCounter = 0;
    std::map<std::uint8_t, std::vector<std::uint8_t>> smbusRegisters;  // empty ones included
    std::uint8_t smbusPointer = 0;
    std::array<std::uint16_t, 4> sensor{};   // TemperatureSensor::Registers
    std::optional<RunningSettings> running;  // none when they could not be read

    bool operator==(const SimState&) const = default;
};

// What is wrong with a state file, in a few words.
class StateError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The largest file taken: a bench's state is some 100 KB.
inline constexpr std::size_t kMaxStateBytes = 1 << 20;

// Reads a state file's text for a bench with an EEPROM of `eepromSize` bytes;
// throws StateError unless the whole state is there and within its ranges.
SimState ParseSimState(std::string_view text, std::size_t eepromSize);
std::string FormatSimState(const SimState& state);

}  // namespace CorvaneTool

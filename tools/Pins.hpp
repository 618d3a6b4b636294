// SPDX-License-Identifier: MIT
#pragma once

// GP pin configuration, voltage references and the settings sides, shared by
// the pin commands and the settings command.

#include <corvane/corvane.hpp>

#include "Tool.hpp"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace CLI {
class App;
}

namespace CorvaneTool {

// The copies of the chip's settings a command addresses.
enum class Side { Current, PowerUp };

// --current / --power-up / --both on a command that sets both-sided settings.
struct SideFlags {
    bool current = false;
    bool powerUp = false;
    bool both = false;

    void AddTo(CLI::App& command, bool withCurrent = true);
    // The sides asked for, running first; `fallback` when no flag was given.
    // UsageError for two flags.
    std::vector<Side> Sides(std::vector<Side> fallback) const;
    bool Given() const { return current || powerUp || both; }
};

std::int32_t Selector(Side side);
const char* SideName(Side side);

// Runs `change` for each side, the power-up copy first: the flash is what a
// protected or locked chip refuses, and then nothing has changed. A failure
// on the running copy after the flash took the change says so.
void ApplySides(const std::vector<Side>& sides, const std::function<void(Side)>& change);

struct PinConfig {
    std::array<std::uint8_t, 4> designation{};
    std::array<std::uint8_t, 4> direction{};  // 1 = input
    std::array<std::uint8_t, 4> value{};
};

PinConfig ReadPins(Corvane::VrelUsbI2c& bridge, Side side);
void WritePins(Corvane::VrelUsbI2c& bridge, Side side, const PinConfig& config);

// "gpio-in", "gpio-out-0", "gpio-out-1", "dedicated", "adc", "dac", "clock-irq".
std::string PinFunction(const PinConfig& config, unsigned pin);
// Applies a function name to pin `pin`; UsageError for one the pin does not
// have, naming those it has.
void SetPinFunction(PinConfig& config, unsigned pin, std::string_view function);
// The functions of every pin, and those of pin `pin` ("gpio-in, ..., adc").
const char* PinFunctionList();
std::string PinFunctionList(unsigned pin);
std::vector<std::string> PinFunctions(unsigned pin);
std::vector<std::string> PinFunctionNames();
const char* DesignationName(std::uint8_t designation);
// 0 to 3, or GP0 to GP3.
unsigned ParsePin(std::string_view text);

// Voltage reference selectors 0 to 3: "vdd", "1.024", "2.048", "4.096".
const char* ReferenceName(std::int32_t selector);
std::int32_t ParseReference(std::string_view text, std::string_view what);
// Millivolts of a fixed reference; 0 for VDD, which the chip does not know.
unsigned ReferenceMillivolts(std::int32_t selector);

// Interrupt detection: "none", "rising", "falling", "both" (0 to 3). The
// library sets 1 to 3 only: "none" comes back with a reset when the power-up
// copy says none.
const char* InterruptModeName(std::int32_t mode);
std::int32_t ParseInterruptMode(std::string_view text);
// Sets the interrupt mode of one copy; for "none" (0) only when it already is.
void SetInterruptMode(Corvane::VrelUsbI2c& bridge, Side side, std::int32_t mode);

// [{"pin", "function", "designation", "direction", "value"}, ...] for GP0 to GP3.
Json PinsJson(const PinConfig& config);

// UsageError for an entry of `functions` its pin does not have (empty: no change).
void CheckPinFunctions(const std::array<std::string, 4>& functions);
// `gpio config`: gives each pin with a non-empty entry of `functions` that
// function in each of `sides` (power-up first, ApplySides), then reads the
// pins of each side back. The functions are checked (CheckPinFunctions)
// before anything is sent.
std::vector<PinConfig> ConfigurePins(Corvane::BridgeHandle& handle,
                                     const std::array<std::string, 4>& functions,
                                     const std::vector<Side>& sides);

// 0/low or 1/high; UsageError otherwise.
std::uint8_t ParseLevel(const std::string& text);
// Drives GP`pin` to `level`; whether the pin is an input (then the level
// shows once it is an output). A Failure when the pin is no GPIO.
bool WriteGpio(Corvane::BridgeHandle& handle, unsigned pin, std::uint8_t level);

// A DAC change as typed: VALUE 0 to 31, --vref (UsageError otherwise); empty: none.
struct DacChange {
    std::optional<std::int32_t> value;
    std::optional<std::int32_t> reference;

    bool Any() const { return value || reference; }
};
DacChange ParseDacChange(const std::string& value, const std::string& reference);
// Applies the change to the running settings and reads the DAC back:
// {"value", "reference"}.
Json ApplyDac(Corvane::BridgeHandle& handle, const DacChange& change);

// A supply voltage such as 3.3 or 3.3V, 1 to 6 V; none for an empty text.
std::optional<double> ParseVolts(const std::string& text, std::string_view what);

void ClearInterrupt(Corvane::BridgeHandle& handle);

// Text of the clock output for a divider code: 48 MHz >> code.
std::string ClockFrequency(std::int32_t divider);

// The levels of GP0 to GP3 now: {"levels": [1, 0, null, null]}, null for a
// pin that is not a GPIO.
Json ReadGpioLevels(Corvane::BridgeHandle& bridge);

// The three ADC inputs now: {"readings": [...], "reference": "vdd",
// "adc-input": [true, ...], "volts": [1.2, null, ...]}; volts where the
// pin is an ADC input and the reference is known (`vdd` gives the supply's).
Json ReadAdc(Corvane::BridgeHandle& bridge, std::optional<double> vdd);

// The interrupt flag and mode: {"flag": true, "mode": "rising"}.
Json ReadInterrupt(Corvane::BridgeHandle& bridge);

}  // namespace CorvaneTool

#pragma once

// GP pin configuration, voltage references and the settings sides, shared by
// the pin commands and the settings command.

#include <corvane/corvane.hpp>

#include <array>
#include <cstdint>
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
    // The sides asked for; `fallback` when no flag was given. UsageError for two flags.
    std::vector<Side> Sides(std::vector<Side> fallback) const;
    bool Given() const { return current || powerUp || both; }
};

std::int32_t Selector(Side side);
const char* SideName(Side side);

struct PinConfig {
    std::array<std::uint8_t, 4> designation{};
    std::array<std::uint8_t, 4> direction{};  // 1 = input
    std::array<std::uint8_t, 4> value{};
};

PinConfig ReadPins(Corvane::VrelUsbI2c& bridge, Side side);
void WritePins(Corvane::VrelUsbI2c& bridge, Side side, const PinConfig& config);

// "gpio-in", "gpio-out-0", "gpio-out-1", "dedicated", "adc", "dac", "clock-irq".
std::string PinFunction(const PinConfig& config, unsigned pin);
// Applies a function name to pin `pin`; UsageError for an unknown one.
void SetPinFunction(PinConfig& config, unsigned pin, std::string_view function);
const char* PinFunctionList();
const char* DesignationName(std::uint8_t designation);
// 0 to 3, or GP0 to GP3.
unsigned ParsePin(std::string_view text);

// Voltage reference selectors 0 to 3: "vdd", "1.024", "2.048", "4.096".
const char* ReferenceName(std::int32_t selector);
std::int32_t ParseReference(std::string_view text, std::string_view what);
// Millivolts of a fixed reference; 0 for VDD, which the chip does not know.
unsigned ReferenceMillivolts(std::int32_t selector);

// Interrupt detection: "none", "rising", "falling", "both".
const char* InterruptModeName(std::int32_t mode);
std::int32_t ParseInterruptMode(std::string_view text);

// Text of the clock output for a divider code: 48 MHz >> code.
std::string ClockFrequency(std::int32_t divider);

}  // namespace CorvaneTool

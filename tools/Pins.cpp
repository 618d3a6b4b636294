#include "Pins.hpp"

#include <fmt/format.h>
#include <CLI/CLI.hpp>

#include "Numbers.hpp"
#include "Tool.hpp"

namespace CorvaneTool {

namespace {

constexpr const char* kDesignations[] = {"gpio", "dedicated", "adc", "dac", "clock-irq"};
constexpr const char* kReferences[] = {"vdd", "1.024", "2.048", "4.096"};
constexpr const char* kInterruptModes[] = {"none", "rising", "falling", "both"};

}  // namespace

void SideFlags::AddTo(CLI::App& command, bool withCurrent) {
    if (withCurrent) command.add_flag("--current", current, "the running settings (the default)");
    command.add_flag("--power-up", powerUp, "the power-up settings in flash");
    command.add_flag("--both", both, "the running settings, then the power-up settings");
}

std::vector<Side> SideFlags::Sides(std::vector<Side> fallback) const {
    if (int(current) + int(powerUp) + int(both) > 1) {
        throw UsageError("give only one of --current, --power-up and --both");
    }
    if (current) return {Side::Current};
    if (powerUp) return {Side::PowerUp};
    if (both) return {Side::Current, Side::PowerUp};
    return fallback;
}

std::int32_t Selector(Side side) {
    return side == Side::Current ? Corvane::DllConstants::CURRENT_SETTINGS_ONLY
                                 : Corvane::DllConstants::PWRUP_DEFAULTS_ONLY;
}

const char* SideName(Side side) {
    return side == Side::Current ? "current" : "power-up";
}

PinConfig ReadPins(Corvane::VrelUsbI2c& bridge, Side side) {
    PinConfig config;
    Check(bridge.Settings->GetGpPinConfiguration(Selector(side), config.designation,
                                                 config.direction, config.value));
    return config;
}

void WritePins(Corvane::VrelUsbI2c& bridge, Side side, const PinConfig& config) {
    Check(bridge.Settings->SetGpPinConfiguration(Selector(side), config.designation,
                                                 config.direction, config.value));
}

const char* DesignationName(std::uint8_t designation) {
    return designation < std::size(kDesignations) ? kDesignations[designation] : "?";
}

std::string PinFunction(const PinConfig& config, unsigned pin) {
    const std::uint8_t designation = config.designation[pin];
    if (designation != 0) return DesignationName(designation);
    if (config.direction[pin]) return "gpio-in";
    return config.value[pin] ? "gpio-out-1" : "gpio-out-0";
}

const char* PinFunctionList() {
    return "gpio-in, gpio-out-0, gpio-out-1, dedicated, adc, dac, clock-irq";
}

void SetPinFunction(PinConfig& config, unsigned pin, std::string_view function) {
    const std::string name = Lower(function);
    if (name == "gpio-in") {
        config.designation[pin] = 0;
        config.direction[pin] = 1;
        config.value[pin] = 0;
    } else if (name == "gpio-out-0" || name == "gpio-out-1") {
        config.designation[pin] = 0;
        config.direction[pin] = 0;
        config.value[pin] = name.back() == '1' ? 1 : 0;
    } else {
        for (std::uint8_t code = 1; code < std::size(kDesignations); ++code) {
            if (name == kDesignations[code]) {
                config.designation[pin] = code;
                return;
            }
        }
        throw UsageError(fmt::format("GP{} function must be one of {}, not '{}'", pin,
                                     PinFunctionList(), function));
    }
}

unsigned ParsePin(std::string_view text) {
    std::string_view number = text;
    if (number.size() > 2 && Lower(number.substr(0, 2)) == "gp") number.remove_prefix(2);
    if (number.size() == 1 && number[0] >= '0' && number[0] <= '3') {
        return static_cast<unsigned>(number[0] - '0');
    }
    throw UsageError(fmt::format("PIN must be 0 to 3 (GP0 to GP3), not '{}'", text));
}

const char* ReferenceName(std::int32_t selector) {
    return selector >= 0 && selector < 4 ? kReferences[selector] : "?";
}

std::int32_t ParseReference(std::string_view text, std::string_view what) {
    std::string name = Lower(text);
    if (!name.empty() && name.back() == 'v' && name != "vdd") name.pop_back();
    for (std::int32_t selector = 0; selector < 4; ++selector) {
        if (name == kReferences[selector] || name == std::to_string(selector)) return selector;
    }
    throw UsageError(
        fmt::format("{} must be vdd, 1.024, 2.048 or 4.096 (or 0 to 3), not '{}'", what, text));
}

unsigned ReferenceMillivolts(std::int32_t selector) {
    switch (selector) {
        case 1:
            return 1024;
        case 2:
            return 2048;
        case 3:
            return 4096;
        default:
            return 0;
    }
}

const char* InterruptModeName(std::int32_t mode) {
    return mode >= 0 && mode < 4 ? kInterruptModes[mode] : "?";
}

std::int32_t ParseInterruptMode(std::string_view text) {
    const std::string name = Lower(text);
    for (std::int32_t mode = 1; mode < 4; ++mode) {
        if (name == kInterruptModes[mode] || name == std::to_string(mode)) return mode;
    }
    throw UsageError(
        fmt::format("the interrupt mode must be rising, falling or both, not '{}'", text));
}

std::string ClockFrequency(std::int32_t divider) {
    if (divider <= 0 || divider > 7) return "off";
    const unsigned hz = 48'000'000u >> divider;
    return hz >= 1'000'000 ? fmt::format("{:g} MHz", hz / 1e6) : fmt::format("{:g} kHz", hz / 1e3);
}

}  // namespace CorvaneTool

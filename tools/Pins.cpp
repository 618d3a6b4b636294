// SPDX-License-Identifier: MIT
#include "Pins.hpp"

#include <fmt/format.h>
#include <CLI/CLI.hpp>

#include <algorithm>
#include <charconv>

#include "Numbers.hpp"
#include "Tool.hpp"

namespace CorvaneTool {

namespace {

constexpr const char* kDesignations[] = {"gpio", "dedicated", "adc", "dac", "clock-irq"};
constexpr std::uint8_t kAdc = 2;
constexpr std::uint8_t kDac = 3;
constexpr std::uint8_t kClockIrq = 4;
// Where the chip has each function: ADC1 to ADC3 on GP1 to GP3, the DAC
// output on GP2 and GP3, the clock output and interrupt input on GP1; every
// pin is a GPIO and has its dedicated function.
bool PinHas(unsigned pin, std::uint8_t designation) {
    switch (designation) {
        case kAdc:
            return pin >= 1;
        case kDac:
            return pin >= 2;
        case kClockIrq:
            return pin == 1;
        default:
            return true;
    }
}
constexpr const char* kReferences[] = {"vdd", "1.024", "2.048", "4.096"};
constexpr const char* kInterruptModes[] = {"none", "rising", "falling", "both"};

}  // namespace

void SideFlags::AddTo(CLI::App& command, bool withCurrent) {
    if (withCurrent) command.add_flag("--current", current, "the running settings (the default)");
    command.add_flag("--power-up", powerUp, "the power-up settings in flash");
    command.add_flag("--both", both, "the running settings, then the power-up settings");
}

void ApplySides(const std::vector<Side>& sides, const std::function<void(Side)>& change) {
    std::vector<Side> order = sides;
    std::stable_partition(order.begin(), order.end(), [](Side s) { return s == Side::PowerUp; });
    for (std::size_t i = 0; i < order.size(); ++i) {
        if (i == 0) {
            change(order[i]);
            continue;
        }
        try {
            change(order[i]);
        } catch (const Failure& failure) {
            const std::string changed =
                fmt::format("{}; the {} copy was changed, the {} copy was not", failure.explanation,
                            SideName(order[0]), SideName(order[i]));
            if (failure.code) throw Failure(*failure.code, changed);
            throw Failure(changed, failure.name);
        }
    }
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

std::vector<std::string> PinFunctionNames() {
    return {"gpio-in", "gpio-out-0", "gpio-out-1", "dedicated", "adc", "dac", "clock-irq"};
}

std::vector<std::string> PinFunctions(unsigned pin) {
    std::vector<std::string> list = {"gpio-in", "gpio-out-0", "gpio-out-1"};
    for (std::uint8_t code = 1; code < std::size(kDesignations); ++code) {
        if (PinHas(pin, code)) list.push_back(kDesignations[code]);
    }
    return list;
}

std::string PinFunctionList(unsigned pin) {
    std::string list;
    for (const std::string& name : PinFunctions(pin)) list += (list.empty() ? "" : ", ") + name;
    return list;
}

void SetPinFunction(PinConfig& config, unsigned pin, std::string_view function) {
    const std::string name = Lower(function);
    for (std::uint8_t code = 1; code < std::size(kDesignations); ++code) {
        if (name == kDesignations[code] && !PinHas(pin, code)) {
            throw UsageError(
                fmt::format("GP{} has no {} function; it has {}", pin, name, PinFunctionList(pin)));
        }
    }
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
                                     PinFunctionList(pin), function));
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
    for (std::int32_t mode = 0; mode < 4; ++mode) {
        if (name == kInterruptModes[mode] || name == std::to_string(mode)) return mode;
    }
    throw UsageError(
        fmt::format("the interrupt mode must be none, rising, falling or both, not '{}'", text));
}

void SetInterruptMode(Corvane::VrelUsbI2c& bridge, Side side, std::int32_t mode) {
    if (mode != 0) {
        Check(bridge.Settings->SetInterruptPinMode(Selector(side), mode));
        return;
    }
    const std::int32_t now = CheckValue(bridge.Settings->GetInterruptPinMode(Selector(side)));
    if (now == 0) return;
    throw Failure(fmt::format(
        "the chip takes rising, falling or both; it detects no edges again only after a reset "
        "with none in the power-up copy (the {} copy is {})",
        SideName(side), InterruptModeName(now)));
}

std::string ClockFrequency(std::int32_t divider) {
    if (divider <= 0 || divider > 7) return "off";
    const unsigned hz = 48'000'000u >> divider;
    return hz >= 1'000'000 ? fmt::format("{:g} MHz", hz / 1e6) : fmt::format("{:g} kHz", hz / 1e3);
}

Json ReadGpioLevels(Corvane::BridgeHandle& handle) {
    return On(handle, [](Corvane::VrelUsbI2c& bridge) {
        Json levels = Json::array();
        for (std::uint8_t pin = 0; pin < 4; ++pin) {
            const std::int32_t level = bridge.Functions->ReadGpioPinValue(pin);
            if (level == Corvane::PIN_NOT_GPIO) {
                levels.push_back(nullptr);
            } else {
                levels.push_back(CheckValue(level));
            }
        }
        return Json{{"levels", levels}};
    });
}

Json ReadAdc(Corvane::BridgeHandle& handle, std::optional<double> vdd) {
    return On(handle, [&](Corvane::VrelUsbI2c& bridge) {
        std::array<std::uint16_t, 5> readings{};
        Check(bridge.Functions->GetAdcData(readings));
        const std::int32_t reference = CheckValue(bridge.Settings->GetAdcVoltageReference());
        const PinConfig pins = ReadPins(bridge, Side::Current);
        // The supply reference's voltage is known only when the caller gives it.
        const double referenceVolts =
            reference == 0 ? vdd.value_or(0.0) : ReferenceMillivolts(reference) / 1000.0;
        Json volts = Json::array();
        Json inputs = Json::array();
        Json functions = Json::array();
        for (unsigned channel = 0; channel < 3; ++channel) {
            const unsigned pin = channel + 1;  // ADC1 to ADC3 are GP1 to GP3
            const bool input = PinFunction(pins, pin) == "adc";
            inputs.push_back(input);
            functions.push_back(PinFunction(pins, pin));
            volts.push_back(input && referenceVolts > 0
                                ? Json(readings[channel] * referenceVolts / 1023.0)
                                : Json());
        }
        return Json{{"readings", {readings[0], readings[1], readings[2]}},
                    {"reference", ReferenceName(reference)},
                    {"adc-input", inputs},
                    {"functions", functions},
                    {"volts", volts}};
    });
}

Json ReadInterrupt(Corvane::BridgeHandle& handle) {
    return On(handle, [](Corvane::VrelUsbI2c& bridge) {
        const std::int32_t flag = CheckValue(bridge.Functions->GetInterruptPinState());
        // Above 1 it is the device's status, not a flag.
        if (flag > 1) throw Failure(flag, "");
        const std::int32_t mode = CheckValue(
            bridge.Settings->GetInterruptPinMode(Corvane::DllConstants::CURRENT_SETTINGS_ONLY));
        return Json{{"flag", flag == 1}, {"mode", InterruptModeName(mode)}};
    });
}

Json PinsJson(const PinConfig& config) {
    Json pins = Json::array();
    for (unsigned pin = 0; pin < 4; ++pin) {
        pins.push_back({{"pin", pin},
                        {"function", PinFunction(config, pin)},
                        {"designation", config.designation[pin]},
                        {"direction", config.direction[pin]},
                        {"value", config.value[pin]}});
    }
    return pins;
}

void CheckPinFunctions(const std::array<std::string, 4>& functions) {
    PinConfig probe;
    for (unsigned pin = 0; pin < 4; ++pin) {
        if (!functions[pin].empty()) SetPinFunction(probe, pin, functions[pin]);
    }
}

std::vector<PinConfig> ConfigurePins(Corvane::BridgeHandle& handle,
                                     const std::array<std::string, 4>& functions,
                                     const std::vector<Side>& sides) {
    const bool change = std::any_of(functions.begin(), functions.end(),
                                    [](const std::string& f) { return !f.empty(); });
    CheckPinFunctions(functions);
    std::vector<PinConfig> shown;
    On(handle, [&](Corvane::VrelUsbI2c& bridge) {
        if (change) {
            WithFlashHints([&] {
                ApplySides(sides, [&](Side side) {
                    PinConfig config = ReadPins(bridge, side);
                    for (unsigned pin = 0; pin < 4; ++pin) {
                        if (!functions[pin].empty()) SetPinFunction(config, pin, functions[pin]);
                    }
                    WritePins(bridge, side, config);
                });
            });
        }
        for (Side side : sides) shown.push_back(ReadPins(bridge, side));
    });
    return shown;
}

std::uint8_t ParseLevel(const std::string& text) {
    const std::string value = Lower(text);
    if (value == "0" || value == "low") return 0;
    if (value == "1" || value == "high") return 1;
    throw UsageError(fmt::format("the level must be 0 or 1, not '{}'", text));
}

bool WriteGpio(Corvane::BridgeHandle& handle, unsigned pin, std::uint8_t level) {
    const auto pinNumber = static_cast<std::uint8_t>(pin);
    return On(handle, [&](Corvane::VrelUsbI2c& bridge) {
        const std::int32_t input = CheckValue(
            bridge.Settings->GetGpPinDirection(Corvane::DllConstants::CURRENT_SETTINGS_ONLY,
                                               pinNumber),
            fmt::format("GP{} is not configured as a GPIO (see 'corvane gpio config')", pin));
        Check(bridge.Functions->WriteGpioPinValue(pinNumber, level));
        return input == 1;
    });
}

DacChange ParseDacChange(const std::string& value, const std::string& reference) {
    constexpr std::uint32_t kSteps = 32;
    DacChange change;
    if (!value.empty()) {
        change.value = static_cast<std::int32_t>(ParseNumber(value, "VALUE", 0, kSteps - 1));
    }
    if (!reference.empty()) change.reference = ParseReference(reference, "--vref");
    return change;
}

Json ApplyDac(Corvane::BridgeHandle& handle, const DacChange& change) {
    return On(handle, [&](Corvane::VrelUsbI2c& bridge) {
        if (change.reference) Check(bridge.Settings->SetDacVoltageReference(*change.reference));
        if (change.value) Check(bridge.Settings->SetDacValue(*change.value));
        const std::int32_t value = CheckValue(bridge.Settings->GetDacValue());
        const std::int32_t selector = CheckValue(bridge.Settings->GetDacVoltageReference());
        return Json{{"value", value}, {"reference", ReferenceName(selector)}};
    });
}

std::optional<double> ParseVolts(const std::string& text, std::string_view what) {
    if (text.empty()) return std::nullopt;
    constexpr double kLowest = 1.0;
    constexpr double kHighest = 6.0;
    std::string_view number = text;
    if (number.ends_with('V') || number.ends_with('v')) number.remove_suffix(1);
    double volts = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), volts);
    if (number.empty() || error != std::errc() || end != number.data() + number.size()) {
        throw UsageError(fmt::format("{} must be a voltage such as 3.3, not '{}'", what, text));
    }
    if (volts < kLowest || volts > kHighest) {
        throw UsageError(
            fmt::format("{} must be {} to {} V, not {}", what, kLowest, kHighest, text));
    }
    return volts;
}

void ClearInterrupt(Corvane::BridgeHandle& handle) {
    On(handle,
       [](Corvane::VrelUsbI2c& bridge) { Check(bridge.Functions->ClearInterruptPinState()); });
}

}  // namespace CorvaneTool

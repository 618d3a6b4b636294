// gpio get/set/config, adc, dac, interrupt clear, clock.

#include <fmt/format.h>
#include <CLI/CLI.hpp>

#include <array>
#include <charconv>
#include <optional>

#include "Numbers.hpp"
#include "Pins.hpp"
#include "Tool.hpp"

namespace CorvaneTool {

namespace {

std::string NotGpio(unsigned pin) {
    return fmt::format("GP{} is not configured as a GPIO (see 'corvane gpio config')", pin);
}

struct GpioArgs {
    std::string pin;
    std::string value;
    std::array<std::string, 4> functions;
    SideFlags sides;
};

void GpioGet(Tool& tool, const GpioArgs& args) {
    const unsigned pin = ParsePin(args.pin);
    const std::int32_t level = CheckValue(
        tool.Bridge().Functions->ReadGpioPinValue(static_cast<std::uint8_t>(pin)), NotGpio(pin));
    if (tool.WantsJson()) {
        Tool::PrintJson({{"pin", pin}, {"value", level}});
    } else {
        fmt::print("{}\n", level);
    }
}

void GpioSet(Tool& tool, const GpioArgs& args) {
    const unsigned pin = ParsePin(args.pin);
    const std::string value = Lower(args.value);
    std::uint8_t level;
    if (value == "0" || value == "low") {
        level = 0;
    } else if (value == "1" || value == "high") {
        level = 1;
    } else {
        throw UsageError(fmt::format("the level must be 0 or 1, not '{}'", args.value));
    }
    Corvane::VrelUsbI2c& bridge = tool.Bridge();
    const auto pinNumber = static_cast<std::uint8_t>(pin);
    const std::int32_t direction = CheckValue(
        bridge.Settings->GetGpPinDirection(Corvane::DllConstants::CURRENT_SETTINGS_ONLY, pinNumber),
        NotGpio(pin));
    Check(bridge.Functions->WriteGpioPinValue(pinNumber, level));
    if (tool.WantsJson()) {
        Tool::PrintJson({{"pin", pin}, {"value", level}, {"input", direction == 1}});
        return;
    }
    fmt::print("GP{} = {}\n", pin, level);
    if (direction == 1) {
        fmt::print(stderr,
                   "note: GP{} is an input; the level shows once it is an output "
                   "(corvane gpio config --gp{} gpio-out-{})\n",
                   pin, pin, level);
    }
}

void PrintPins(const PinConfig& config, Side side) {
    fmt::print("pin  function    designation  direction  value   ({} settings)\n", SideName(side));
    for (unsigned pin = 0; pin < 4; ++pin) {
        fmt::print("GP{}  {:<11} {} {:<10} {:<10} {}\n", pin, PinFunction(config, pin),
                   config.designation[pin], DesignationName(config.designation[pin]),
                   config.direction[pin] ? "1 in" : "0 out", config.value[pin]);
    }
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

void GpioConfig(Tool& tool, const GpioArgs& args) {
    const bool change = std::any_of(args.functions.begin(), args.functions.end(),
                                    [](const std::string& f) { return !f.empty(); });
    if (!change && args.sides.both) throw UsageError("--both goes with a change (--gp0 ... --gp3)");
    const std::vector<Side> sides = args.sides.Sides({Side::Current});
    // Every function is checked before anything is sent.
    PinConfig probe;
    for (unsigned pin = 0; pin < 4; ++pin) {
        if (!args.functions[pin].empty()) SetPinFunction(probe, pin, args.functions[pin]);
    }
    Corvane::VrelUsbI2c& bridge = tool.Bridge();
    if (change) {
        WithFlashHints([&] {
            for (Side side : sides) {
                PinConfig config = ReadPins(bridge, side);
                for (unsigned pin = 0; pin < 4; ++pin) {
                    if (!args.functions[pin].empty()) {
                        SetPinFunction(config, pin, args.functions[pin]);
                    }
                }
                WritePins(bridge, side, config);
            }
        });
    }
    Json result;
    for (Side side : sides) {
        const PinConfig config = ReadPins(bridge, side);
        if (tool.WantsJson()) {
            result[SideName(side)] = PinsJson(config);
        } else {
            PrintPins(config, side);
        }
    }
    if (tool.WantsJson()) Tool::PrintJson(result);
}

// --vdd: the supply voltage, for readings against the supply reference.
double ParseVolts(std::string_view text, std::string_view what) {
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

void Adc(Tool& tool, const std::string& vddText) {
    const std::optional<double> vdd =
        vddText.empty() ? std::nullopt : std::optional(ParseVolts(vddText, "--vdd"));
    Corvane::VrelUsbI2c& bridge = tool.Bridge();
    std::array<std::uint16_t, 5> readings{};
    Check(bridge.Functions->GetAdcData(readings));
    const std::int32_t reference = CheckValue(bridge.Settings->GetAdcVoltageReference());
    const PinConfig pins = ReadPins(bridge, Side::Current);
    // The supply reference's voltage is known only when --vdd gives it.
    const double referenceVolts =
        reference == 0 ? vdd.value_or(0.0) : ReferenceMillivolts(reference) / 1000.0;

    Json volts = Json::array();
    Json inputs = Json::array();
    std::string table;
    for (unsigned channel = 0; channel < 3; ++channel) {
        const unsigned pin = channel + 1;  // ADC1 to ADC3 are GP1 to GP3
        const std::string function = PinFunction(pins, pin);
        const bool input = function == "adc";
        const double value = readings[channel] * referenceVolts / 1023.0;
        inputs.push_back(input);
        volts.push_back(input && referenceVolts > 0 ? Json(value) : Json());
        table += fmt::format("ADC{} (GP{})  {:4}", pin, pin, readings[channel]);
        if (!input) {
            table += fmt::format("  not an ADC input (GP{} is {})", pin, function);
        } else if (referenceVolts > 0) {
            table += fmt::format("  {:.3f} V", value);
        }
        table += "\n";
    }
    if (tool.WantsJson()) {
        Tool::PrintJson({{"readings", {readings[0], readings[1], readings[2]}},
                         {"reference", ReferenceName(reference)},
                         {"adc-input", inputs},
                         {"volts", volts}});
        return;
    }
    fmt::print("{}reference   {}", table, ReferenceName(reference));
    if (reference != 0) {
        fmt::print(" V\n");
    } else if (vdd) {
        fmt::print(" = {} V\n", vddText.ends_with('V') || vddText.ends_with('v')
                                    ? vddText.substr(0, vddText.size() - 1)
                                    : vddText);
    } else {
        fmt::print(" (--vdd VOLTS gives volts)\n");
    }
}

struct DacArgs {
    std::string value;
    std::string reference;
};

void Dac(Tool& tool, const DacArgs& args) {
    constexpr std::uint32_t kSteps = 32;
    std::optional<std::int32_t> value;
    std::optional<std::int32_t> reference;
    if (!args.value.empty()) value = ParseNumber(args.value, "VALUE", 0, kSteps - 1);
    if (!args.reference.empty()) reference = ParseReference(args.reference, "--vref");
    Corvane::VrelUsbI2c& bridge = tool.Bridge();
    if (reference) Check(bridge.Settings->SetDacVoltageReference(*reference));
    if (value) Check(bridge.Settings->SetDacValue(*value));

    const std::int32_t now = CheckValue(bridge.Settings->GetDacValue());
    const std::int32_t selector = CheckValue(bridge.Settings->GetDacVoltageReference());
    const unsigned millivolts = ReferenceMillivolts(selector);
    if (tool.WantsJson()) {
        Tool::PrintJson({{"value", now}, {"reference", ReferenceName(selector)}});
        return;
    }
    if (millivolts) {
        fmt::print("DAC  {}/32 of {} V = {:.3f} V\n", now, ReferenceName(selector),
                   now * millivolts / 32.0 / 1000.0);
    } else {
        fmt::print("DAC  {}/32 of VDD\n", now);
    }
}

void InterruptClear(Tool& tool) {
    Check(tool.Bridge().Functions->ClearInterruptPinState());
    if (tool.WantsJson()) {
        Tool::PrintJson({{"cleared", true}});
    } else {
        fmt::print("interrupt flag cleared\n");
    }
}

struct ClockArgs {
    std::string divider;
    std::string duty;
    SideFlags sides;
};

void Clock(Tool& tool, const ClockArgs& args) {
    const bool change = !args.divider.empty();
    if (change && args.duty.empty()) throw UsageError("give both DIVIDER and DUTY");
    if (!change && args.sides.Given()) {
        throw UsageError("--current, --power-up and --both go with DIVIDER and DUTY");
    }
    std::int32_t divider = 0;
    std::int32_t duty = 0;
    std::vector<Side> sides;
    if (change) {
        divider = static_cast<std::int32_t>(ParseNumber(args.divider, "DIVIDER", 1, 7));
        duty = static_cast<std::int32_t>(ParseNumber(args.duty, "DUTY", 0, 3));
        sides = args.sides.Sides({Side::Current});
    }
    Corvane::VrelUsbI2c& bridge = tool.Bridge();
    WithFlashHints([&] {
        for (Side side : sides) {
            Check(bridge.Settings->SetClockPinConfiguration(Selector(side), divider, duty));
        }
    });
    Json result;
    if (!tool.WantsJson()) fmt::print("{:<10}{:<9}{:<11}{}\n", "", "divider", "duty", "output");
    for (Side side : {Side::Current, Side::PowerUp}) {
        const std::int32_t shownDivider =
            CheckValue(bridge.Settings->GetClockPinDividerValue(Selector(side)));
        const std::int32_t shownDuty =
            CheckValue(bridge.Settings->GetClockPinDutyCycle(Selector(side)));
        if (tool.WantsJson()) {
            result[SideName(side)] = {{"divider", shownDivider}, {"duty", shownDuty}};
        } else {
            fmt::print("{:<10}{:<9}{:<11}{}\n", SideName(side), shownDivider,
                       fmt::format("{} ({} %)", shownDuty, shownDuty * 25),
                       ClockFrequency(shownDivider));
        }
    }
    if (tool.WantsJson()) Tool::PrintJson(result);
}

}  // namespace

void AddPinCommands(CLI::App& app, Tool& tool, Handlers& handlers) {
    auto gpioArgs = std::make_shared<GpioArgs>();
    auto* gpio = app.add_subcommand("gpio", "Read, drive and configure the GP pins GP0 to GP3");
    gpio->require_subcommand(1);

    auto* get = gpio->add_subcommand("get", "Print the level of a GPIO pin (0 or 1)");
    get->add_option("PIN", gpioArgs->pin, "0 to 3")->required();
    handlers[get] = [&tool, gpioArgs] { GpioGet(tool, *gpioArgs); };

    auto* set = gpio->add_subcommand("set", "Set the output level of a GPIO pin");
    set->add_option("PIN", gpioArgs->pin, "0 to 3")->required();
    set->add_option("LEVEL", gpioArgs->value, "0 or 1")->required();
    handlers[set] = [&tool, gpioArgs] { GpioSet(tool, *gpioArgs); };

    auto* config = gpio->add_subcommand(
        "config",
        "Show or change the designation, direction and value of GP0 to GP3 (running "
        "settings unless --power-up or --both)");
    for (unsigned pin = 0; pin < 4; ++pin) {
        config
            ->add_option(fmt::format("--gp{}", pin), gpioArgs->functions[pin],
                         fmt::format("new function of GP{}", pin))
            ->type_name("FUNCTION");
    }
    gpioArgs->sides.AddTo(*config);
    config->footer(fmt::format("FUNCTION: {}.", PinFunctionList()));
    handlers[config] = [&tool, gpioArgs] { GpioConfig(tool, *gpioArgs); };

    auto vdd = std::make_shared<std::string>();
    auto* adc = app.add_subcommand(
        "adc",
        "Read the three ADC inputs (GP1 to GP3), in volts with a fixed reference or --vdd; a "
        "pin that is not an ADC input is marked");
    adc->add_option("--vdd", *vdd, "the supply voltage, for the supply (vdd) reference")
        ->type_name("VOLTS");
    handlers[adc] = [&tool, vdd] { Adc(tool, *vdd); };

    auto dacArgs = std::make_shared<DacArgs>();
    auto* dac = app.add_subcommand("dac", "Show or set the DAC output (running settings)");
    dac->add_option("VALUE", dacArgs->value, "output in 32nds of the reference, 0 to 31");
    dac->add_option("--vref", dacArgs->reference, "reference: vdd, 1.024, 2.048 or 4.096")
        ->type_name("REF");
    handlers[dac] = [&tool, dacArgs] { Dac(tool, *dacArgs); };

    auto* interrupt = app.add_subcommand("interrupt", "The interrupt-on-change flag");
    interrupt->require_subcommand(1);
    auto* clear = interrupt->add_subcommand("clear", "Clear the interrupt flag");
    handlers[clear] = [&tool] { InterruptClear(tool); };

    auto clockArgs = std::make_shared<ClockArgs>();
    auto* clock = app.add_subcommand(
        "clock",
        "Show the clock output's divider and duty code, running and at power-up; "
        "with DIVIDER and DUTY set them (running settings unless --power-up or --both)");
    clock->add_option("DIVIDER", clockArgs->divider, "1 to 7: 48 MHz >> DIVIDER");
    clock->add_option("DUTY", clockArgs->duty, "0 to 3: duty cycle in quarters");
    clockArgs->sides.AddTo(*clock);
    handlers[clock] = [&tool, clockArgs] { Clock(tool, *clockArgs); };
}

}  // namespace CorvaneTool

// SPDX-License-Identifier: MIT
// gpio get/set/config/watch, adc (watch), dac, interrupt get/clear, clock.

#include <fmt/chrono.h>
#include <fmt/format.h>
#include <CLI/CLI.hpp>

#include <array>
#include <charconv>
#include <chrono>
#include <optional>

#include "Completion.hpp"
#include "Numbers.hpp"
#include "Pins.hpp"
#include "SettingsTable.hpp"
#include "Terminal.hpp"
#include "Tool.hpp"

namespace CorvaneTool {

namespace {

using Bridge = Corvane::VrelUsbI2c;

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
    const std::int32_t level =
        CheckValue(tool.On(Use::Read,
                           [&](Bridge& b) {
                               return b.Functions->ReadGpioPinValue(static_cast<std::uint8_t>(pin));
                           }),
                   NotGpio(pin));
    if (tool.WantsJson()) {
        Tool::PrintJson({{"pin", pin}, {"value", level}});
    } else {
        fmt::print("{}\n", level);
    }
}

void GpioSet(Tool& tool, const GpioArgs& args) {
    const unsigned pin = ParsePin(args.pin);
    const std::uint8_t level = ParseLevel(args.value);
    const bool input = WriteGpio(*tool.Handle(Use::Change), pin, level);
    if (tool.WantsJson()) {
        Tool::PrintJson({{"pin", pin}, {"value", level}, {"input", input}});
        return;
    }
    fmt::print("GP{} = {}\n", pin, level);
    if (input) {
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

void GpioConfig(Tool& tool, const GpioArgs& args) {
    const bool change = std::any_of(args.functions.begin(), args.functions.end(),
                                    [](const std::string& f) { return !f.empty(); });
    if (!change && args.sides.both) throw UsageError("--both goes with a change (--gp0 ... --gp3)");
    const std::vector<Side> sides = args.sides.Sides({Side::Current});
    // Checked before the bridge is opened: a wrong command line sends nothing.
    CheckPinFunctions(args.functions);
    const std::vector<PinConfig> shown =
        ConfigurePins(*tool.Handle(change ? Use::Change : Use::Read), args.functions, sides);
    Json result;
    for (std::size_t i = 0; i < sides.size(); ++i) {
        if (tool.WantsJson()) {
            result[SideName(sides[i])] = PinsJson(shown[i]);
        } else {
            PrintPins(shown[i], sides[i]);
        }
    }
    if (tool.WantsJson()) Tool::PrintJson(result);
}

std::string VoltsText(const std::string& vddText) {
    return vddText.ends_with('V') || vddText.ends_with('v') ? vddText.substr(0, vddText.size() - 1)
                                                            : vddText;
}

void Adc(Tool& tool, const std::string& vddText) {
    const std::optional<double> vdd = ParseVolts(vddText, "--vdd");
    const Json adc = ReadAdc(*tool.Handle(Use::Read), vdd);
    if (tool.WantsJson()) {
        Json result = adc;
        result.erase("functions");
        Tool::PrintJson(result);
        return;
    }
    for (unsigned channel = 0; channel < 3; ++channel) {
        const unsigned pin = channel + 1;
        std::string line =
            fmt::format("ADC{} (GP{})  {:4}", pin, pin, adc["readings"][channel].get<int>());
        if (!adc["adc-input"][channel].get<bool>()) {
            line += fmt::format("  not an ADC input (GP{} is {})", pin,
                                adc["functions"][channel].get<std::string>());
        } else if (!adc["volts"][channel].is_null()) {
            line += fmt::format("  {:.3f} V", adc["volts"][channel].get<double>());
        }
        fmt::print("{}\n", line);
    }
    const std::string reference = adc["reference"];
    if (reference != "vdd") {
        fmt::print("reference   {} V\n", reference);
    } else if (vdd) {
        fmt::print("reference   vdd = {} V\n", VoltsText(vddText));
    } else {
        fmt::print("reference   vdd (--vdd VOLTS gives volts)\n");
    }
}

struct WatchArgs {
    std::string interval = "500";
    std::string count;
    std::string vdd;
};

// Samples until Ctrl-C or --count: on a terminal one line redrawn in place,
// in a pipe a line per sample with its time, with --json one document at the end.
void Watch(Tool& tool, const WatchArgs& args, const std::function<Json()>& sample,
           const std::function<std::string(const Json&)>& line) {
    const std::uint32_t interval = ParseNumber(args.interval, "--interval", 10, 3'600'000);
    // 0: until Ctrl-C.
    const std::uint32_t count =
        args.count.empty() ? 0 : ParseNumber(args.count, "--count", 1, 1'000'000);
    const bool inPlace = !tool.WantsJson() && IsTerminal(stdout);
    Json samples = Json::array();
    std::size_t drawn = 0;
    for (std::uint32_t taken = 0; count == 0 || taken < count; ++taken) {
        if (taken > 0) {
            // On the platform's clock: the virtual chip's when it is simulated.
            Corvane::GetPlatform()->SleepMs(interval);
        }
        if (InterruptRequested()) break;
        const auto now = std::chrono::system_clock::now();
        Json entry = sample();
        const std::string time = fmt::format(
            "{:%H:%M:%S}.{:03}", fmt::localtime(std::chrono::system_clock::to_time_t(now)),
            std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
                1000);
        if (tool.WantsJson()) {
            entry["time"] = time;
            samples.push_back(entry);
        } else if (inPlace) {
            const std::string text = line(entry);
            fmt::print("\r{}{}", text,
                       std::string(drawn > text.size() ? drawn - text.size() : 0, ' '));
            std::fflush(stdout);
            drawn = text.size();
        } else {
            fmt::print("{}  {}\n", time, line(entry));
            std::fflush(stdout);
        }
    }
    if (inPlace) fmt::print("\n");
    if (tool.WantsJson()) Tool::PrintJson({{"samples", samples}});
}

std::string GpioLine(const Json& sample) {
    std::string text;
    for (unsigned pin = 0; pin < 4; ++pin) {
        const Json& level = sample["levels"][pin];
        text += fmt::format("{}GP{} {}", pin ? "  " : "", pin,
                            level.is_null() ? "-" : std::to_string(level.get<int>()));
    }
    return text;
}

std::string AdcLine(const Json& sample) {
    std::string text;
    for (unsigned channel = 0; channel < 3; ++channel) {
        const Json& volts = sample["volts"][channel];
        text += fmt::format("{}ADC{} {:4}", channel ? "  " : "", channel + 1,
                            sample["readings"][channel].get<int>());
        if (!sample["adc-input"][channel].get<bool>()) {
            text += " (not an input)";
        } else if (!volts.is_null()) {
            text += fmt::format(" {:.3f} V", volts.get<double>());
        }
    }
    return text;
}

struct DacArgs {
    std::string value;
    std::string reference;
};

void Dac(Tool& tool, const DacArgs& args) {
    const DacChange change = ParseDacChange(args.value, args.reference);
    const Json state = ApplyDac(*tool.Handle(change.Any() ? Use::Change : Use::Read), change);
    const std::int32_t now = state["value"];
    std::int32_t selector = -1;  // "?": a reference the tool does not know
    for (std::int32_t known = 0; known < 4; ++known) {
        if (state["reference"] == ReferenceName(known)) selector = known;
    }
    const unsigned millivolts = ReferenceMillivolts(selector);
    if (tool.WantsJson()) {
        Tool::PrintJson(state);
        return;
    }
    if (millivolts) {
        fmt::print("DAC  {}/32 of {} V = {:.3f} V\n", now, ReferenceName(selector),
                   now * millivolts / 32.0 / 1000.0);
    } else {
        fmt::print("DAC  {}/32 of VDD\n", now);
    }
}

void InterruptGet(Tool& tool) {
    const Json state = ReadInterrupt(*tool.Handle(Use::Read));
    if (tool.WantsJson()) {
        Tool::PrintJson(state);
    } else {
        fmt::print("interrupt flag {} (mode {})\n", state["flag"].get<bool>() ? "set" : "clear",
                   state["mode"].get<std::string>());
    }
}

void InterruptClear(Tool& tool) {
    ClearInterrupt(*tool.Handle(Use::Change));
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
    std::array<std::pair<std::int32_t, std::int32_t>, 2> shown{};
    tool.On(change ? Use::Change : Use::Read, [&](Bridge& bridge) {
        if (std::find(sides.begin(), sides.end(), Side::PowerUp) != sides.end()) {
            if (const auto why = ChipRecordRefusal(bridge, tool.PasswordGiven())) {
                throw Failure(*why, "PASSWORD_NEEDED");
            }
        }
        WithFlashHints([&] {
            ApplySides(sides, [&](Side side) {
                Check(bridge.Settings->SetClockPinConfiguration(Selector(side), divider, duty));
            });
        });
        for (Side side : {Side::Current, Side::PowerUp}) {
            shown[side == Side::Current ? 0 : 1] = {
                CheckValue(bridge.Settings->GetClockPinDividerValue(Selector(side))),
                CheckValue(bridge.Settings->GetClockPinDutyCycle(Selector(side)))};
        }
    });
    Json result;
    if (!tool.WantsJson()) fmt::print("{:<10}{:<9}{:<11}{}\n", "", "divider", "duty", "output");
    for (Side side : {Side::Current, Side::PowerUp}) {
        const auto [shownDivider, shownDuty] = shown[side == Side::Current ? 0 : 1];
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

void AddWatchOptions(CLI::App& command, WatchArgs& args) {
    command.add_option("--interval", args.interval, "milliseconds between samples")
        ->type_name("MS")
        ->capture_default_str();
    command.add_option("--count", args.count, "stop after N samples (default: at Ctrl-C)")
        ->type_name("N");
    command.footer(
        "On a terminal the line is redrawn in place; in a pipe each sample is a line with its "
        "time (HH:MM:SS.mmm); with --json all samples are one document once it ends.");
}

}  // namespace

void AddPinCommands(CLI::App& app, Tool& tool, Handlers& handlers) {
    auto gpioArgs = std::make_shared<GpioArgs>();
    auto* gpio = app.add_subcommand("gpio", "Read, drive, configure and watch the GP pins");
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
    std::string pinFunctions;
    for (unsigned pin = 0; pin < 4; ++pin) {
        auto* option = config
                           ->add_option(fmt::format("--gp{}", pin), gpioArgs->functions[pin],
                                        fmt::format("new function of GP{}", pin))
                           ->type_name("FUNCTION");
        CompletionWords(option, PinFunctionNames());
        pinFunctions += fmt::format("\n  GP{}: {}", pin, PinFunctionList(pin));
    }
    gpioArgs->sides.AddTo(*config);
    config->footer("FUNCTION:" + pinFunctions +
                   "\n--both writes the power-up copy first, so a chip that refuses it keeps its "
                   "running copy too.");
    handlers[config] = [&tool, gpioArgs] { GpioConfig(tool, *gpioArgs); };

    auto gpioWatch = std::make_shared<WatchArgs>();
    auto* watchGpio = gpio->add_subcommand(
        "watch", "Show the levels of GP0 to GP3 again and again until Ctrl-C ('-': not a GPIO)");
    AddWatchOptions(*watchGpio, *gpioWatch);
    handlers[watchGpio] = [&tool, gpioWatch] {
        const auto handle = tool.Handle(Use::Read);
        Watch(
            tool, *gpioWatch, [&] { return ReadGpioLevels(*handle); }, GpioLine);
    };

    auto vdd = std::make_shared<std::string>();
    auto* adc = app.add_subcommand(
        "adc",
        "Read the three ADC inputs (GP1 to GP3), in volts with a fixed reference or --vdd; a "
        "pin that is not an ADC input is marked; 'adc watch' samples them again and again");
    adc->add_option("--vdd", *vdd, "the supply voltage, for the supply (vdd) reference")
        ->type_name("VOLTS");
    handlers[adc] = [&tool, vdd] { Adc(tool, *vdd); };

    auto adcWatch = std::make_shared<WatchArgs>();
    auto* watchAdc =
        adc->add_subcommand("watch", "Show the ADC readings again and again until Ctrl-C");
    watchAdc
        ->add_option("--vdd", adcWatch->vdd, "the supply voltage, for the supply (vdd) reference")
        ->type_name("VOLTS");
    AddWatchOptions(*watchAdc, *adcWatch);
    handlers[watchAdc] = [&tool, adcWatch] {
        const std::optional<double> volts = ParseVolts(adcWatch->vdd, "--vdd");
        const auto handle = tool.Handle(Use::Read);
        Watch(
            tool, *adcWatch, [&] { return ReadAdc(*handle, volts); }, AdcLine);
    };

    auto dacArgs = std::make_shared<DacArgs>();
    auto* dac = app.add_subcommand("dac", "Show or set the DAC output (running settings)");
    dac->add_option("VALUE", dacArgs->value, "output in 32nds of the reference, 0 to 31");
    auto* vref =
        dac->add_option("--vref", dacArgs->reference, "reference: vdd, 1.024, 2.048 or 4.096")
            ->type_name("REF");
    CompletionWords(vref, {"vdd", "1.024", "2.048", "4.096"});
    handlers[dac] = [&tool, dacArgs] { Dac(tool, *dacArgs); };

    auto* interrupt = app.add_subcommand("interrupt", "The interrupt-on-change flag");
    interrupt->require_subcommand(1);
    auto* flag = interrupt->add_subcommand(
        "get", "Show whether the interrupt flag is set (an edge of the interrupt mode was seen)");
    handlers[flag] = [&tool] { InterruptGet(tool); };
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

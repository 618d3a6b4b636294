// settings, settings set.

#include <fmt/format.h>
#include <CLI/CLI.hpp>

#include "Numbers.hpp"
#include "Pins.hpp"
#include "Tool.hpp"

namespace CorvaneTool {

namespace {

using Bridge = Corvane::VrelUsbI2c;
// A parsed value, ready to be written to one side.
using Change = std::function<void(Bridge&, Side)>;

constexpr std::size_t kLongestString = 30;  // UTF-16 code units a flash string record holds

struct Setting {
    const char* key;
    const char* values;  // what `settings set` takes, for the help
    bool current;        // has a running copy
    bool powerUp;        // has a power-up copy
    std::function<Json(Bridge&, Side)> get;
    // Parses the value (UsageError) and returns the change; empty: read-only.
    std::function<Change(const std::string&)> parse;
    bool hex = false;  // shown as 0x....
    // The running copy can be shown but not set (the IDs the device enumerated with).
    bool currentReadOnly = false;

    bool SetsCurrent() const { return current && !currentReadOnly; }
};

std::int32_t Get(std::int32_t result) {
    return CheckValue(result);
}

std::int64_t Get64(std::int64_t result) {
    if (result < 0) throw Failure(static_cast<std::int32_t>(result), "");
    return result;
}

std::string GetText(const std::optional<std::u16string>& text, const char* what) {
    if (!text) throw Failure(fmt::format("the device did not answer the read of its {}", what));
    return Utf8(*text);
}

std::u16string ParseString(const std::string& text, const char* key) {
    std::u16string units = Utf16(text);
    if (units.size() > kLongestString) {
        throw UsageError(fmt::format("{} holds at most {} UTF-16 code units; '{}' has {}", key,
                                     kLongestString, text, units.size()));
    }
    return units;
}

// Flash-only on/off setting.
Setting Switch(const char* key, std::int32_t (Corvane::DevSettings_M::*get)(),
               std::int32_t (Corvane::DevSettings_M::*set)(bool)) {
    return {key,
            "on or off",
            false,
            true,
            [get](Bridge& b, Side) { return Json(Get(((*b.Settings).*get)()) != 0); },
            [key, set](const std::string& text) -> Change {
                const bool on = ParseSwitch(text, key);
                return [set, on](Bridge& b, Side) { Check(((*b.Settings).*set)(on)); };
            }};
}

// Flash-only initial level of a dedicated pin.
Setting InitialLevel(const char* key, std::int32_t (Corvane::DevSettings_M::*get)(),
                     std::int32_t (Corvane::DevSettings_M::*set)(std::int32_t)) {
    return {key,
            "0 or 1",
            false,
            true,
            [get](Bridge& b, Side) { return Json(Get(((*b.Settings).*get)())); },
            [key, set](const std::string& text) -> Change {
                const auto level = static_cast<std::int32_t>(ParseNumber(text, key, 0, 1));
                return [set, level](Bridge& b, Side) { Check(((*b.Settings).*set)(level)); };
            }};
}

// Flash-only USB string.
Setting UsbString(const char* key, std::optional<std::u16string> (Corvane::DevSettings_M::*get)(),
                  std::int32_t (Corvane::DevSettings_M::*set)(const char16_t*)) {
    return {key,
            "text of up to 30 characters",
            false,
            true,
            [key, get](Bridge& b, Side) { return Json(GetText(((*b.Settings).*get)(), key)); },
            [key, set](const std::string& text) -> Change {
                const std::u16string units = ParseString(text, key);
                return
                    [set, units](Bridge& b, Side) { Check(((*b.Settings).*set)(units.c_str())); };
            }};
}

Setting Pin(const char* key, unsigned pin) {
    return {key,
            "gpio-in, gpio-out-0, gpio-out-1, dedicated, adc, dac or clock-irq",
            true,
            true,
            [pin](Bridge& b, Side side) { return Json(PinFunction(ReadPins(b, side), pin)); },
            [pin](const std::string& text) -> Change {
                PinConfig probe;
                SetPinFunction(probe, pin, text);
                return [pin, text](Bridge& b, Side side) {
                    PinConfig config = ReadPins(b, side);
                    SetPinFunction(config, pin, text);
                    WritePins(b, side, config);
                };
            }};
}

// Divider or duty of the clock output; `divider` says which.
Setting ClockPart(const char* key, bool divider) {
    const auto read = [divider](Bridge& b, Side side) {
        return Get(divider ? b.Settings->GetClockPinDividerValue(Selector(side))
                           : b.Settings->GetClockPinDutyCycle(Selector(side)));
    };
    return {key,
            divider ? "1 to 7 (48 MHz >> code)" : "0 to 3 (quarters)",
            true,
            true,
            [read](Bridge& b, Side side) { return Json(read(b, side)); },
            [key, divider](const std::string& text) -> Change {
                const auto value = static_cast<std::int32_t>(
                    ParseNumber(text, key, divider ? 1 : 0, divider ? 7 : 3));
                return [divider, value](Bridge& b, Side side) {
                    const std::int32_t divide =
                        divider ? value : Get(b.Settings->GetClockPinDividerValue(Selector(side)));
                    const std::int32_t duty =
                        divider ? Get(b.Settings->GetClockPinDutyCycle(Selector(side))) : value;
                    Check(b.Settings->SetClockPinConfiguration(Selector(side), divide, duty));
                };
            }};
}

Setting Reference(const char* key, std::int32_t (Corvane::DevSettings_M::*get)(),
                  std::int32_t (Corvane::DevSettings_M::*set)(std::int32_t)) {
    return {key,
            "vdd, 1.024, 2.048 or 4.096",
            true,
            false,
            [get](Bridge& b, Side) { return Json(ReferenceName(Get(((*b.Settings).*get)()))); },
            [key, set](const std::string& text) -> Change {
                const std::int32_t selector = ParseReference(text, key);
                return [set, selector](Bridge& b, Side) { Check(((*b.Settings).*set)(selector)); };
            }};
}

std::vector<Setting> AllSettings(Tool& tool) {
    using S = Corvane::DevSettings_M;
    std::vector<Setting> settings;
    // The running IDs are the ones the device was found with.
    settings.push_back(
        {"vid", "4 hex digits", true, true,
         [&tool](Bridge& b, Side side) {
             return Json(side == Side::Current ? tool.Vid() : Get64(b.Settings->GetUsbVid()));
         },
         [](const std::string& text) -> Change {
             const std::uint16_t vid = ParseHexId(text, "vid");
             return [vid](Bridge& b, Side) {
                 const auto pid = static_cast<std::uint32_t>(Get64(b.Settings->GetUsbPid()));
                 Check(b.Settings->SetUsbVidPid(vid, pid));
             };
         },
         true, true});
    settings.push_back(
        {"pid", "4 hex digits", true, true,
         [&tool](Bridge& b, Side side) {
             return Json(side == Side::Current ? tool.Pid() : Get64(b.Settings->GetUsbPid()));
         },
         [](const std::string& text) -> Change {
             const std::uint16_t pid = ParseHexId(text, "pid");
             return [pid](Bridge& b, Side) {
                 const auto vid = static_cast<std::uint32_t>(Get64(b.Settings->GetUsbVid()));
                 Check(b.Settings->SetUsbVidPid(vid, pid));
             };
         },
         true, true});
    settings.push_back(
        {"power-source", "bus or self", false, true,
         [](Bridge& b, Side) {
             return Json(Get(b.Settings->GetUsbPowerSource()) ? "self" : "bus");
         },
         [](const std::string& text) -> Change {
             const std::string name = Lower(text);
             if (name != "bus" && name != "self") {
                 throw UsageError(fmt::format("power-source must be bus or self, not '{}'", text));
             }
             const std::int32_t source = name == "self" ? 1 : 0;
             return [source](Bridge& b, Side) { Check(b.Settings->SetUsbPowerSource(source)); };
         }});
    settings.push_back(
        Switch("remote-wakeup", &S::GetUsbRemoteWakeupEnable, &S::SetUsbRemoteWakeupEnable));
    settings.push_back(
        {"current-ma", "100 to 500, even", false, true,
         [](Bridge& b, Side) { return Json(Get(b.Settings->GetUsbCurrentRequirement())); },
         [](const std::string& text) -> Change {
             const auto ma = static_cast<std::int32_t>(ParseNumber(text, "current-ma", 100, 500));
             if (ma % 2 != 0)
                 throw UsageError("current-ma must be even (the chip counts 2 mA steps)");
             return [ma](Bridge& b, Side) { Check(b.Settings->SetUsbCurrentRequirement(ma)); };
         }});
    settings.push_back(Switch("serial-enumeration", &S::GetSerialNumberEnumerationEnable,
                              &S::SetSerialNumberEnumerationEnable));
    settings.push_back(
        UsbString("manufacturer", &S::GetUsbStringManufacturer, &S::SetUsbStringManufacturer));
    settings.push_back(
        UsbString("product", &S::GetUsbStringDescriptor, &S::SetUsbStringDescriptor));
    settings.push_back(UsbString("serial", &S::GetSerialNumber, &S::SetSerialNumber));
    settings.push_back({"flash-protection",
                        "use 'corvane password'",
                        true,
                        false,
                        [](Bridge& b, Side) {
                            static constexpr const char* kStates[] = {"off", "password", "locked"};
                            const std::int32_t state = Get(b.Settings->GetFlashProtectionState());
                            return state < 3 ? Json(kStates[state]) : Json(state);
                        },
                        {}});
    settings.push_back(InitialLevel("led-uart-rx", &S::GetInitialPinValueLedUartRx,
                                    &S::SetInitialPinValueLedUartRx));
    settings.push_back(InitialLevel("led-uart-tx", &S::GetInitialPinValueLedUartTx,
                                    &S::SetInitialPinValueLedUartTx));
    settings.push_back(
        InitialLevel("led-i2c", &S::GetInitialPinValueLedI2c, &S::SetInitialPinValueLedI2c));
    settings.push_back(
        InitialLevel("sspnd", &S::GetInitialPinValueSspnd, &S::SetInitialPinValueSspnd));
    settings.push_back(
        InitialLevel("usbcfg", &S::GetInitialPinValueUsbcfg, &S::SetInitialPinValueUsbcfg));
    settings.push_back(Pin("gp0", 0));
    settings.push_back(Pin("gp1", 1));
    settings.push_back(Pin("gp2", 2));
    settings.push_back(Pin("gp3", 3));
    settings.push_back(
        {"interrupt-mode", "rising, falling or both", true, true,
         [](Bridge& b, Side side) {
             return Json(InterruptModeName(Get(b.Settings->GetInterruptPinMode(Selector(side)))));
         },
         [](const std::string& text) -> Change {
             const std::int32_t mode = ParseInterruptMode(text);
             return [mode](Bridge& b, Side side) {
                 Check(b.Settings->SetInterruptPinMode(Selector(side), mode));
             };
         }});
    settings.push_back(ClockPart("clock-divider", true));
    settings.push_back(ClockPart("clock-duty", false));
    settings.push_back(
        Reference("dac-vref", &S::GetDacVoltageReference, &S::SetDacVoltageReference));
    settings.push_back(
        {"dac-value", "0 to 31", true, false,
         [](Bridge& b, Side) { return Json(Get(b.Settings->GetDacValue())); },
         [](const std::string& text) -> Change {
             const auto value = static_cast<std::int32_t>(ParseNumber(text, "dac-value", 0, 31));
             return [value](Bridge& b, Side) { Check(b.Settings->SetDacValue(value)); };
         }});
    settings.push_back(
        Reference("adc-vref", &S::GetAdcVoltageReference, &S::SetAdcVoltageReference));
    settings.push_back({"firmware",
                        "read-only",
                        true,
                        false,
                        [](Bridge& b, Side) {
                            const auto version = b.Settings->GetFirmwareVersion();
                            if (!version)
                                throw Failure("the device did not report its firmware version");
                            return Json(*version);
                        },
                        {}});
    return settings;
}

std::string Show(const Setting& setting, const Json& value) {
    if (value.is_null()) return "-";
    if (value.is_boolean()) return value.get<bool>() ? "on" : "off";
    if (value.is_string()) return value.get<std::string>();
    if (setting.hex) return Hex(value.get<unsigned>(), 4);
    return value.dump();
}

Json Read(const Setting& setting, Bridge& bridge, Side side) {
    const bool has = side == Side::Current ? setting.current : setting.powerUp;
    return has ? setting.get(bridge, side) : Json();
}

void ShowAll(Tool& tool, const std::vector<Setting>& settings) {
    Bridge& bridge = tool.Bridge();
    Json all = Json::object();
    for (const Setting& setting : settings) {
        all[setting.key] = {{"current", Read(setting, bridge, Side::Current)},
                            {"power-up", Read(setting, bridge, Side::PowerUp)}};
    }
    if (tool.WantsJson()) {
        Tool::PrintJson(all);
        return;
    }
    fmt::print("{:<20}{:<26}{}\n", "setting", "current", "power-up");
    for (const Setting& setting : settings) {
        const auto& values = all[setting.key];
        fmt::print("{:<20}{:<26}{}\n", setting.key, Show(setting, values["current"]),
                   Show(setting, values["power-up"]));
    }
}

struct SetArgs {
    std::string key;
    std::string value;
    SideFlags sides;
};

void SetOne(Tool& tool, const std::vector<Setting>& settings, const SetArgs& args) {
    const auto found = std::find_if(settings.begin(), settings.end(),
                                    [&](const Setting& s) { return args.key == s.key; });
    if (found == settings.end()) {
        throw UsageError(
            fmt::format("there is no setting '{}' (see 'corvane settings set --help')", args.key));
    }
    const Setting& setting = *found;
    if (!setting.parse) {
        throw UsageError(fmt::format("{} cannot be set here: {}", setting.key, setting.values));
    }
    const std::vector<Side> sides =
        args.sides.Sides({setting.SetsCurrent() ? Side::Current : Side::PowerUp});
    for (Side side : sides) {
        if (side == Side::Current && !setting.SetsCurrent()) {
            throw UsageError(fmt::format(
                "{} is a power-up setting only: leave out --current and --both", setting.key));
        }
        if (side == Side::PowerUp && !setting.powerUp) {
            throw UsageError(fmt::format(
                "{} is a running setting only: leave out --power-up and --both", setting.key));
        }
    }
    const Change change = setting.parse(args.value);

    Bridge& bridge = tool.Bridge();
    WithFlashHints([&] {
        for (Side side : sides) change(bridge, side);
    });

    Json result = {{"key", setting.key}};
    std::string text = setting.key;
    for (Side side : sides) {
        const Json value = setting.get(bridge, side);
        result[SideName(side)] = value;
        text += fmt::format("  {}: {}", SideName(side), Show(setting, value));
    }
    if (tool.WantsJson()) {
        Tool::PrintJson(result);
        return;
    }
    fmt::print("{}\n", text);
    if ((setting.key == std::string("vid") || setting.key == std::string("pid"))) {
        fmt::print(stderr,
                   "note: the bridge enumerates with the new ID after its next reset; then find "
                   "it with --vid and --pid\n");
    }
}

}  // namespace

void AddSettingsCommands(CLI::App& app, Tool& tool, Handlers& handlers) {
    auto settings = std::make_shared<std::vector<Setting>>(AllSettings(tool));

    auto* show = app.add_subcommand(
        "settings",
        "Show every setting of the chip, running and at power-up ('-': the chip has "
        "no such copy); 'settings set' changes one");
    handlers[show] = [&tool, settings] { ShowAll(tool, *settings); };

    std::string keys;
    for (const Setting& setting : *settings) {
        if (!setting.parse) continue;
        const char* sides = setting.SetsCurrent() && setting.powerUp ? "running/power-up"
                            : setting.SetsCurrent()                  ? "running only"
                                                                     : "power-up only";
        keys += fmt::format("  {:<20}{}; {}\n", setting.key, setting.values, sides);
    }
    auto args = std::make_shared<SetArgs>();
    auto* set = show->add_subcommand(
        "set",
        "Change one setting: the running copy unless --power-up or --both; settings that "
        "exist only at power-up go to flash");
    set->add_option("KEY", args->key, "the setting, see below")->required();
    set->add_option("VALUE", args->value, "its new value")->required();
    args->sides.AddTo(*set);
    set->footer("KEY and VALUE:\n" + keys +
                "A password-protected chip needs --password-file for power-up settings.");
    handlers[set] = [&tool, settings, args] { SetOne(tool, *settings, *args); };
}

}  // namespace CorvaneTool

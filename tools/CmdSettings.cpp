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

// Which copies of a setting the chip has, and which of them the tool changes.
enum class Copies {
    PowerUp,           // flash only
    Running,           // the running settings only
    Both,              // running and power-up
    ShownRunningBoth,  // both; the running copy is shown but not set (the enumerated IDs)
};

struct Setting {
    const char* key;
    const char* values;  // what `settings set` takes, for the help
    Copies copies;
    std::function<Json(Bridge&, Side)> get;
    // Parses the value (UsageError) and returns the change; empty: read-only.
    std::function<Change(const std::string&)> parse = {};
    bool hex = false;  // shown as 0x....

    bool Has(Side side) const {
        return side == Side::Current ? copies != Copies::PowerUp : copies != Copies::Running;
    }
    bool SetsCurrent() const { return copies == Copies::Running || copies == Copies::Both; }
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
    return Corvane::Utf16ToUtf8(*text);
}

std::u16string ParseString(const std::string& text, const char* key) {
    const auto converted = Corvane::Utf8ToUtf16Strict(text);
    if (!converted) throw UsageError(fmt::format("{} must be valid UTF-8 text", key));
    const std::u16string& units = *converted;
    if (units.size() > kLongestString) {
        throw UsageError(fmt::format("{} holds at most {} UTF-16 code units; '{}' has {}", key,
                                     kLongestString, text, units.size()));
    }
    return units;
}

// A flash-only setting read by `get` and changed by `set` with the value `parse` makes.
template <typename Value, typename Getter, typename Setter, typename Parse>
Setting FlashValue(const char* key, const char* values, Getter get, Setter set, Parse parse) {
    return {.key = key,
            .values = values,
            .copies = Copies::PowerUp,
            .get = [key, get](Bridge& b, Side) { return Json(get(b, key)); },
            .parse = [key, set, parse](const std::string& text) -> Change {
                const Value value = parse(text, key);
                return [set, value](Bridge& b, Side) { Check(((*b.Settings).*set)(value)); };
            }};
}

using IntGetter = std::int32_t (Corvane::DevSettings_M::*)();
using IntSetter = std::int32_t (Corvane::DevSettings_M::*)(std::int32_t);

auto Reads(IntGetter get) {
    return [get](Bridge& b, const char*) { return Get(((*b.Settings).*get)()); };
}

// Flash-only on/off setting.
Setting Switch(const char* key, IntGetter get, std::int32_t (Corvane::DevSettings_M::*set)(bool)) {
    return FlashValue<bool>(
        key, "on or off",
        [get](Bridge& b, const char*) { return Get(((*b.Settings).*get)()) != 0; }, set,
        ParseSwitch);
}

// Flash-only number in [min, max].
template <std::int32_t Min, std::int32_t Max>
Setting FlashNumber(const char* key, const char* values, IntGetter get, IntSetter set) {
    return FlashValue<std::int32_t>(
        key, values, Reads(get), set, [](const std::string& text, const char* what) {
            return static_cast<std::int32_t>(ParseNumber(text, what, Min, Max));
        });
}

// Flash-only initial level of a dedicated pin.
Setting InitialLevel(const char* key, IntGetter get, IntSetter set) {
    return FlashNumber<0, 1>(key, "0 or 1", get, set);
}

// Flash-only USB string.
Setting UsbString(const char* key, std::optional<std::u16string> (Corvane::DevSettings_M::*get)(),
                  std::int32_t (Corvane::DevSettings_M::*set)(const char16_t*)) {
    return {
        .key = key,
        .values = "text of up to 30 characters",
        .copies = Copies::PowerUp,
        .get = [key, get](Bridge& b, Side) { return Json(GetText(((*b.Settings).*get)(), key)); },
        .parse = [key, set](const std::string& text) -> Change {
            const std::u16string units = ParseString(text, key);
            return [set, units](Bridge& b, Side) { Check(((*b.Settings).*set)(units.c_str())); };
        }};
}

// The USB vendor (`vendor`) or product ID. The running IDs are the ones the
// device was found with; the flash record holds both, so one is written with the other.
Setting UsbId(Tool& tool, const char* key, bool vendor) {
    return {.key = key,
            .values = "4 hex digits",
            .copies = Copies::ShownRunningBoth,
            .get =
                [&tool, vendor](Bridge& b, Side side) {
                    if (side == Side::Current) return Json(vendor ? tool.Vid() : tool.Pid());
                    return Json(Get64(vendor ? b.Settings->GetUsbVid() : b.Settings->GetUsbPid()));
                },
            .parse = [key, vendor](const std::string& text) -> Change {
                const std::uint16_t id = ParseHexId(text, key);
                return [vendor, id](Bridge& b, Side) {
                    const auto other = static_cast<std::uint32_t>(
                        Get64(vendor ? b.Settings->GetUsbPid() : b.Settings->GetUsbVid()));
                    Check(vendor ? b.Settings->SetUsbVidPid(id, other)
                                 : b.Settings->SetUsbVidPid(other, id));
                };
            },
            .hex = true};
}

Setting Pin(const char* key, unsigned pin) {
    return {
        .key = key,
        .values = "gpio-in, gpio-out-0, gpio-out-1, dedicated, adc, dac or clock-irq",
        .copies = Copies::Both,
        .get = [pin](Bridge& b, Side side) { return Json(PinFunction(ReadPins(b, side), pin)); },
        .parse = [pin](const std::string& text) -> Change {
            PinConfig probe;
            SetPinFunction(probe, pin, text);
            return [pin, text](Bridge& b, Side side) {
                PinConfig config = ReadPins(b, side);
                SetPinFunction(config, pin, text);
                WritePins(b, side, config);
            };
        }};
}

// Divider or duty of the clock output; `divider` says which. The chip sets both at once.
Setting ClockPart(const char* key, bool divider) {
    const auto read = [divider](Bridge& b, Side side, bool part) {
        return Get(part ? b.Settings->GetClockPinDividerValue(Selector(side))
                        : b.Settings->GetClockPinDutyCycle(Selector(side)));
    };
    return {.key = key,
            .values = divider ? "1 to 7 (48 MHz >> code)" : "0 to 3 (quarters)",
            .copies = Copies::Both,
            .get = [read, divider](Bridge& b, Side side) { return Json(read(b, side, divider)); },
            .parse = [key, divider, read](const std::string& text) -> Change {
                const auto value = static_cast<std::int32_t>(
                    ParseNumber(text, key, divider ? 1 : 0, divider ? 7 : 3));
                return [divider, value, read](Bridge& b, Side side) {
                    const std::int32_t divide = divider ? value : read(b, side, true);
                    const std::int32_t duty = divider ? read(b, side, false) : value;
                    Check(b.Settings->SetClockPinConfiguration(Selector(side), divide, duty));
                };
            }};
}

// A running-only setting that `set` changes with the value `parse` makes.
template <typename Parse>
Setting RunningValue(const char* key, const char* values, std::function<Json(Bridge&)> show,
                     IntSetter set, Parse parse) {
    return {.key = key,
            .values = values,
            .copies = Copies::Running,
            .get = [show](Bridge& b, Side) { return show(b); },
            .parse = [key, set, parse](const std::string& text) -> Change {
                const std::int32_t value = parse(text, key);
                return [set, value](Bridge& b, Side) { Check(((*b.Settings).*set)(value)); };
            }};
}

Setting Reference(const char* key, IntGetter get, IntSetter set) {
    return RunningValue(
        key, "vdd, 1.024, 2.048 or 4.096",
        [get](Bridge& b) { return Json(ReferenceName(Get(((*b.Settings).*get)()))); }, set,
        ParseReference);
}

std::vector<Setting> AllSettings(Tool& tool) {
    using S = Corvane::DevSettings_M;
    return {
        UsbId(tool, "vid", true),
        UsbId(tool, "pid", false),
        FlashValue<std::int32_t>(
            "power-source", "bus or self",
            [](Bridge& b, const char*) {
                return Get(b.Settings->GetUsbPowerSource()) ? "self" : "bus";
            },
            &S::SetUsbPowerSource,
            [](const std::string& text, const char* key) -> std::int32_t {
                const std::string name = Lower(text);
                if (name != "bus" && name != "self") {
                    throw UsageError(fmt::format("{} must be bus or self, not '{}'", key, text));
                }
                return name == "self" ? 1 : 0;
            }),
        Switch("remote-wakeup", &S::GetUsbRemoteWakeupEnable, &S::SetUsbRemoteWakeupEnable),
        FlashValue<std::int32_t>("current-ma", "100 to 500, even",
                                 Reads(&S::GetUsbCurrentRequirement), &S::SetUsbCurrentRequirement,
                                 [](const std::string& text, const char* key) {
                                     const auto ma = static_cast<std::int32_t>(
                                         ParseNumber(text, key, 100, 500));
                                     if (ma % 2 != 0) {
                                         throw UsageError(fmt::format(
                                             "{} must be even (the chip counts 2 mA steps)", key));
                                     }
                                     return ma;
                                 }),
        Switch("serial-enumeration", &S::GetSerialNumberEnumerationEnable,
               &S::SetSerialNumberEnumerationEnable),
        UsbString("manufacturer", &S::GetUsbStringManufacturer, &S::SetUsbStringManufacturer),
        UsbString("product", &S::GetUsbStringDescriptor, &S::SetUsbStringDescriptor),
        UsbString("serial", &S::GetSerialNumber, &S::SetSerialNumber),
        {.key = "flash-protection",
         .values = "use 'corvane password'",
         .copies = Copies::Running,
         .get =
             [](Bridge& b, Side) {
                 static constexpr const char* kStates[] = {"off", "password", "locked"};
                 const std::int32_t state = Get(b.Settings->GetFlashProtectionState());
                 return state < 3 ? Json(kStates[state]) : Json(state);
             }},
        InitialLevel("led-uart-rx", &S::GetInitialPinValueLedUartRx,
                     &S::SetInitialPinValueLedUartRx),
        InitialLevel("led-uart-tx", &S::GetInitialPinValueLedUartTx,
                     &S::SetInitialPinValueLedUartTx),
        InitialLevel("led-i2c", &S::GetInitialPinValueLedI2c, &S::SetInitialPinValueLedI2c),
        InitialLevel("sspnd", &S::GetInitialPinValueSspnd, &S::SetInitialPinValueSspnd),
        InitialLevel("usbcfg", &S::GetInitialPinValueUsbcfg, &S::SetInitialPinValueUsbcfg),
        Pin("gp0", 0),
        Pin("gp1", 1),
        Pin("gp2", 2),
        Pin("gp3", 3),
        {.key = "interrupt-mode",
         .values = "rising, falling or both",
         .copies = Copies::Both,
         .get =
             [](Bridge& b, Side side) {
                 return Json(
                     InterruptModeName(Get(b.Settings->GetInterruptPinMode(Selector(side)))));
             },
         .parse = [](const std::string& text) -> Change {
             const std::int32_t mode = ParseInterruptMode(text);
             return [mode](Bridge& b, Side side) {
                 Check(b.Settings->SetInterruptPinMode(Selector(side), mode));
             };
         }},
        ClockPart("clock-divider", true),
        ClockPart("clock-duty", false),
        Reference("dac-vref", &S::GetDacVoltageReference, &S::SetDacVoltageReference),
        RunningValue(
            "dac-value", "0 to 31", [](Bridge& b) { return Json(Get(b.Settings->GetDacValue())); },
            &S::SetDacValue,
            [](const std::string& text, const char* key) {
                return static_cast<std::int32_t>(ParseNumber(text, key, 0, 31));
            }),
        Reference("adc-vref", &S::GetAdcVoltageReference, &S::SetAdcVoltageReference),
        {.key = "firmware",
         .values = "read-only",
         .copies = Copies::Running,
         .get =
             [](Bridge& b, Side) {
                 const auto version = b.Settings->GetFirmwareVersion();
                 if (!version) throw Failure("the device did not report its firmware version");
                 return Json(*version);
             }},
    };
}

std::string Show(const Setting& setting, const Json& value) {
    if (value.is_null()) return "-";
    if (value.is_boolean()) return value.get<bool>() ? "on" : "off";
    if (value.is_string()) return value.get<std::string>();
    if (setting.hex) return Hex(value.get<unsigned>(), 4);
    return value.dump();
}

Json Read(const Setting& setting, Bridge& bridge, Side side) {
    return setting.Has(side) ? setting.get(bridge, side) : Json();
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

struct SettingArgs {
    std::string key;
    std::string value;
    SideFlags sides;
};

const Setting& Find(const std::vector<Setting>& settings, const std::string& key) {
    const auto found = std::find_if(settings.begin(), settings.end(),
                                    [&](const Setting& s) { return key == s.key; });
    if (found == settings.end()) {
        throw UsageError(
            fmt::format("there is no setting '{}' (see 'corvane settings set --help')", key));
    }
    return *found;
}

// `settings get KEY`: the value alone, so scripts can take it as it stands.
void GetOne(Tool& tool, const std::vector<Setting>& settings, const SettingArgs& args) {
    const Setting& setting = Find(settings, args.key);
    const std::vector<Side> sides =
        args.sides.Sides({setting.Has(Side::Current) ? Side::Current : Side::PowerUp});
    for (Side side : sides) {
        if (!setting.Has(side)) {
            throw UsageError(fmt::format("{} has no {} copy", setting.key,
                                         side == Side::Current ? "running" : "power-up"));
        }
    }
    Bridge& bridge = tool.Bridge();
    Json result = {{"key", setting.key}};
    std::string text;
    for (Side side : sides) {
        const Json value = setting.get(bridge, side);
        result[SideName(side)] = value;
        text += sides.size() == 1 ? Show(setting, value)
                                  : fmt::format("{}{}: {}", text.empty() ? "" : "  ",
                                                SideName(side), Show(setting, value));
    }
    if (tool.WantsJson()) {
        Tool::PrintJson(result);
    } else {
        fmt::print("{}\n", text);
    }
}

void SetOne(Tool& tool, const std::vector<Setting>& settings, const SettingArgs& args) {
    const Setting& setting = Find(settings, args.key);
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
        if (side == Side::PowerUp && !setting.Has(Side::PowerUp)) {
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
        const char* sides = setting.SetsCurrent() && setting.Has(Side::PowerUp) ? "running/power-up"
                            : setting.SetsCurrent()                             ? "running only"
                                                                                : "power-up only";
        keys += fmt::format("  {:<20}{}; {}\n", setting.key, setting.values, sides);
    }
    auto args = std::make_shared<SettingArgs>();
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

    auto* get = show->add_subcommand(
        "get", "Show one setting: the running copy where the chip has one, else the power-up copy");
    get->add_option("KEY", args->key, "the setting, as 'corvane settings' lists them")->required();
    args->sides.AddTo(*get);
    handlers[get] = [&tool, settings, args] { GetOne(tool, *settings, *args); };
}

}  // namespace CorvaneTool

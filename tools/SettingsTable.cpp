// SPDX-License-Identifier: MIT
// The table of the chip's settings: see SettingsTable.hpp.
#include "SettingsTable.hpp"

#include <fmt/format.h>

#include <algorithm>

#include "Numbers.hpp"

namespace CorvaneTool {

namespace {

using Bridge = Corvane::VrelUsbI2c;
using Change = SettingChange;

constexpr std::size_t kLongestString = 30;  // UTF-16 code units a flash string record holds
constexpr std::uint16_t kDefaultVid = 0x3A7C;
constexpr std::uint16_t kDefaultPid = 0x01D5;

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
    // A line break or the like would break what lists the string ('list', lsusb).
    const auto control = std::find_if(
        units.begin(), units.end(), [](char16_t c) { return c < 0x20 || (c >= 0x7F && c < 0xA0); });
    if (control != units.end()) {
        throw UsageError(fmt::format("{} must not hold control characters (U+{:04X} at {})", key,
                                     static_cast<unsigned>(*control), control - units.begin() + 1));
    }
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
            },
            .chipRecord = true};
}

using IntGetter = std::int32_t (Corvane::DevSettings_M::*)();
using IntSetter = std::int32_t (Corvane::DevSettings_M::*)(std::int32_t);

auto Reads(IntGetter get) {
    return [get](Bridge& b, const char*) { return Get(((*b.Settings).*get)()); };
}

// Flash-only on/off setting.
Setting Switch(const char* key, IntGetter get, std::int32_t (Corvane::DevSettings_M::*set)(bool)) {
    Setting setting = FlashValue<bool>(
        key, "on or off",
        [get](Bridge& b, const char*) { return Get(((*b.Settings).*get)()) != 0; }, set,
        ParseSwitch);
    setting.words = {"on", "off"};
    return setting;
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
    Setting setting = FlashNumber<0, 1>(key, "0 or 1", get, set);
    setting.words = {"0", "1"};
    return setting;
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
Setting UsbId(const char* key, bool vendor) {
    return {.key = key,
            .values = "0x0000 to 0xffff",
            .copies = Copies::ShownRunningBoth,
            .get =
                [vendor](Bridge& b, Side side) {
                    if (side == Side::Current) {
                        const Corvane::DeviceStateView found = Corvane::ViewDeviceState();
                        return Json(IdText(vendor ? found.vendorId : found.productId));
                    }
                    return Json(IdText(static_cast<unsigned>(
                        Get64(vendor ? b.Settings->GetUsbVid() : b.Settings->GetUsbPid()))));
                },
            .parse = [key, vendor](const std::string& text) -> Change {
                const std::uint16_t id = ParseId(text, key);
                return [vendor, id](Bridge& b, Side) {
                    const auto other = static_cast<std::uint32_t>(
                        Get64(vendor ? b.Settings->GetUsbPid() : b.Settings->GetUsbVid()));
                    Check(vendor ? b.Settings->SetUsbVidPid(id, other)
                                 : b.Settings->SetUsbVidPid(other, id));
                };
            },
            .chipRecord = true};
}

Setting Pin(const char* key, unsigned pin) {
    static const std::string values[] = {PinFunctionList(0), PinFunctionList(1), PinFunctionList(2),
                                         PinFunctionList(3)};
    return {
        .key = key,
        .values = values[pin].c_str(),
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
        },
        .words = PinFunctionNames()};
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
            },
            .chipRecord = true};
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
    Setting setting = RunningValue(
        key, "vdd, 1.024, 2.048 or 4.096",
        [get](Bridge& b) { return Json(ReferenceName(Get(((*b.Settings).*get)()))); }, set,
        ParseReference);
    setting.words = {"vdd", "1.024", "2.048", "4.096"};
    return setting;
}

std::vector<Setting> MakeSettings() {
    using S = Corvane::DevSettings_M;
    std::vector<Setting> settings{
        UsbId("vid", true),
        UsbId("pid", false),
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
         .values = "none, rising, falling or both (none only as it stands)",
         .copies = Copies::Both,
         .get =
             [](Bridge& b, Side side) {
                 return Json(
                     InterruptModeName(Get(b.Settings->GetInterruptPinMode(Selector(side)))));
             },
         .parse = [](const std::string& text) -> Change {
             const std::int32_t mode = ParseInterruptMode(text);
             return [mode](Bridge& b, Side side) { SetInterruptMode(b, side, mode); };
         },
         .words = {"none", "rising", "falling", "both"},
         .chipRecord = true},
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
    for (Setting& setting : settings) {
        if (setting.key == std::string("power-source")) setting.words = {"bus", "self"};
    }
    return settings;
}

}  // namespace

const std::vector<Setting>& AllSettings() {
    static const std::vector<Setting> settings = MakeSettings();
    return settings;
}

const Setting& FindSetting(const std::string& key) {
    const auto& settings = AllSettings();
    const auto found = std::find_if(settings.begin(), settings.end(),
                                    [&](const Setting& s) { return key == s.key; });
    if (found == settings.end()) {
        throw UsageError(
            fmt::format("there is no setting '{}' (see 'corvane settings set --help')", key));
    }
    return *found;
}

std::string ShowSetting(const Json& value) {
    if (value.is_null()) return "-";
    if (value.is_boolean()) return value.get<bool>() ? "on" : "off";
    if (value.is_string()) return value.get<std::string>();
    return value.dump();
}

std::string CanonicalValue(const Setting& setting, const std::string& text) {
    const std::string key = setting.key;
    if (key == "vid" || key == "pid") return IdText(ParseId(text, key));
    if (key.ends_with("-vref")) return ReferenceName(ParseReference(text, key));
    if (key == "interrupt-mode") return InterruptModeName(ParseInterruptMode(text));
    if (setting.words == std::vector<std::string>{"on", "off"}) {
        return ParseSwitch(text, key) ? "on" : "off";
    }
    // Numbers in decimal, names in lower case, texts as they are.
    if (!setting.words.empty() || key == "power-source") return Lower(text);
    if (!text.empty() && text.find_first_not_of("0123456789xXabcdefABCDEF") == std::string::npos &&
        key != "serial" && key != "manufacturer" && key != "product") {
        try {
            return std::to_string(ParseNumber(text, key, 0, 0xFFFFFFFF));
        } catch (const UsageError&) {
        }
    }
    return text;
}

Json ReadSetting(const Setting& setting, Corvane::VrelUsbI2c& bridge, Side side) {
    return setting.Has(side) ? setting.get(bridge, side) : Json();
}

std::optional<std::string> ChipRecordRefusal(Corvane::VrelUsbI2c& bridge, bool passwordGiven) {
    constexpr std::int32_t kPasswordProtected = 1;
    if (passwordGiven ||
        CheckValue(bridge.Settings->GetFlashProtectionState()) != kPasswordProtected) {
        return std::nullopt;
    }
    return "the chip's flash is protected by a password; give it with --password-file FILE "
           "(a change of this setting carries the password, even when the chip has it entered, "
           "and the chip would take another as its new one)";
}

void CheckSettable(const Setting& setting, const std::string& value,
                   const std::vector<Side>& sides) {
    if (!setting.parse) {
        throw UsageError(fmt::format("{} cannot be set here: {}", setting.key, setting.values));
    }
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
    setting.parse(value);
}

Json SetSetting(Corvane::BridgeHandle& handle, const Setting& setting, const std::string& value,
                const std::vector<Side>& sides, bool passwordGiven,
                const std::function<void(const std::string&)>& warn) {
    CheckSettable(setting, value, sides);
    const SettingChange change = setting.parse(value);
    const std::string key = setting.key;
    const bool flash = std::find(sides.begin(), sides.end(), Side::PowerUp) != sides.end();
    return On(handle, [&](Bridge& bridge) {
        if (flash && setting.chipRecord) {
            if (const auto why = ChipRecordRefusal(bridge, passwordGiven)) {
                throw Failure(*why, "PASSWORD_NEEDED");
            }
        }
        if (key == "vid" || key == "pid") {
            // Said before the flash changes: afterwards the bridge may be out of reach.
            const auto flashId = [&](const char* which) {
                return ParseId(ShowSetting(FindSetting(which).get(bridge, Side::PowerUp)), which);
            };
            const std::uint16_t wanted = ParseId(value, key);
            const std::uint16_t vid = key == "vid" ? wanted : flashId("vid");
            const std::uint16_t pid = key == "pid" ? wanted : flashId("pid");
            if ((vid != flashId("vid") || pid != flashId("pid")) && warn) {
                warn(NewIdWarning(vid, pid));
            }
        }
        WithFlashHints([&] { ApplySides(sides, [&](Side side) { change(bridge, side); }); });
        Json result = {{"key", key}};
        for (Side side : sides) result[SideName(side)] = setting.get(bridge, side);
        return result;
    });
}

std::string NewIdWarning(std::uint16_t vid, std::uint16_t pid) {
    if (vid == kDefaultVid && pid == kDefaultPid) {
        return fmt::format(
            "after its next reset the bridge enumerates with the IDs the tool and the udev rule "
            "look for by default again (USB VID {}, PID {})",
            IdText(vid), IdText(pid));
    }
    return fmt::format(
        "after its next reset the bridge enumerates as USB VID {}, PID {}: the tool's default "
        "search and the udev rule (udev/70-corvane.rules) no longer find it; reach it with --vid "
        "{} --pid {} (and give the udev rule a line with these IDs)",
        IdText(vid), IdText(pid), IdText(vid), IdText(pid));
}

}  // namespace CorvaneTool

// SPDX-License-Identifier: MIT
#include "SettingsFile.hpp"

#include <fmt/format.h>

#include <algorithm>

#include "Numbers.hpp"
#include "SettingsTable.hpp"

namespace CorvaneTool {

namespace {

constexpr const char* kSettingsFormat = "corvane-settings";
constexpr int kSettingsVersion = 1;
constexpr const char* kProtectionStates[] = {"off", "password", "locked"};
constexpr std::int32_t kPasswordProtected = 1;
constexpr std::int32_t kLocked = 2;
constexpr std::int32_t kPasswordMissing = 3;

[[noreturn]] void BadFile(const std::string& why) {
    throw Failure("the settings file " + why, "SETTINGS_FILE");
}

std::string ProtectionName(std::int32_t state) {
    return state >= 0 && state < 3 ? kProtectionStates[state] : std::to_string(state);
}

std::string HardwareOf(Corvane::VrelUsbI2c& bridge) {
    return bridge.Settings->GetHardwareVersion().value_or("?");
}

// One setting the file asks for.
struct Wanted {
    const Setting* setting;
    Side side;
    std::string text;
};

std::vector<Wanted> WantedSettings(const Json& file, const std::string& serial) {
    if (!file.is_object() || file.value("format", "") != kSettingsFormat) {
        BadFile(fmt::format("is not one ('format' is not \"{}\")", kSettingsFormat));
    }
    const Json& version = file["version"];
    if (!version.is_number_integer() || version.get<int>() < 1) {
        BadFile("has no format version");
    }
    if (version.get<int>() > kSettingsVersion) {
        BadFile(fmt::format("has format version {}; this tool reads version {}", version.get<int>(),
                            kSettingsVersion));
    }
    std::vector<Wanted> wanted;
    for (Side side : {Side::PowerUp, Side::Current}) {
        const std::string name = SideName(side);
        if (!file.contains(name)) continue;
        if (!file[name].is_object()) BadFile(fmt::format("has no settings in '{}'", name));
        for (const auto& [key, value] : file[name].items()) {
            const auto& settings = AllSettings();
            const auto setting =
                std::find_if(settings.begin(), settings.end(),
                             [&wanted = key](const Setting& s) { return wanted == s.key; });
            if (setting == settings.end()) BadFile(fmt::format("names no setting '{}'", key));
            if (!setting->Sets(side)) {
                BadFile(fmt::format("sets the {} copy of {}, which cannot be set", name, key));
            }
            if (!value.is_string() && !value.is_number_integer() && !value.is_boolean()) {
                BadFile(fmt::format("gives {} no value ({})", key, value.dump()));
            }
            wanted.push_back({&*setting, side, ShowSetting(value)});
        }
    }
    if (!serial.empty()) {
        std::erase_if(wanted,
                      [](const Wanted& w) { return w.setting->key == std::string("serial"); });
        wanted.push_back({&FindSetting("serial"), Side::PowerUp, serial});
    }
    // Every value as `settings set` checks it, before anything is sent.
    for (const Wanted& w : wanted) {
        try {
            w.setting->parse(w.text);
        } catch (const UsageError& error) {
            BadFile(fmt::format("gives {} a value the chip cannot take: {}", w.setting->key,
                                error.what()));
        }
    }
    return wanted;
}

bool Same(const Setting& setting, const Json& bridgeValue, const std::string& text) {
    return CanonicalValue(setting, ShowSetting(bridgeValue)) == CanonicalValue(setting, text);
}

bool IsId(const Setting& setting) {
    return setting.key == std::string("vid") || setting.key == std::string("pid");
}

}  // namespace

void CheckSettingsFile(const Json& file) {
    WantedSettings(file, {});
}

bool SettingsPlan::ChangesFlash() const {
    return std::any_of(changes.begin(), changes.end(),
                       [](const SettingDifference& d) { return d.side == Side::PowerUp; });
}

Json SettingsPlan::ToJson() const {
    Json list = Json::array();
    for (const SettingDifference& change : changes) {
        list.push_back({{"key", change.key},
                        {"copy", SideName(change.side)},
                        {"from", change.from},
                        {"to", change.to}});
    }
    return {{"changes", list}, {"refusals", refusals}, {"notes", notes}};
}

Json SaveSettings(Corvane::BridgeHandle& handle) {
    return On(handle, [](Corvane::VrelUsbI2c& bridge) {
        Json file = {{"format", kSettingsFormat},
                     {"version", kSettingsVersion},
                     {"hardware", HardwareOf(bridge)},
                     {"firmware", bridge.Settings->GetFirmwareVersion().value_or("?")},
                     {"flash-protection",
                      ProtectionName(CheckValue(bridge.Settings->GetFlashProtectionState()))}};
        for (Side side : {Side::PowerUp, Side::Current}) {
            Json values = Json::object();
            for (const Setting& setting : AllSettings()) {
                if (setting.Sets(side)) values[setting.key] = setting.get(bridge, side);
            }
            file[SideName(side)] = values;
        }
        return file;
    });
}

SettingsPlan PlanSettings(Corvane::BridgeHandle& handle, const Json& file,
                          const std::string& serial, bool passwordGiven, bool probeFlash) {
    const std::vector<Wanted> wanted = WantedSettings(file, serial);
    SettingsPlan plan;
    On(handle, [&](Corvane::VrelUsbI2c& bridge) {
        const std::string hardware = HardwareOf(bridge);
        if (file.contains("hardware") && file["hardware"] != hardware) {
            plan.refusals.push_back(fmt::format(
                "the file was saved from a chip of hardware revision {}; this one is {}",
                ShowSetting(file["hardware"]), hardware));
        }
        const std::int32_t protection = CheckValue(bridge.Settings->GetFlashProtectionState());
        if (file.contains("flash-protection") &&
            file["flash-protection"] != ProtectionName(protection)) {
            plan.refusals.push_back(
                fmt::format("the file's flash protection is {}, the bridge's {}: the file holds no "
                            "password, so change the protection with 'corvane password'",
                            ShowSetting(file["flash-protection"]), ProtectionName(protection)));
        }
        for (const Wanted& w : wanted) {
            const Json now = w.setting->get(bridge, w.side);
            if (Same(*w.setting, now, w.text)) continue;
            plan.changes.push_back(
                {w.setting->key, w.side, now, Json(CanonicalValue(*w.setting, w.text))});
            if (w.setting->key == std::string("interrupt-mode") &&
                ParseInterruptMode(w.text) == 0) {
                plan.refusals.push_back(fmt::format(
                    "interrupt-mode none: the chip turns interrupt detection off only with a "
                    "reset (the {} copy is {})",
                    SideName(w.side), ShowSetting(now)));
            }
        }
        if (!plan.ChangesFlash()) return;
        if (protection == kLocked) {
            plan.refusals.push_back(
                "the chip's flash is locked for good: its power-up settings "
                "cannot change");
            return;
        }
        const bool chipRecord =
            std::any_of(plan.changes.begin(), plan.changes.end(), [](const SettingDifference& d) {
                return d.side == Side::PowerUp && FindSetting(d.key).chipRecord;
            });
        if (chipRecord) {
            if (const auto why = ChipRecordRefusal(bridge, passwordGiven)) {
                plan.refusals.push_back(*why);
                return;
            }
        }
        if (protection == kPasswordProtected && probeFlash) {
            // The GP pin record written back as it is (it carries no password):
            // refused unless the password was entered (since the last reset, or just now).
            const PinConfig pins = ReadPins(bridge, Side::PowerUp);
            const std::int32_t status = bridge.Settings->SetGpPinConfiguration(
                Selector(Side::PowerUp), pins.designation, pins.direction, pins.value);
            if (status == kPasswordMissing) {
                plan.refusals.push_back(
                    "the chip's flash is protected by a password; give it with --password-file "
                    "FILE");
            } else if (status != 0) {
                plan.refusals.push_back(fmt::format("the chip refuses flash changes: {}",
                                                    Corvane::DeviceStatusDescription(status)));
            }
        } else if (protection == kPasswordProtected) {
            plan.notes.push_back(
                "the chip's flash is protected by a password: the writes need it "
                "(--password-file) unless it was entered since the bridge's last reset");
        }
    });
    // Written in this order, and read back whole afterwards.
    std::stable_sort(plan.changes.begin(), plan.changes.end(),
                     [](const SettingDifference& a, const SettingDifference& b) {
                         const auto rank = [](const SettingDifference& d) {
                             if (d.side == Side::Current) return 2;
                             return d.key == "vid" || d.key == "pid" ? 1 : 0;
                         };
                         return rank(a) < rank(b);
                     });
    return plan;
}

void CheckApplicable(const SettingsPlan& plan) {
    if (plan.refusals.empty()) return;
    std::string why = plan.refusals.front();
    for (std::size_t i = 1; i < plan.refusals.size(); ++i) why += "; " + plan.refusals[i];
    throw Failure("the settings cannot be loaded completely, nothing was written: " + why,
                  "REFUSED");
}

void ApplySettings(Corvane::BridgeHandle& handle, const SettingsPlan& plan,
                   const std::function<void(const std::string&)>& warn) {
    CheckApplicable(plan);
    On(handle, [&](Corvane::VrelUsbI2c& bridge) {
        bool idWarned = false;
        WithFlashHints([&] {
            for (const SettingDifference& change : plan.changes) {
                const Setting& setting = FindSetting(change.key);
                if (IsId(setting) && !idWarned && warn) {
                    idWarned = true;
                    const auto id = [&](const char* key) {
                        for (const SettingDifference& d : plan.changes) {
                            if (d.key == key) return ParseId(d.to.get<std::string>(), key);
                        }
                        return ParseId(ShowSetting(FindSetting(key).get(bridge, Side::PowerUp)),
                                       key);
                    };
                    warn(NewIdWarning(id("vid"), id("pid")));
                }
                setting.parse(change.to.get<std::string>())(bridge, change.side);
            }
        });
        for (const SettingDifference& change : plan.changes) {
            const Setting& setting = FindSetting(change.key);
            const Json now = setting.get(bridge, change.side);
            if (!Same(setting, now, change.to.get<std::string>())) {
                throw Failure(fmt::format("{} ({} copy) reads back as {} after writing {}",
                                          change.key, SideName(change.side), ShowSetting(now),
                                          change.to.get<std::string>()),
                              "VERIFY_FAILED");
            }
        }
    });
}

Json ParseSettingsFile(const std::vector<std::uint8_t>& bytes, const std::string& name) {
    try {
        return Json::parse(bytes.begin(), bytes.end());
    } catch (const Json::parse_error&) {
        BadFile(fmt::format("{} is not JSON", name));
    }
}

}  // namespace CorvaneTool

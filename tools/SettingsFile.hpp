// SPDX-License-Identifier: MIT
#pragma once

// Settings files: everything a bridge's user can configure, as one JSON
// document with a format version, saved from a bridge and loaded into one
// (`settings save`, `settings load`, `program`). Front ends call these with
// a handle on the bridge and print the results their own way.
//
//   {"format": "corvane-settings", "version": 1, "hardware": "A6",
//    "firmware": "1.2", "flash-protection": "off",
//    "power-up": {"vid": "0x3a7c", ..., "gp1": "adc", ...},
//    "current": {"gp1": "adc", ..., "dac-value": 7}}
//
// Values are written as `settings --json` shows them; `settings set` takes
// each of them back. The password is never part of it.

#include <string>
#include <vector>

#include "Pins.hpp"
#include "Tool.hpp"

namespace CorvaneTool {

// Checks a settings file as PlanSettings does before it reads the bridge: a
// Failure SETTINGS_FILE naming what is wrong.
void CheckSettingsFile(const Json& file);

// The bridge's settings as a settings file.
Json SaveSettings(Corvane::BridgeHandle& bridge);

struct SettingDifference {
    std::string key;
    Side side;
    Json from;  // what the bridge has
    Json to;    // what the file says
};

// What loading a file would change, and why it cannot be loaded completely.
struct SettingsPlan {
    std::vector<SettingDifference> changes;
    // Each a reason; a plan with one is refused before anything is written.
    std::vector<std::string> refusals;
    // Notes for people (a password the writes may need).
    std::vector<std::string> notes;

    bool ChangesFlash() const;
    Json ToJson() const;
};

// Checks the file as a whole (a Failure SETTINGS_FILE naming what is wrong:
// format, version, an unknown setting, a value `settings set` would refuse),
// then compares it with the bridge. `serial`, when not empty, replaces the
// file's serial number. `passwordGiven`: the access password was presented
// in this run (see ChipRecordRefusal). `probeFlash`: with a password-protected
// flash and power-up changes, rewrite the GP pin record unchanged to learn
// whether the chip takes flash writes now.
SettingsPlan PlanSettings(Corvane::BridgeHandle& bridge, const Json& file,
                          const std::string& serial, bool passwordGiven, bool probeFlash = true);

// A Failure REFUSED naming every refusal of the plan; nothing when it has none.
void CheckApplicable(const SettingsPlan& plan);

// Writes the plan's changes (power-up copies first, the USB IDs last of
// them, then the running copies), reads everything back and compares: a
// Failure names the first setting that does not read back as written.
// Refuses a plan with refusals before writing anything. `warn` hears what the
// person must know before a change (new USB IDs).
void ApplySettings(Corvane::BridgeHandle& bridge, const SettingsPlan& plan,
                   const std::function<void(const std::string&)>& warn = {});

// The file's settings document from JSON text; a Failure SETTINGS_FILE for
// text that is not JSON.
Json ParseSettingsFile(const std::vector<std::uint8_t>& bytes, const std::string& name);

}  // namespace CorvaneTool

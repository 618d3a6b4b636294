// SPDX-License-Identifier: MIT
#pragma once

// Every setting of the chip the tool shows and changes, by name: how to read
// each copy the chip has, and how a value typed as text becomes a change.
// `settings`, `settings get/set`, the settings files and `program` share it.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Pins.hpp"
#include "Tool.hpp"

namespace CorvaneTool {

// A parsed value, ready to be written to one copy.
using SettingChange = std::function<void(Corvane::VrelUsbI2c&, Side)>;

// Which copies of a setting the chip has, and which of them can be changed.
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
    std::function<Json(Corvane::VrelUsbI2c&, Side)> get;
    // Parses the value (UsageError) and returns the change; empty: read-only.
    std::function<SettingChange(const std::string&)> parse = {};
    // The words `settings set` takes for it, for the shell's completion.
    std::vector<std::string> words = {};
    // Its power-up copy is in the chip settings record, whose writes carry
    // the access password (see ChipRecordRefusal).
    bool chipRecord = false;

    bool Has(Side side) const {
        return side == Side::Current ? copies != Copies::PowerUp : copies != Copies::Running;
    }
    bool SetsCurrent() const { return copies == Copies::Running || copies == Copies::Both; }
    bool Sets(Side side) const {
        return parse && (side == Side::PowerUp ? Has(side) : SetsCurrent());
    }
};

const std::vector<Setting>& AllSettings();
// The setting called `key`; UsageError naming where the keys are listed.
const Setting& FindSetting(const std::string& key);

// A value as `settings` prints it: on/off, numbers, texts, "-" for none.
// What it prints, `settings set` takes back.
std::string ShowSetting(const Json& value);

// A value of `setting` typed as text in the form `settings` prints it
// ("0X3A7C" and "0x3a7c", "ON" and "on" are the same value). The text must
// be one `setting.parse` takes.
std::string CanonicalValue(const Setting& setting, const std::string& text);

// The copy `side` of `setting`, or null when the chip has none.
Json ReadSetting(const Setting& setting, Corvane::VrelUsbI2c& bridge, Side side);

// A write of the chip settings record carries the access password, and a
// password-protected chip takes the password a write carries as its new one.
// So, on such a chip, these writes wait for the password to be given in
// this run (`passwordGiven`), even when the chip has it entered: why not,
// or nothing when they may go ahead.
std::optional<std::string> ChipRecordRefusal(Corvane::VrelUsbI2c& bridge, bool passwordGiven);

// UsageError when `setting` cannot be set to `value` in `sides`: read-only,
// a copy it does not have, a value it does not take. Sends nothing.
void CheckSettable(const Setting& setting, const std::string& value,
                   const std::vector<Side>& sides);

// `settings set`: sets `setting` to `value` (as text) in `sides`, the
// power-up copy first (ApplySides), after what the flash needs
// (ChipRecordRefusal, a Failure PASSWORD_NEEDED) and, before new USB IDs
// go to the flash, a word to `warn`. Returns {"key", and per copy changed
// "current"/"power-up": the value read back}.
Json SetSetting(Corvane::BridgeHandle& bridge, const Setting& setting, const std::string& value,
                const std::vector<Side>& sides, bool passwordGiven,
                const std::function<void(const std::string&)>& warn);

// Before a new USB ID goes to the flash: what the person must know.
std::string NewIdWarning(std::uint16_t vid, std::uint16_t pid);

}  // namespace CorvaneTool

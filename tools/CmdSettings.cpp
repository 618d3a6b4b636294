// SPDX-License-Identifier: MIT
// settings, settings get/set, settings save/load.

#include <fmt/format.h>
#include <CLI/CLI.hpp>

#include "Completion.hpp"
#include "Numbers.hpp"
#include "Pins.hpp"
#include "SettingsFile.hpp"
#include "SettingsTable.hpp"
#include "Tool.hpp"

namespace CorvaneTool {

namespace {

using Bridge = Corvane::VrelUsbI2c;

void ShowAll(Tool& tool) {
    const Json all = tool.On(Use::Read, [](Bridge& bridge) {
        Json values = Json::object();
        for (const Setting& setting : AllSettings()) {
            values[setting.key] = {{"current", ReadSetting(setting, bridge, Side::Current)},
                                   {"power-up", ReadSetting(setting, bridge, Side::PowerUp)}};
        }
        return values;
    });
    if (tool.WantsJson()) {
        Tool::PrintJson(all);
        return;
    }
    fmt::print("{:<20}{:<26}{}\n", "setting", "current", "power-up");
    for (const Setting& setting : AllSettings()) {
        const auto& values = all[setting.key];
        fmt::print("{:<20}{:<26}{}\n", setting.key, ShowSetting(values["current"]),
                   ShowSetting(values["power-up"]));
    }
}

struct SettingArgs {
    std::string key;
    std::string value;
    SideFlags sides;
};

// `settings get KEY`: the value alone, so scripts can take it as it stands.
void GetOne(Tool& tool, const SettingArgs& args) {
    const Setting& setting = FindSetting(args.key);
    const std::vector<Side> sides =
        args.sides.Sides({setting.Has(Side::Current) ? Side::Current : Side::PowerUp});
    for (Side side : sides) {
        if (!setting.Has(side)) {
            throw UsageError(fmt::format("{} has no {} copy", setting.key,
                                         side == Side::Current ? "running" : "power-up"));
        }
    }
    Json result = {{"key", setting.key}};
    std::string text;
    tool.On(Use::Read, [&](Bridge& bridge) {
        for (Side side : sides) {
            const Json value = setting.get(bridge, side);
            result[SideName(side)] = value;
            text += sides.size() == 1 ? ShowSetting(value)
                                      : fmt::format("{}{}: {}", text.empty() ? "" : "  ",
                                                    SideName(side), ShowSetting(value));
        }
    });
    if (tool.WantsJson()) {
        Tool::PrintJson(result);
    } else {
        fmt::print("{}\n", text);
    }
}

void Warn(const std::string& text) {
    fmt::print(stderr, "corvane: note: {}\n", text);
}

void SetOne(Tool& tool, const SettingArgs& args) {
    const Setting& setting = FindSetting(args.key);
    const std::vector<Side> sides =
        args.sides.Sides({setting.SetsCurrent() ? Side::Current : Side::PowerUp});
    // Checked before the bridge is opened: a wrong command line sends nothing.
    CheckSettable(setting, args.value, sides);
    const Json result = SetSetting(*tool.Handle(Use::Change), setting, args.value, sides,
                                   tool.PasswordGiven(), Warn);
    if (tool.WantsJson()) {
        Tool::PrintJson(result);
        return;
    }
    std::string text = setting.key;
    for (Side side : sides) {
        text += fmt::format("  {}: {}", SideName(side), ShowSetting(result[SideName(side)]));
    }
    fmt::print("{}\n", text);
}

void Save(Tool& tool, const std::string& path) {
    if (path == "-" && tool.WantsJson()) {
        throw UsageError("with --json the result goes to standard output: give a FILE, not -");
    }
    OutputFile output(path, "the settings file");
    const Json file = SaveSettings(*tool.Handle(Use::Read));
    const std::string text = file.dump(2) + "\n";
    output.Commit(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    if (tool.WantsJson()) {
        Tool::PrintJson({{"file", path}, {"settings", file}});
    } else if (!output.IsStandardOutput()) {
        fmt::print("saved the bridge's settings to {}\n", path);
    }
}

struct LoadArgs {
    std::string file;
    bool dryRun = false;
};

std::string ChangeLine(const SettingDifference& change) {
    return fmt::format("{:<20}{:<10}{} -> {}", change.key, SideName(change.side),
                       ShowSetting(change.from), ShowSetting(change.to));
}

void Load(Tool& tool, const LoadArgs& args) {
    const Json file = ParseSettingsFile(ReadFileBytes(args.file, "the settings file"), args.file);
    const auto handle = tool.Handle(args.dryRun ? Use::Read : Use::Change);
    const SettingsPlan plan = PlanSettings(*handle, file, {}, tool.PasswordGiven(), !args.dryRun);
    if (!tool.WantsJson()) {
        for (const SettingDifference& change : plan.changes) fmt::print("{}\n", ChangeLine(change));
        if (plan.changes.empty()) fmt::print("the bridge has the file's settings already\n");
        for (const std::string& note : plan.notes) Warn(note);
    }
    CheckApplicable(plan);
    if (args.dryRun) {
        if (tool.WantsJson()) {
            Json result = plan.ToJson();
            result["written"] = false;
            Tool::PrintJson(result);
        } else {
            fmt::print("dry run: nothing written\n");
        }
        return;
    }
    ApplySettings(*handle, plan, Warn);
    if (tool.WantsJson()) {
        Json result = plan.ToJson();
        result["written"] = true;
        result["verified"] = true;
        Tool::PrintJson(result);
    } else if (!plan.changes.empty()) {
        fmt::print("wrote {} setting{}, read back and verified\n", plan.changes.size(),
                   plan.changes.size() == 1 ? "" : "s");
    }
}

}  // namespace

void AddSettingsCommands(CLI::App& app, Tool& tool, Handlers& handlers) {
    auto* show = app.add_subcommand(
        "settings",
        "Show every setting of the chip, running and at power-up ('-': the chip has "
        "no such copy); 'settings set' changes one, 'settings save' and 'settings load' keep "
        "them in a file");
    handlers[show] = [&tool] { ShowAll(tool); };

    std::string keys;
    std::vector<std::string> names;
    for (const Setting& setting : AllSettings()) {
        names.push_back(setting.key);
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
    set->footer("KEY and VALUE (every value 'settings' prints is taken back):\n" + keys +
                "Numbers: 0x hexadecimal, a leading 0 octal, decimal otherwise. --both writes the "
                "power-up copy first, so a chip that refuses it keeps its running copy too.\n"
                "A password-protected chip needs --password-file for power-up settings.");
    handlers[set] = [&tool, args] { SetOne(tool, *args); };

    auto* get = show->add_subcommand(
        "get", "Show one setting: the running copy where the chip has one, else the power-up copy");
    get->add_option("KEY", args->key, "the setting, as 'corvane settings' lists them")->required();
    args->sides.AddTo(*get);
    handlers[get] = [&tool, args] { GetOne(tool, *args); };

    auto savePath = std::make_shared<std::string>();
    auto* save = show->add_subcommand(
        "save",
        "Save everything configurable to FILE as JSON: power-up and running settings, USB "
        "identity and strings, pins, analog, the flash protection state (never a password)");
    save->add_option("FILE", *savePath, "the settings file; - for standard output")
        ->type_name("FILE")
        ->required();
    handlers[save] = [&tool, savePath] { Save(tool, *savePath); };

    auto loadArgs = std::make_shared<LoadArgs>();
    auto* load = show->add_subcommand(
        "load",
        "Give the bridge the settings of FILE: shows what changes, refuses a file that "
        "cannot be applied completely before writing anything, writes, reads back and verifies");
    load->add_option("FILE", loadArgs->file, "a file of 'settings save'; - for standard input")
        ->type_name("FILE")
        ->required();
    load->add_flag("--dry-run", loadArgs->dryRun, "show the changes and write nothing");
    load->footer(
        "Refused before anything is written: a file of another format version or hardware "
        "revision, another flash protection state, a value the chip cannot take, and power-up "
        "changes to a locked flash or to a password-protected one without the password "
        "(--password-file).");
    handlers[load] = [&tool, loadArgs] { Load(tool, *loadArgs); };

    // The shell's completion offers the setting names after `settings set` and
    // `get`, and after a name the values it takes.
    CompletionWords(set->get_option("KEY"), names);
    CompletionWords(get->get_option("KEY"), names);
    for (const Setting& setting : AllSettings()) {
        if (!setting.words.empty()) CompletionWordsAfter(set, setting.key, setting.words);
    }
}

}  // namespace CorvaneTool

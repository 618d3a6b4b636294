// SPDX-License-Identifier: MIT
// list, version, reset.

#include <fmt/format.h>
#include <CLI/CLI.hpp>

#include <algorithm>
#include <optional>

#include "Bridges.hpp"
#include "Numbers.hpp"
#include "Tool.hpp"

namespace CorvaneTool {

namespace {

void PrintDevices(const Json& devices) {
    for (const auto& entry : devices) {
        fmt::print("{} {}  {}\n", entry["selected"].get<bool>() ? '*' : ' ',
                   entry["index"].get<int>(), entry["path"].get<std::string>());
        if (entry.contains("error")) {
            fmt::print("     {}\n", entry["error"].get<std::string>());
            continue;
        }
        for (const auto& [label, key] : {std::pair{"serial number", "serial"},
                                         {"manufacturer", "manufacturer"},
                                         {"product", "product"},
                                         {"firmware", "firmware"},
                                         {"hardware", "hardware"}}) {
            fmt::print("     {:<14} {}\n", label, entry[key].get<std::string>());
        }
    }
}

// Which of the bridges found the options choose: `list` marks it.
std::optional<std::size_t> Chosen(const Tool& tool, const std::vector<std::string>& paths,
                                  const Json& devices) {
    const GlobalOptions& options = tool.options;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (!options.path.empty() ? paths[i] == options.path
            : !options.serial.empty()
                ? devices[i].value("serial", "") == options.serial
                : i == (options.device.empty() ? 0 : std::stoul(options.device, nullptr, 0))) {
            return i;
        }
    }
    return std::nullopt;
}

void List(Tool& tool) {
    const GlobalOptions& options = tool.options;
    // A choice that finds nothing fails as it would for any command.
    if (!options.device.empty() || !options.serial.empty() || !options.path.empty()) {
        tool.Handle(Use::Read, false);
    }
    std::vector<std::string> problems;
    Json devices = ListBridges(tool, problems);
    std::vector<std::string> paths;
    for (const Json& entry : devices) paths.push_back(entry["path"]);
    const auto chosen = Chosen(tool, paths, devices);
    for (std::size_t index = 0; index < devices.size(); ++index) {
        devices[index]["selected"] = chosen == index;
    }
    const std::vector<std::string> notes = tool.Diagnose();
    if (!problems.empty()) {
        std::string message = problems.front();
        for (std::size_t i = 1; i < problems.size(); ++i) message += "\n  " + problems[i];
        for (const std::string& note : notes) {
            if (std::find(problems.begin(), problems.end(), note) == problems.end()) {
                message += "\n  " + note;
            }
        }
        if (!tool.WantsJson()) PrintDevices(devices);
        throw Failure(message, message.find("ermission denied") != std::string::npos
                                   ? "PERMISSION_DENIED"
                                   : "FAILED");
    }
    if (tool.WantsJson()) {
        Tool::PrintJson({{"devices", devices}});
    } else {
        PrintDevices(devices);
    }
    // Nothing found is an answer too; what may explain it goes to stderr.
    if (paths.empty()) {
        fmt::print(stderr, "corvane: no Corvane bridge found (searched for USB VID {}, PID {})\n",
                   IdText(tool.Vid()), IdText(tool.Pid()));
        if (!tool.Simulated()) {
            fmt::print(stderr,
                       "  other IDs: --vid and --pid; no hardware at hand: --sim runs on a "
                       "virtual chip\n");
        }
    }
    for (const std::string& note : notes) fmt::print(stderr, "corvane: note: {}\n", note);
}

void Version(Tool& tool) {
    Json result = {{"tool", CORVANE_TOOL_VERSION}};
    const bool any = !tool.Discover().empty();
    if (any) {
        tool.On(Use::Read, [&](Corvane::VrelUsbI2c& bridge) {
            result["firmware"] = bridge.Settings->GetFirmwareVersion().value_or("?");
            result["hardware"] = bridge.Settings->GetHardwareVersion().value_or("?");
        });
        result["device"] = tool.Handle(Use::Read)->Index();
    }
    if (tool.WantsJson()) {
        Tool::PrintJson(result);
        return;
    }
    fmt::print("corvane {}\n", CORVANE_TOOL_VERSION);
    if (any) {
        fmt::print("device {}: firmware {}, hardware {}\n", result["device"].get<int>(),
                   result["firmware"].get<std::string>(), result["hardware"].get<std::string>());
    }
}

void Reset(Tool& tool) {
    tool.On(Use::Change,
            [](Corvane::VrelUsbI2c& bridge) { Check(bridge.Functions->ResetDevice()); });
    if (tool.WantsJson()) {
        Tool::PrintJson({{"reset", true}});
    } else {
        fmt::print("reset: the bridge restarts with its power-up settings\n");
    }
}

}  // namespace

void AddDeviceCommands(CLI::App& app, Tool& tool, Handlers& handlers) {
    auto* list = app.add_subcommand(
        "list",
        "List the attached bridges: path, serial number, strings, firmware and hardware "
        "version; * marks the one the options choose. Exits with 1 when one cannot be opened");
    handlers[list] = [&tool] { List(tool); };

    auto* version = app.add_subcommand(
        "version",
        "Show the tool's version and the selected bridge's firmware and hardware version");
    handlers[version] = [&tool] { Version(tool); };

    auto* reset = app.add_subcommand(
        "reset", "Restart the bridge: it reloads its power-up settings and enumerates again");
    handlers[reset] = [&tool] { Reset(tool); };
}

}  // namespace CorvaneTool

// list, version, reset.

#include <fmt/format.h>
#include <CLI/CLI.hpp>

#include "Numbers.hpp"
#include "Tool.hpp"

namespace CorvaneTool {

namespace {

std::string TextOr(const std::optional<std::u16string>& text) {
    return text ? Corvane::Utf16ToUtf8(*text) : std::string("?");
}

Json DescribeSelected(Corvane::VrelUsbI2c& bridge) {
    Json entry;
    entry["path"] = bridge.Management->GetSelectedDevInfo();
    entry["serial"] = TextOr(bridge.Settings->GetSerialNumber());
    entry["manufacturer"] = TextOr(bridge.Settings->GetUsbStringManufacturer());
    entry["product"] = TextOr(bridge.Settings->GetUsbStringDescriptor());
    entry["firmware"] = bridge.Settings->GetFirmwareVersion().value_or("?");
    entry["hardware"] = bridge.Settings->GetHardwareVersion().value_or("?");
    return entry;
}

void List(Tool& tool) {
    Corvane::VrelUsbI2c& bridge = tool.Bridge();
    const std::int32_t selected = bridge.Management->GetSelectedDevNum();
    const std::int32_t count = bridge.Management->GetDevCount();
    Json devices = Json::array();
    for (std::int32_t index = 0; index < count; ++index) {
        Check(bridge.Management->SelectDev(index));
        Json entry = {{"index", index}, {"selected", index == selected}};
        if (bridge.Settings->GetConnectionStatus()) {
            entry.update(DescribeSelected(bridge));
        } else {
            entry["path"] = bridge.Management->GetSelectedDevInfo();
            entry["error"] = "cannot be opened";
        }
        devices.push_back(entry);
    }
    Check(bridge.Management->SelectDev(selected));
    bridge.Settings->GetConnectionStatus();

    if (tool.WantsJson()) {
        Tool::PrintJson({{"devices", devices}});
        return;
    }
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

void Version(Tool& tool) {
    Json result = {{"tool", CORVANE_TOOL_VERSION}};
    Corvane::VrelUsbI2c& bridge = tool.BridgeUnchecked();
    if (bridge.Management->GetDevCount() > 0) {
        Corvane::VrelUsbI2c& selected = tool.Bridge();
        result["firmware"] = selected.Settings->GetFirmwareVersion().value_or("?");
        result["hardware"] = selected.Settings->GetHardwareVersion().value_or("?");
    }
    if (tool.WantsJson()) {
        Tool::PrintJson(result);
        return;
    }
    fmt::print("corvane {}\n", CORVANE_TOOL_VERSION);
    if (result.contains("firmware")) {
        fmt::print("device {}: firmware {}, hardware {}\n",
                   tool.Bridge().Management->GetSelectedDevNum(),
                   result["firmware"].get<std::string>(), result["hardware"].get<std::string>());
    }
}

void Reset(Tool& tool) {
    Check(tool.Bridge().Functions->ResetDevice());
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
        "version; * marks the selected one");
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

// SPDX-License-Identifier: MIT
// The bridge list of Bridges.hpp.
#include "Bridges.hpp"

#include <optional>

namespace CorvaneTool {

namespace {

std::string TextOr(const std::optional<std::u16string>& text) {
    return text ? Corvane::Utf16ToUtf8(*text) : std::string("?");
}

Json DescribeSelected(Corvane::VrelUsbI2c& bridge) {
    Json entry;
    entry["serial"] = TextOr(bridge.Settings->GetSerialNumber());
    entry["manufacturer"] = TextOr(bridge.Settings->GetUsbStringManufacturer());
    entry["product"] = TextOr(bridge.Settings->GetUsbStringDescriptor());
    entry["firmware"] = bridge.Settings->GetFirmwareVersion().value_or("?");
    entry["hardware"] = bridge.Settings->GetHardwareVersion().value_or("?");
    return entry;
}

}  // namespace

Json ListBridges(Tool& tool, std::vector<std::string>& problems) {
    const std::vector<std::string> paths = tool.Discover();
    Json devices = Json::array();
    for (std::size_t index = 0; index < paths.size(); ++index) {
        Json entry = {{"index", index}, {"path", paths[index]}};
        if (const auto handle = tool.OpenPath(paths[index])) {
            entry.update(On(*handle, DescribeSelected));
            entry["path"] = paths[index];
        } else {
            const std::string problem = tool.NodeProblem(paths[index]);
            entry["error"] = problem.empty() ? "cannot be opened" : problem;
            problems.push_back(paths[index] + ": " + entry["error"].get<std::string>());
        }
        devices.push_back(entry);
    }
    return devices;
}

}  // namespace CorvaneTool

// SPDX-License-Identifier: MIT
#pragma once

// The bridges attached, as `list` shows them and the web interface's bridges
// page lists them.

#include <string>
#include <vector>

#include "Tool.hpp"

namespace CorvaneTool {

// Each bridge found: {"index", "path", "serial", "manufacturer", "product",
// "firmware", "hardware"}, or {"index", "path", "error"} for one that cannot
// be opened; the error lines ("PATH: why") also go to `problems`.
Json ListBridges(Tool& tool, std::vector<std::string>& problems);

}  // namespace CorvaneTool

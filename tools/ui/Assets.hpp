// SPDX-License-Identifier: MIT
#pragma once

// The web interface's page: the files under tools/ui/page, built into the
// program (cmake/embed-files.cmake), so that it serves them wherever it runs.

#include <optional>
#include <span>
#include <string_view>

namespace CorvaneTool::Ui {

struct Asset {
    std::string_view contentType;
    std::span<const unsigned char> bytes;
};

// The file at `path` ("/index.html"; "/" is "/index.html"), if the page has it.
std::optional<Asset> FindAsset(std::string_view path);

}  // namespace CorvaneTool::Ui

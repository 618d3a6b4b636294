// SPDX-License-Identifier: MIT
#include "Assets.hpp"

#include <string_view>
#include <utility>
#include <vector>

namespace CorvaneTool::Ui {

// Generated into the build tree from the page's files.
const std::vector<std::pair<std::string_view, std::span<const unsigned char>>>& EmbeddedFiles();

namespace {

std::string_view ContentType(std::string_view path) {
    static constexpr std::pair<std::string_view, std::string_view> kTypes[] = {
        {".html", "text/html; charset=utf-8"},
        {".js", "text/javascript; charset=utf-8"},
        {".css", "text/css; charset=utf-8"},
        {".svg", "image/svg+xml"},
        {".png", "image/png"},
    };
    for (const auto& [suffix, type] : kTypes) {
        if (path.ends_with(suffix)) return type;
    }
    return "text/plain; charset=utf-8";  // the licences and VERSIONS
}

}  // namespace

std::optional<Asset> FindAsset(std::string_view path) {
    if (path == "/") path = "/index.html";
    for (const auto& [name, bytes] : EmbeddedFiles()) {
        if (name == path) return Asset{ContentType(name), bytes};
    }
    return std::nullopt;
}

}  // namespace CorvaneTool::Ui

// SPDX-License-Identifier: MIT
#include "Site.hpp"

#include "Assets.hpp"

namespace CorvaneTool::Ui {

namespace {

// The page runs only its own scripts and talks only to this server; no other
// site may frame it (a click on a framed page would be the user's click).
constexpr const char* kPagePolicy =
    "default-src 'self'; script-src 'self'; style-src 'self'; img-src 'self' data: blob:; "
    "connect-src 'self'; object-src 'none'; base-uri 'none'; form-action 'none'; "
    "frame-ancestors 'none'";

}  // namespace

Route Answer(const Access& access, const Api& api, const HttpRequest& request) {
    if (auto refusal = access.Check(request)) return std::move(*refusal);
    if (request.path.starts_with("/api/")) return api.Dispatch(request);
    if (request.method != "GET") return HttpResponse{405, "text/plain", "GET only\n", {}};
    const auto asset = FindAsset(request.path);
    if (!asset) return HttpResponse{404, "text/plain", "not found\n", {}};
    HttpResponse response{200,
                          std::string(asset->contentType),
                          std::string(asset->bytes.begin(), asset->bytes.end()),
                          {{"Content-Security-Policy", kPagePolicy}, {"X-Frame-Options", "DENY"}}};
    return response;
}

}  // namespace CorvaneTool::Ui

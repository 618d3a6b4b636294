// SPDX-License-Identifier: MIT
#pragma once

// What the web interface's server answers: the access checks first
// (Access.hpp), then the API under /api/ and the page's files for the rest.

#include "Access.hpp"
#include "Api.hpp"
#include "HttpServer.hpp"

namespace CorvaneTool::Ui {

Route Answer(const Access& access, const Api& api, const HttpRequest& request);

}  // namespace CorvaneTool::Ui

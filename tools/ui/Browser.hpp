// SPDX-License-Identifier: MIT
#pragma once

#include <string>

namespace CorvaneTool::Ui {

// Asks the desktop to open `url` in the user's browser, without waiting for
// the browser: false when there is no desktop to ask (no display on Linux)
// or the request could not be made.
bool OpenInBrowser(const std::string& url);

}  // namespace CorvaneTool::Ui

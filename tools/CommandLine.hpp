// SPDX-License-Identifier: MIT
#pragma once

// The command line of the programs beside the tool (corvane-i2cdev,
// corvane-virtual-bridge), read the way the tool reads its own.

#include <optional>

namespace CLI {
class App;
}

namespace CorvaneTool {

// Parses `argv` into `app`: --help and --version print and end with 0; a
// wrong command line prints "NAME: what is wrong" and the help hint and ends
// with 2. Returns the exit status to end with, or nothing to go on.
std::optional<int> ParseCommandLine(CLI::App& app, int argc, char** argv);

}  // namespace CorvaneTool

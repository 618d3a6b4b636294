// SPDX-License-Identifier: MIT
#include "CommandLine.hpp"

#include <CLI/CLI.hpp>

#include <iostream>

namespace CorvaneTool {

std::optional<int> ParseCommandLine(CLI::App& app, int argc, char** argv) {
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::cout << app.help();
        return 0;
    } catch (const CLI::CallForVersion& version) {
        std::cout << version.what() << '\n';
        return 0;
    } catch (const CLI::ParseError& error) {
        // CLI11's own exit codes (105, 109, ...) mean nothing to a shell script.
        std::cerr << app.get_name() << ": " << error.what() << "\n'" << app.get_name()
                  << " --help' says more\n";
        return 2;
    }
    return std::nullopt;
}

}  // namespace CorvaneTool

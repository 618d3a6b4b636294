// corvane: find a Corvane USB bridge, scan and drive its I2C bus, dump and
// program EEPROMs, set its pins and change its power-up settings. With --sim
// it works on a virtual chip instead of hardware.

#include <fmt/format.h>
#include <CLI/CLI.hpp>

#include <iostream>

#include "Tool.hpp"

namespace {

// The subcommand the command line chose, deepest first (e.g. "smbus read").
const CLI::App* Chosen(const CLI::App& app) {
    const CLI::App* chosen = &app;
    while (!chosen->get_subcommands().empty()) chosen = chosen->get_subcommands().front();
    return chosen;
}

// Positionals read "ADDR REQUIRED" in the help rather than "ADDR TEXT REQUIRED".
void PlainPositionals(CLI::App& app) {
    for (CLI::Option* option : app.get_options()) {
        if (option->get_positional()) option->type_name("");
    }
    for (CLI::App* command : app.get_subcommands([](CLI::App*) { return true; })) {
        PlainPositionals(*command);
    }
}

int UsageFailure(const CLI::App& app, const std::string& message) {
    std::cerr << "corvane: " << message << "\n\n" << app.help();
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    using CorvaneTool::Failure;
    using CorvaneTool::UsageError;

    CorvaneTool::Tool tool;
    CorvaneTool::Handlers handlers;

    CLI::App app{
        "Finds Corvane USB I2C/SMBus bridges and drives them: bus transfers, EEPROMs, "
        "pins and the chip's settings.",
        "corvane"};
    app.set_version_flag("--version", std::string("corvane ") + CORVANE_TOOL_VERSION);
    app.require_subcommand(1);
    // Global options may also follow the command.
    app.fallthrough();
    app.footer(
        "Addresses are 7-bit (0x03 to 0x77); numbers are decimal or hexadecimal with 0x.\n"
        "Exit status: 0 done, 1 the device or the bus failed, 2 the command line is wrong.\n"
        "'corvane COMMAND --help' describes a command; 'man corvane' the whole tool.");

    CorvaneTool::GlobalOptions& options = tool.options;
    app.add_option("--vid", options.vid, "USB vendor ID to search for, hexadecimal")
        ->capture_default_str()
        ->group("Device");
    app.add_option("--pid", options.pid, "USB product ID to search for, hexadecimal")
        ->capture_default_str()
        ->group("Device");
    auto* device = app.add_option("--device", options.device,
                                  "use device N of those found (see 'list'), numbered from 0")
                       ->type_name("N")
                       ->group("Device");
    auto* serial =
        app.add_option("--serial", options.serial, "use the device with this USB serial number")
            ->type_name("TEXT")
            ->group("Device");
    device->excludes(serial);
    app.add_option("--speed", options.speed, "I2C bus clock in Hz")
        ->type_name("HZ")
        ->capture_default_str()
        ->group("Device");
    app.add_option("--password-file", options.passwordFile,
                   "present the access password in FILE (its first line) before the command")
        ->type_name("FILE")
        ->group("Device");
    app.add_flag("--json", options.json, "machine-readable output on stdout")->group("Output");
    app.add_flag("--trace", options.trace,
                 "print every report on stderr: '> ' sent, '< ' received, 64 bytes in hex")
        ->group("Output");
    app.add_flag("--sim", options.sim, "use the built-in virtual chip instead of hardware")
        ->group("Virtual chip");
    app.add_option("--sim-state", options.simState,
                   "keep the virtual chip's state in FILE (default: "
                   "$XDG_STATE_HOME/corvane/sim-state.json)")
        ->type_name("FILE")
        ->group("Virtual chip");
    app.add_flag("--sim-reset", options.simReset,
                 "start the virtual chip afresh: factory flash, erased EEPROM")
        ->group("Virtual chip");

    CorvaneTool::AddDeviceCommands(app, tool, handlers);
    CorvaneTool::AddBusCommands(app, tool, handlers);
    CorvaneTool::AddEepromCommands(app, tool, handlers);
    CorvaneTool::AddPinCommands(app, tool, handlers);
    CorvaneTool::AddSettingsCommands(app, tool, handlers);
    CorvaneTool::AddPasswordCommands(app, tool, handlers);

    PlainPositionals(app);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::cout << app.help();
        return 0;
    } catch (const CLI::CallForAllHelp&) {
        std::cout << app.help("", CLI::AppFormatMode::All);
        return 0;
    } catch (const CLI::CallForVersion& version) {
        std::cout << version.what() << '\n';
        return 0;
    } catch (const CLI::ParseError& error) {
        const CLI::App* chosen = Chosen(app);
        const auto unexpected = app.remaining(true);
        if (chosen->get_require_subcommand_min() > 0 && !unexpected.empty()) {
            return UsageFailure(app, fmt::format("unknown command '{}'", unexpected.front()));
        }
        return UsageFailure(app, error.what());
    }

    const auto handler = handlers.find(Chosen(app));
    if (handler == handlers.end()) return UsageFailure(app, "which command?");

    bool started = false;
    try {
        tool.Start();
        started = true;
        handler->second();
        tool.Finish();
        return 0;
    } catch (const UsageError& error) {
        return UsageFailure(app, error.what());
    } catch (const Failure& failure) {
        std::cerr << "corvane: " << failure.what() << '\n';
        if (tool.WantsJson()) {
            CorvaneTool::Json error = {{"message", failure.explanation}};
            if (failure.code) {
                error["code"] = *failure.code;
                error["name"] = Corvane::ResultCodeName(*failure.code);
            }
            CorvaneTool::Tool::PrintJson({{"error", error}});
        }
    } catch (const std::exception& error) {
        std::cerr << "corvane: error: " << error.what() << '\n';
    }
    // What the command changed on the virtual chip before it failed stays, as on hardware.
    if (started) {
        try {
            tool.Finish();
        } catch (const Failure& failure) {
            std::cerr << "corvane: " << failure.what() << '\n';
        }
    }
    return 1;
}

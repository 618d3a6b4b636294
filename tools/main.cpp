// SPDX-License-Identifier: MIT
// corvane: find a Corvane USB bridge, scan and drive its I2C bus, dump and
// program EEPROMs, set its pins and change its power-up settings. With --sim
// it works on a virtual chip instead of hardware.

#include <fmt/format.h>
#include <CLI/CLI.hpp>

#include <iostream>
#include <string_view>

#include "Completion.hpp"
#include "Terminal.hpp"
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

// "corvane smbus read [--pec] ADDR REG N": the command's own options and
// positionals; the global options are left to 'corvane --help'.
std::string UsageLine(const CLI::App& command) {
    std::string names;
    for (const CLI::App* app = &command; app; app = app->get_parent()) {
        names = app->get_name() + (names.empty() ? "" : " " + names);
    }
    if (command.get_parent() == nullptr) return names + " [OPTIONS] COMMAND ...";
    std::string options;
    std::string positionals;
    for (const CLI::Option* option : command.get_options()) {
        if (option->get_positional()) {
            std::string name = option->get_name();
            if (option->get_items_expected_max() > 1) name += "...";
            positionals += " " + (option->get_required() ? name : "[" + name + "]");
        } else if (option->get_name() != "--help") {
            const std::string flag = option->get_lnames().empty()
                                         ? "-" + option->get_snames().front()
                                         : "--" + option->get_lnames().front();
            const std::string value =
                option->get_type_name().empty() ? "" : " " + option->get_type_name();
            options += " [" + flag + value + "]";
        }
    }
    if (!command.get_subcommands({}).empty()) positionals += " COMMAND ...";
    return names + options + positionals;
}

std::string HelpCommand(const CLI::App& command) {
    std::string names;
    for (const CLI::App* app = &command; app; app = app->get_parent()) {
        names = app->get_name() + " " + names;
    }
    return names + "--help";
}

// One JSON document with --json, the message on stderr always.
void ReportError(bool json, std::int32_t code, const std::string& name, const std::string& line,
                 const std::string& message) {
    std::cerr << "corvane: " << line << '\n';
    if (json) {
        std::cout << CorvaneTool::Json{{"code", code}, {"name", name}, {"message", message}}.dump(2)
                  << '\n';
    }
}

// The exit status of a command stopped by Ctrl-C, as a shell gives it.
constexpr int kInterrupted = 130;

// What the command changed on the virtual chip before it failed stays, as on hardware.
void FinishAfterFailure(CorvaneTool::Tool& tool, bool started) {
    if (!started) return;
    try {
        tool.Finish();
    } catch (const CorvaneTool::Failure& failure) {
        std::cerr << "corvane: " << failure.what() << '\n';
    }
}

int UsageFailure(const CLI::App& command, bool json, const std::string& message) {
    ReportError(json, 2, "USAGE", message, message);
    std::cerr << "Usage: " << UsageLine(command) << "\n"
              << "'" << HelpCommand(command) << "' says more\n";
    return 2;
}

// CLI11's messages in the tool's own words.
std::string ParseMessage(const CLI::ParseError& error, const CLI::App& app) {
    const std::string what = error.what();
    if (dynamic_cast<const CLI::ExtrasError*>(&error)) {
        const auto extras = app.remaining(true);
        return extras.empty() ? "too many arguments"
                              : fmt::format("unexpected argument '{}'", extras.front());
    }
    if (dynamic_cast<const CLI::RequiredError*>(&error)) {
        const std::string suffix = " is required";
        if (what.ends_with(suffix)) return "missing " + what.substr(0, what.size() - suffix.size());
        return "missing argument: " + what;
    }
    if (dynamic_cast<const CLI::ArgumentMismatch*>(&error))
        return "wrong number of values: " + what;
    return what;
}

}  // namespace

int main(int argc, char** argv) {
    using CorvaneTool::Failure;
    using CorvaneTool::UsageError;

    CorvaneTool::PrepareConsole();
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
        "Addresses are 7-bit (0x03 to 0x77). Numbers read as in i2c-tools: 0x hexadecimal, a\n"
        "leading 0 octal (010 is 8), decimal otherwise; sizes take K and M (32K), speeds k and\n"
        "M (400k, 1M).\n"
        "Exit status: 0 done, 1 the device or the bus failed, 2 the command line is wrong,\n"
        "130 stopped by Ctrl-C (between pages; the message says how far it got).\n"
        "With several bridges attached, commands that change something need --serial,\n"
        "--device or --path; reading ones use the first and say so on stderr.\n"
        "With --json every outcome is one JSON document on stdout; a failure's has code, name\n"
        "and message (code: the library's result code, or the exit status for USAGE,\n"
        "INTERRUPTED and what the tool finds itself: FAILED, FILE_ERROR, ...).\n"
        "'corvane COMMAND --help' describes a command; 'man corvane' the whole tool.");

    CorvaneTool::GlobalOptions& options = tool.options;
    app.add_option("--vid", options.vid, "USB vendor ID to search for (0x for hexadecimal)")
        ->type_name("ID")
        ->capture_default_str()
        ->group("Device");
    app.add_option("--pid", options.pid, "USB product ID to search for (0x for hexadecimal)")
        ->type_name("ID")
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
    auto* path = app.add_option("--path", options.path, "use the device at this path (see 'list')")
                     ->type_name("PATH")
                     ->group("Device");
    device->excludes(serial)->excludes(path);
    serial->excludes(path);
    app.add_option("--speed", options.speed, "I2C bus clock in Hz: 100000, 400k, 1M")
        ->type_name("HZ")
        ->capture_default_str()
        ->group("Device");
    auto* pacing =
        app.add_option("--pacing", options.pacing,
                       "bus-time: wait only for the bytes' wire time between reports (faster long "
                       "transfers); fixed: the device's fixed pauses")
            ->check(CLI::IsMember({"fixed", "bus-time"}))
            ->capture_default_str()
            ->group("Device");
    CorvaneTool::CompletionWords(pacing, {"fixed", "bus-time"});
    app.add_option("--busy-timeout", options.busyTimeout,
                   "wait at most MS while another program uses the bridge, then fail with "
                   "BRIDGE_BUSY")
        ->type_name("MS")
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
#if defined(_WIN32)
                   "%LOCALAPPDATA%\\corvane\\sim-state.json)")
#else
                   "$XDG_STATE_HOME/corvane/sim-state.json)")
#endif
        ->type_name("FILE")
        ->group("Virtual chip");
    app.add_flag("--sim-reset", options.simReset,
                 "start the virtual chip afresh: factory flash, erased EEPROM")
        ->group("Virtual chip");
    app.add_option("--sim-bridges", options.simBridges,
                   "N virtual bridges, the further ones kept in FILE.2, FILE.3, ...")
        ->type_name("N")
        ->capture_default_str()
        ->group("Virtual chip");

    CorvaneTool::AddDeviceCommands(app, tool, handlers);
    CorvaneTool::AddBusCommands(app, tool, handlers);
    CorvaneTool::AddRegisterCommands(app, tool, handlers);
    CorvaneTool::AddTransferCommand(app, tool, handlers);
    CorvaneTool::AddEepromCommands(app, tool, handlers);
    CorvaneTool::AddPinCommands(app, tool, handlers);
    CorvaneTool::AddSettingsCommands(app, tool, handlers);
    CorvaneTool::AddPasswordCommands(app, tool, handlers);
    CorvaneTool::AddProgramCommand(app, tool, handlers);
    CorvaneTool::AddUiCommand(app, tool, handlers);

    std::string shell;
    auto* completion = app.add_subcommand(
        "completion",
        "Print a completion script for bash, zsh or fish (the build installs them): "
        "commands, options, their values, file names");
    auto* shellOption = completion->add_option("SHELL", shell, "bash, zsh or fish")
                            ->required()
                            ->check(CLI::IsMember({"bash", "zsh", "fish"}));
    CorvaneTool::CompletionWords(shellOption, {"bash", "zsh", "fish"});

    PlainPositionals(app);

    // With --json, usage errors too are reported as JSON; the flag may come anywhere.
    bool json = false;
    for (int i = 1; i < argc; ++i) json = json || std::string_view(argv[i]) == "--json";

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
            const std::string nearest = CorvaneTool::NearestCommand(*chosen, unexpected.front());
            return UsageFailure(
                *chosen, json,
                fmt::format("unknown command '{}'{}", unexpected.front(),
                            nearest.empty() ? "" : fmt::format("; did you mean '{}'?", nearest)));
        }
        if (chosen->get_require_subcommand_min() > 0) {
            return UsageFailure(*chosen, json, "which command?");
        }
        return UsageFailure(*chosen, json, ParseMessage(error, app));
    }

    const CLI::App* chosen = Chosen(app);
    if (chosen == completion) {
        std::cout << CorvaneTool::CompletionScript(app, shell);
        return 0;
    }
    const auto handler = handlers.find(chosen);
    if (handler == handlers.end()) return UsageFailure(*chosen, json, "which command?");

    bool started = false;
    // Long commands stop between pages on Ctrl-C and say how far they got.
    CorvaneTool::CatchInterrupt();
    try {
        tool.Start();
        started = true;
        handler->second();
        started = false;
        tool.Finish();
        if (const auto document = CorvaneTool::Tool::TakeJson()) {
            std::cout << document->dump(2) << '\n';
        }
        return 0;
    } catch (const UsageError& error) {
        return UsageFailure(*chosen, json, error.what());
    } catch (const CorvaneTool::Interrupted& stop) {
        CorvaneTool::Tool::TakeJson();
        ReportError(json, kInterrupted, stop.name, stop.what(), stop.explanation);
        FinishAfterFailure(tool, started);
        return kInterrupted;
    } catch (const Failure& failure) {
        CorvaneTool::Tool::TakeJson();
        const std::int32_t code = failure.code.value_or(1);
        const std::string name =
            failure.code ? Corvane::ResultCodeName(*failure.code) : failure.name;
        ReportError(json, code, name, failure.what(), failure.explanation);
    } catch (const std::exception& error) {
        CorvaneTool::Tool::TakeJson();
        ReportError(json, 1, "FAILED", std::string("error: ") + error.what(), error.what());
    }
    FinishAfterFailure(tool, started);
    return 1;
}

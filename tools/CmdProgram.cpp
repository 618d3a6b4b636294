// SPDX-License-Identifier: MIT
// program: a station that programs bridges one after another.

#include <fmt/format.h>
#include <CLI/CLI.hpp>

#include "Completion.hpp"
#include "Numbers.hpp"
#include "SettingsFile.hpp"
#include "SettingsTable.hpp"
#include "Station.hpp"
#include "Terminal.hpp"
#include "Tool.hpp"

namespace CorvaneTool {

namespace {

struct ProgramArgs {
    std::string settings;
    std::string pattern;
    std::string start = "1";
    std::string eeprom;
    std::string eepromAddress = "0x50";
    std::string eepromSize = "32K";
    std::string page = "64";
    std::string log = "corvane-program.log";
    std::string count;
};

void Program(Tool& tool, const ProgramArgs& args) {
    if (!tool.options.device.empty() || !tool.options.serial.empty() ||
        !tool.options.path.empty()) {
        throw UsageError(
            "program takes every bridge that comes: --device, --serial and --path "
            "do not go with it");
    }
    ProgramJob job;
    job.speed = tool.Speed();
    job.start = ParseNumber(args.start, "--start", 0, 0xFFFFFFFF);
    if (!args.pattern.empty()) {
        job.serials.emplace(args.pattern);
        // The first serial number as `settings set serial` checks it.
        FindSetting("serial").parse(job.serials->Format(job.start));
    }
    job.settings =
        ParseSettingsFile(ReadFileBytes(args.settings, "the settings file"), args.settings);
    // Without a pattern each bridge keeps its own serial number.
    if (!job.serials && job.settings.is_object() && job.settings.contains("power-up") &&
        job.settings["power-up"].is_object()) {
        job.settings["power-up"].erase("serial");
    }
    CheckSettingsFile(job.settings);
    if (!args.eeprom.empty()) {
        job.eeprom.emplace(ParseAddress(args.eepromAddress),
                           ParseSize(args.eepromSize, "--eeprom-size", 1, Eeprom::kLargest),
                           ParseSize(args.page, "--page", 1, Eeprom::kLargestPage));
        job.image = ReadFileBytes(args.eeprom, "the EEPROM image");
        if (job.image.empty() || job.image.size() > job.eeprom->Size()) {
            throw UsageError(
                fmt::format("{} has {} bytes; the EEPROM (--eeprom-size) holds 1 to {}",
                            args.eeprom, job.image.size(), job.eeprom->Size()));
        }
    }
    const std::optional<std::size_t> count =
        args.count.empty()
            ? std::nullopt
            : std::optional<std::size_t>(ParseNumber(args.count, "--count", 1, 1'000'000));
    ProgramLog log(args.log);
    if (tool.PasswordGiven()) job.password = tool.ReadPassword("");

    StationPort port;
    port.discover = [&] { return tool.Discover(); };
    port.open = [&](const std::string& path) { return tool.OpenPath(path); };
    // On the platform's clock: the virtual chip's when it is simulated.
    port.sleep = [](std::uint32_t ms) { Corvane::GetPlatform()->SleepMs(ms); };
    const bool text = !tool.WantsJson();
    port.event = [text](const Json& event) {
        const std::string kind = event["event"];
        if (kind == "note") {
            fmt::print(stderr, "corvane: note: {}\n", event["text"].get<std::string>());
        } else if (!text) {
            return;
        } else if (kind == "waiting") {
            fmt::print("waiting for a bridge to program (Ctrl-C ends)\n");
        } else if (kind == "skipped") {
            fmt::print("{}  {}: in the log as programmed, left alone\n",
                       event["path"].get<std::string>(), event["serial"].get<std::string>());
        } else if (kind == "programmed") {
            const std::size_t changed = event["settings-changed"];
            fmt::print("{}  {}: {} setting{} written{}, verified, reset\n",
                       event["serial"].get<std::string>(), event["path"].get<std::string>(),
                       changed, changed == 1 ? "" : "s",
                       event["eeprom"].is_null()
                           ? ""
                           : fmt::format(", EEPROM {} bytes", event["eeprom"].get<std::size_t>()));
        }
        std::fflush(stdout);
    };
    const Json result = RunStation(job, log, count, port, Tool::TerminalWork());
    if (tool.WantsJson()) {
        Tool::PrintJson(result);
        return;
    }
    const std::size_t done = result["programmed"].size();
    fmt::print("programmed {} bridge{} (log: {})\n", done, done == 1 ? "" : "s", log.Path());
}

}  // namespace

void AddProgramCommand(CLI::App& app, Tool& tool, Handlers& handlers) {
    auto args = std::make_shared<ProgramArgs>();
    auto* program = app.add_subcommand(
        "program",
        "Program bridges one after another as they are plugged in: the settings of a "
        "'settings save' file, a serial number from --serial-pattern, optionally an EEPROM "
        "image; read back and compare, reset, and log each");
    auto* settings =
        program->add_option("SETTINGS", args->settings, "a file of 'corvane settings save'")
            ->required();
    CompletionFiles(settings);
    program
        ->add_option("--serial-pattern", args->pattern,
                     "serial numbers to give, the number in {} or {:06d} (e.g. CVS{:06d}); "
                     "without it each bridge keeps its own")
        ->type_name("PATTERN");
    program
        ->add_option("--start", args->start,
                     "the first number, unless the log holds higher ones (then one past the "
                     "highest)")
        ->type_name("N")
        ->capture_default_str();
    program
        ->add_option("--eeprom", args->eeprom, "write this image to the EEPROM from 0 and verify")
        ->type_name("IMAGE");
    program->add_option("--eeprom-address", args->eepromAddress, "7-bit address of the EEPROM")
        ->type_name("ADDR")
        ->capture_default_str();
    program->add_option("--eeprom-size", args->eepromSize, "EEPROM size in bytes")
        ->type_name("SIZE")
        ->capture_default_str();
    program->add_option("--page", args->page, "page size of the EEPROM in bytes")
        ->type_name("BYTES")
        ->capture_default_str();
    program
        ->add_option("--log", args->log,
                     "append a line per bridge to FILE: serial number, time (UTC), result")
        ->type_name("FILE")
        ->capture_default_str();
    program->add_option("--count", args->count, "stop after N bridges (default: at Ctrl-C)")
        ->type_name("N");
    program->footer(
        "Every bridge that appears is programmed, unless the log records its serial number as "
        "done: a station that stopped goes on where it was, with the next number. A bridge "
        "that cannot take the settings completely (protection, another hardware revision) is "
        "refused before anything is written; any failure stops the station with the bridge "
        "named and logged. A password-protected bridge needs --password-file.");
    handlers[program] = [&tool, args] { Program(tool, *args); };
}

}  // namespace CorvaneTool

// SPDX-License-Identifier: MIT
#pragma once

// What every command of the corvane tool shares: the global options, the
// connection to the bridge (hardware or the virtual chip), output and errors.

#include <corvane/corvane.hpp>

#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstdio>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace CLI {
class App;
class Option;
}  // namespace CLI

namespace Corvane::Sim {
class VirtualDevice;
}  // namespace Corvane::Sim

namespace CorvaneTool {

// JSON output keeps the order in which the tool builds it.
using Json = nlohmann::ordered_json;

class SimBench;

// A failure that ends the run with exit code 1. With a library result code
// the message reads "error <code> <NAME>: <explanation>".
class Failure : public std::runtime_error {
  public:
    Failure(std::int32_t code, const std::string& explanation);
    // A failure the tool found itself; `name` says which kind for scripts.
    explicit Failure(const std::string& message, std::string name = "FAILED");

    std::optional<std::int32_t> code;
    std::string name;
    std::string explanation;
};

// A long command stopped between two steps because it was asked to (Ctrl-C):
// exit code 130, the message says how far it got.
class Interrupted : public Failure {
  public:
    explicit Interrupted(const std::string& message) : Failure(message, "INTERRUPTED") {}
};

// How a long operation reports its progress and learns that it is to stop.
// The tool draws a progress bar and stops on Ctrl-C; another front end
// passes its own. Both may be empty.
struct Work {
    std::function<void(std::string_view stage, std::size_t done, std::size_t total)> progress;
    std::function<bool()> stop;

    void Report(std::string_view stage, std::size_t done, std::size_t total) const {
        if (progress) progress(stage, done, total);
    }
    // Throws Interrupted with what `where` says when a stop was asked for.
    template <typename Where>
    void StopPoint(Where&& where) const {
        if (stop && stop()) throw Interrupted(where());
    }
};

// The whole of a file ("-": standard input), or a Failure (FILE_ERROR) that
// says why it cannot be read: "cannot read the password file pw: Permission denied".
std::vector<std::uint8_t> ReadFileBytes(const std::string& path, std::string_view what);
// A Failure (FILE_ERROR): "cannot <verb> <what> <path>: <the system's reason>".
[[noreturn]] void FailFile(std::string_view verb, std::string_view what, const std::string& path,
                           int error);

// A file a command writes its result to, opened before the work starts, so
// that a name that cannot be written fails before anything is read from the
// bridge. "-" is standard output. An existing file keeps its content until
// Commit(); one this object created is removed again when nothing was committed.
class OutputFile {
  public:
    OutputFile(std::string path, std::string_view what);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    bool IsStandardOutput() const { return path_ == "-"; }
    const std::string& Path() const { return path_; }
    // Replaces the content with `bytes`; a Failure (FILE_ERROR) when it cannot.
    void Commit(std::span<const std::uint8_t> bytes);

  private:
    std::string path_;
    std::string what_;
    std::FILE* file_ = nullptr;
    bool created_ = false;
    bool committed_ = false;
};

// A command line asking for something that cannot be done: exit code 2 with
// the command's usage. Nothing has been sent to the device.
class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Throws Failure unless `result` is 0. `explanation` replaces the library's
// description of the code where the caller knows better.
void Check(std::int32_t result, const std::string& explanation = {});
// For operations that return a value: throws Failure for a negative result.
std::int32_t CheckValue(std::int32_t result, const std::string& explanation = {});

// Runs `change`; a refusal of a flash write by the chip (status 2 to 4)
// becomes a failure that says what to do about it.
void WithFlashHints(const std::function<void()>& change);

// Runs `work` on the handle's bridge (the library's lock held, the selection
// on it) and returns what it returns; its exceptions pass through. A Failure
// BRIDGE_UNPLUGGED when the bridge is not attached.
template <typename Task>
auto On(Corvane::BridgeHandle& handle, Task&& work)
    -> std::invoke_result_t<Task&, Corvane::VrelUsbI2c&> {
    using Result = std::invoke_result_t<Task&, Corvane::VrelUsbI2c&>;
    std::exception_ptr error;
    std::conditional_t<std::is_void_v<Result>, bool, std::optional<Result>> result{};
    // Exceptions are not let through the library's call.
    const std::int32_t code = handle.Run([&](Corvane::VrelUsbI2c& bridge) -> std::int32_t {
        try {
            if constexpr (std::is_void_v<Result>) {
                work(bridge);
            } else {
                result.emplace(work(bridge));
            }
        } catch (...) {
            error = std::current_exception();
        }
        return 0;
    });
    if (error) std::rethrow_exception(error);
    if (code == Corvane::BRIDGE_UNPLUGGED) {
        throw Failure(code, "the bridge " + handle.Path() + " is no longer attached");
    }
    if constexpr (!std::is_void_v<Result>) return std::move(*result);
}

// What a command does on the bridge: one that changes something refuses to
// guess which of several bridges is meant.
enum class Use { Read, Change };

struct GlobalOptions {
    std::string vid = "0x3a7c";
    std::string pid = "0x01d5";
    std::string device;  // empty: not given
    std::string serial;  // empty: not given
    std::string path;    // empty: not given
    std::string speed = "100000";
    std::string pacing = "fixed";  // or "bus-time" (corvane/Pacing.hpp)
    // ms (corvane/BusyTimeout.hpp)
    std::string busyTimeout = std::to_string(Corvane::kDefaultBusyTimeoutMs);
    bool json = false;
    bool trace = false;
    bool sim = false;
    std::string simState;
    bool simReset = false;
    std::string simBridges = "1";
    std::string passwordFile;
};

class Tool {
  public:
    Tool();
    ~Tool();

    GlobalOptions options;

    // Checks the global options: UsageError for one that cannot be.
    void CheckOptions();
    // Checks the global options and sets up the platform: the operating
    // system's, or the virtual chip with --sim, traced with --trace.
    void Start();
    // Keeps the virtual chip's state for the next run.
    void Finish();

    std::uint16_t Vid() const { return vid_; }
    std::uint16_t Pid() const { return pid_; }
    std::uint32_t Speed() const { return speed_; }
    bool WantsJson() const { return options.json; }
    bool Simulated() const { return !sims_.empty(); }
    // With --sim: the virtual chip plugged in as bridge `index` (in the order
    // discovery finds them); null for none.
    std::shared_ptr<Corvane::Sim::VirtualDevice> SimChip(std::size_t index) const;
    // Whether --password-file gives the access password for this run.
    bool PasswordGiven() const { return !options.passwordFile.empty(); }

    // The bridge the options choose (--device, --serial, --path), opened once;
    // a Failure that says what was searched for and why nothing answered when
    // there is none. With several bridges and no choice a command that
    // changes something is refused, and a reading one says on stderr which
    // one it reads. With --password-file the password is presented first.
    std::shared_ptr<Corvane::BridgeHandle> Handle(Use use, bool enterPassword = true);
    // Runs `work` on that bridge (see On()).
    template <typename Task>
    auto On(Use use, Task&& work) {
        return CorvaneTool::On(*Handle(use), std::forward<Task>(work));
    }

    // The paths of the bridges attached now (a discovery pass).
    std::vector<std::string> Discover();
    // A handle on the bridge at `path`; null when it cannot be opened.
    std::shared_ptr<Corvane::BridgeHandle> OpenPath(const std::string& path);
    // Why the bridge at `path` cannot be opened ("permission denied"), as the
    // system says; empty when it opens or the system has no device nodes.
    std::string NodeProblem(const std::string& path) const;
    // Lines for people about device nodes this process may not open (with
    // what to do) and HID devices with our serial numbers under other IDs.
    std::vector<std::string> Diagnose() const;
    // Fails with the no-device explanation.
    [[noreturn]] void FailNoDevice();

    // The password in --password-file, or asked for on the terminal without echo.
    std::string ReadPassword(const std::string& prompt) const;

    // Work that draws a progress bar on a terminal's stderr and stops on Ctrl-C.
    static Work TerminalWork();

    // The JSON document of the command; printed by main once the run is
    // over, so a run ends with exactly one document, the result or the error.
    static void PrintJson(const Json& document);
    static std::optional<Json> TakeJson();

  private:
    std::shared_ptr<Corvane::BridgeHandle> Open(Use use);
    // "bridge 0 of 2: /dev/hidraw0 (CVS000001)" and the list of all for a refusal.
    std::string SerialOf(const std::string& path);
    [[noreturn]] void FailNoSerial(const std::vector<std::string>& paths);

    std::uint16_t vid_ = 0x3A7C;
    std::uint16_t pid_ = 0x01D5;
    std::uint32_t speed_ = 100000;
    std::optional<std::int32_t> device_;
    std::vector<std::unique_ptr<SimBench>> sims_;
    // Keeps the library object the handles share for the whole run.
    std::shared_ptr<Corvane::BridgeHandle> discovery_;
    std::shared_ptr<Corvane::BridgeHandle> handle_;
    bool passwordEntered_ = false;
};

// The password rule as the chip counts: 8 bytes. UsageError otherwise,
// naming bytes and characters where they differ.
void CheckPassword(const std::string& password);

// A password of the chip (8 bytes) from `file`, or asked for on the
// terminal without echo when `file` is empty. UsageError when the file cannot
// be read, there is no terminal, or the password is not 8 bytes long.
std::string ReadPasswordFrom(const std::string& file, const std::string& prompt);

// "> " for a sent report, "< " for a received one, then its 64 bytes in hex;
// "xx" for each byte that carried a password.
std::string TraceLine(const Corvane::TracedReport& report);
void PrintTraceLine(const Corvane::TracedReport& report);

// The commands register themselves here: each adds its subcommands to the
// application and a handler per subcommand.
using Handlers = std::map<const CLI::App*, std::function<void()>>;

void AddDeviceCommands(CLI::App& app, Tool& tool, Handlers& handlers);
void AddBusCommands(CLI::App& app, Tool& tool, Handlers& handlers);
void AddRegisterCommands(CLI::App& app, Tool& tool, Handlers& handlers);
void AddTransferCommand(CLI::App& app, Tool& tool, Handlers& handlers);
void AddEepromCommands(CLI::App& app, Tool& tool, Handlers& handlers);
void AddPinCommands(CLI::App& app, Tool& tool, Handlers& handlers);
void AddSettingsCommands(CLI::App& app, Tool& tool, Handlers& handlers);
void AddPasswordCommands(CLI::App& app, Tool& tool, Handlers& handlers);
void AddProgramCommand(CLI::App& app, Tool& tool, Handlers& handlers);
void AddUiCommand(CLI::App& app, Tool& tool, Handlers& handlers);

}  // namespace CorvaneTool

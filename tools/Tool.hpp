#pragma once

// What every command of the corvane tool shares: the global options, the
// connection to the bridge (hardware or the virtual chip), output and errors.

#include <corvane/corvane.hpp>

#include <nlohmann/json.hpp>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace CLI {
class App;
}

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

// The whole of a file, or a Failure (FILE_ERROR) that says why it cannot be
// read: "cannot read the password file pw: Permission denied".
std::vector<std::uint8_t> ReadFileBytes(const std::string& path, std::string_view what);
// Replaces a file's content; a Failure (FILE_ERROR) that says why when it cannot.
void WriteFileBytes(const std::string& path, std::span<const std::uint8_t> bytes,
                    std::string_view what);

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

struct GlobalOptions {
    std::string vid = "3a7c";
    std::string pid = "01d5";
    std::string device;  // empty: not given
    std::string serial;  // empty: not given
    std::string speed = "100000";
    std::string pacing = "fixed";  // or "bus-time" (corvane/Pacing.hpp)
    // ms (corvane/BusyTimeout.hpp)
    std::string busyTimeout = std::to_string(Corvane::kDefaultBusyTimeoutMs);
    bool json = false;
    bool trace = false;
    bool sim = false;
    std::string simState;
    bool simReset = false;
    std::string passwordFile;
};

class Tool {
  public:
    Tool();
    ~Tool();

    GlobalOptions options;

    // Checks the global options (UsageError) and sets up the platform: the
    // operating system's, or the virtual chip with --sim, traced with --trace.
    void Start();
    // Keeps the virtual chip's state for the next run.
    void Finish();

    std::uint16_t Vid() const { return vid_; }
    std::uint16_t Pid() const { return pid_; }
    std::uint32_t Speed() const { return speed_; }
    bool WantsJson() const { return options.json; }

    // The bridge, connected to the device the options select; throws Failure
    // (with what was searched for and why nothing may have been found) when
    // there is none. With --password-file the access password is presented first.
    Corvane::VrelUsbI2c& Bridge(bool enterPassword = true);
    // The bridge after a discovery pass, connected or not (list, version).
    Corvane::VrelUsbI2c& BridgeUnchecked();
    // Fails with the no-device explanation.
    [[noreturn]] void FailNoDevice();

    // The password in --password-file, or asked for on the terminal without echo.
    std::string ReadPassword(const std::string& prompt) const;

    // The JSON document of the command; printed by main once the run is
    // over, so a run ends with exactly one document, the result or the error.
    static void PrintJson(const Json& document);
    static std::optional<Json> TakeJson();

  private:
    void SelectDevice();

    std::uint16_t vid_ = 0x3A7C;
    std::uint16_t pid_ = 0x01D5;
    std::uint32_t speed_ = 100000;
    std::optional<std::int32_t> device_;
    std::unique_ptr<SimBench> sim_;
    std::unique_ptr<Corvane::VrelUsbI2c> bridge_;
    bool selected_ = false;
    bool passwordEntered_ = false;
};

// A password of the chip (8 characters) from `file`, or asked for on the
// terminal without echo when `file` is empty. UsageError when the file cannot
// be read, there is no terminal, or the password is not 8 characters long.
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

}  // namespace CorvaneTool

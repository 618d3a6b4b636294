#include "Tool.hpp"

#include <fmt/format.h>
#include <corvane/Diagnostics.hpp>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <utility>

#include "Numbers.hpp"
#include "SimBench.hpp"
#include "Terminal.hpp"

namespace CorvaneTool {

namespace {

constexpr std::uint32_t kSlowestSpeed = 46'333;  // the speed divider fits in 8 bits from here
constexpr std::uint32_t kFastestSpeed = 4'000'000;
constexpr std::size_t kPasswordLength = 8;
constexpr std::uint32_t kMostDevices = 64;  // the library keeps a table of 64

// Lines about the device nodes the system has for these IDs.
std::vector<std::string> NodeDiagnostics(std::uint16_t vid, std::uint16_t pid) {
    std::vector<std::string> lines;
    for (const Corvane::DeviceNodeStatus& node : Corvane::ProbeDeviceNodes(vid, pid)) {
        if (node.opens) {
            lines.push_back(
                fmt::format("{} has these IDs and opens, but did not answer", node.path));
        } else {
            lines.push_back(fmt::format("{} has these IDs but cannot be opened: {}", node.path,
                                        node.errorText));
        }
    }
    return lines;
}

// The path of the device the tool talks to, for messages; empty before one is selected.
std::string& SelectedPath() {
    static std::string path;
    return path;
}

// "/dev/hidraw0 is busy: held by corvane-i2cdev (pid 1234) for more than ...".
std::string BusyExplanation() {
    const std::string holder = Corvane::LastBusyHolder();
    return fmt::format("{} is busy: held by {} for more than {} ms (--busy-timeout)",
                       SelectedPath().empty() ? "the bridge" : SelectedPath(),
                       holder.empty() ? "another program" : holder, Corvane::GetBusyTimeout());
}

std::string Explanation(std::int32_t code, const std::string& why) {
    if (!why.empty()) return why;
    if (code == Corvane::BRIDGE_BUSY) return BusyExplanation();
    return Corvane::ResultCodeDescription(code);
}

}  // namespace

std::string TraceLine(const Corvane::TracedReport& report) {
    std::string line = report.direction == Corvane::ReportDirection::Sent ? ">" : "<";
    for (std::size_t i = 0; i < report.bytes.size(); ++i) {
        const bool masked = i >= report.maskedFirst && i < report.maskedFirst + report.maskedCount;
        line += masked ? " xx" : fmt::format(" {:02x}", report.bytes[i]);
    }
    return line;
}

void PrintTraceLine(const Corvane::TracedReport& report) {
    std::fprintf(stderr, "%s\n", TraceLine(report).c_str());
}

Failure::Failure(std::int32_t resultCode, const std::string& why)
    : std::runtime_error(fmt::format("error {} {}: {}", resultCode,
                                     Corvane::ResultCodeName(resultCode),
                                     Explanation(resultCode, why))),
      code(resultCode),
      explanation(Explanation(resultCode, why)) {}

Failure::Failure(const std::string& message, std::string kind)
    : std::runtime_error("error: " + message), name(std::move(kind)), explanation(message) {}

namespace {

[[noreturn]] void FailFile(std::string_view verb, std::string_view what, const std::string& path,
                           int error) {
    throw Failure(fmt::format("cannot {} {} {}: {}", verb, what, path, std::strerror(error)),
                  "FILE_ERROR");
}

}  // namespace

std::vector<std::uint8_t> ReadFileBytes(const std::string& path, std::string_view what) {
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored)) FailFile("read", what, path, EISDIR);
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) FailFile("read", what, path, errno);
    std::vector<std::uint8_t> bytes;
    std::array<std::uint8_t, 4096> buffer;
    std::size_t got = 0;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), file)) > 0) {
        bytes.insert(bytes.end(), buffer.begin(),
                     buffer.begin() + static_cast<std::ptrdiff_t>(got));
    }
    const int error = std::ferror(file) ? errno : 0;
    std::fclose(file);
    if (error != 0) FailFile("read", what, path, error);
    return bytes;
}

void WriteFileBytes(const std::string& path, std::span<const std::uint8_t> bytes,
                    std::string_view what) {
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored)) FailFile("write", what, path, EISDIR);
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) FailFile("write", what, path, errno);
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    const int error = written ? 0 : errno;
    if (std::fclose(file) != 0 && written) FailFile("write", what, path, errno);
    if (!written) FailFile("write", what, path, error);
}

void Check(std::int32_t result, const std::string& explanation) {
    if (result != 0) throw Failure(result, explanation);
}

std::int32_t CheckValue(std::int32_t result, const std::string& explanation) {
    if (result < 0) throw Failure(result, explanation);
    return result;
}

void WithFlashHints(const std::function<void()>& change) {
    try {
        change();
    } catch (const Failure& failure) {
        // The library explains the chip's status; the tool adds what to do about it.
        const std::int32_t status = failure.code.value_or(0);
        if (status == 3) {
            throw Failure(status, std::string(Corvane::DeviceStatusDescription(status)) +
                                      "; give it with --password-file FILE");
        }
        if (status >= 1 && status <= 255) throw Failure(status, "");
        throw;
    }
}

Tool::Tool() = default;

Tool::~Tool() = default;

void Tool::Start() {
    vid_ = ParseHexId(options.vid, "--vid");
    pid_ = ParseHexId(options.pid, "--pid");
    speed_ = ParseSpeed(options.speed, "--speed", kSlowestSpeed, kFastestSpeed);
    if (!options.device.empty()) {
        device_ =
            static_cast<std::int32_t>(ParseNumber(options.device, "--device", 0, kMostDevices - 1));
    }
    if (options.pacing != "fixed" && options.pacing != "bus-time") {
        throw UsageError("--pacing is fixed or bus-time");
    }
    Corvane::SetPacing(options.pacing == "bus-time" ? Corvane::Pacing::BusTime
                                                    : Corvane::Pacing::Fixed);
    Corvane::SetBusyTimeout(ParseNumber(options.busyTimeout, "--busy-timeout", 0, UINT32_MAX));
    if (!options.sim && (options.simReset || !options.simState.empty())) {
        throw UsageError("--sim-state and --sim-reset go with --sim");
    }

    if (options.sim) {
        const std::filesystem::path file =
            options.simState.empty() ? SimBench::DefaultStateFile() : Utf8Path(options.simState);
        sim_ = std::make_unique<SimBench>(file, options.simReset);
        Corvane::SetPlatform(sim_->Host());
    }
    if (options.trace) Corvane::SetReportTrace(PrintTraceLine);
}

void Tool::Finish() {
    if (sim_) sim_->Save();
}

Corvane::VrelUsbI2c& Tool::BridgeUnchecked() {
    if (!bridge_) {
        bridge_ = std::make_unique<Corvane::VrelUsbI2c>(vid_, pid_);
        bridge_->Settings->GetConnectionStatus();
    }
    return *bridge_;
}

Corvane::VrelUsbI2c& Tool::Bridge(bool enterPassword) {
    Corvane::VrelUsbI2c& bridge = BridgeUnchecked();
    if (!selected_) {
        SelectDevice();
        selected_ = true;
        SelectedPath() = bridge.Management->GetSelectedDevInfo();
    }
    if (enterPassword && !options.passwordFile.empty() && !passwordEntered_) {
        passwordEntered_ = true;
        const std::string password = ReadPassword("");
        Check(bridge.Functions->EnterAccessPassword(password.c_str()),
              "the device did not accept the password in --password-file");
    }
    return bridge;
}

void Tool::SelectDevice() {
    Corvane::VrelUsbI2c& bridge = *bridge_;
    const std::int32_t count = bridge.Management->GetDevCount();
    if (count <= 0) FailNoDevice();
    if (device_) {
        if (*device_ >= count) {
            throw Failure(fmt::format("there is no device {}: {} device{} found (numbered from 0)",
                                      *device_, count, count == 1 ? "" : "s"));
        }
        Check(bridge.Management->SelectDev(*device_));
    } else if (!options.serial.empty()) {
        std::vector<std::string> seen;
        bool found = false;
        for (std::int32_t index = 0; index < count && !found; ++index) {
            Check(bridge.Management->SelectDev(index));
            bridge.Settings->GetConnectionStatus();
            const auto serial = bridge.Settings->GetSerialNumber();
            const std::string text = serial ? Corvane::Utf16ToUtf8(*serial) : "?";
            found = serial && text == options.serial;
            seen.push_back(text);
        }
        if (!found) {
            std::string list;
            for (const std::string& s : seen) list += (list.empty() ? "" : ", ") + s;
            throw Failure(fmt::format("no device has the serial number {} (found: {})",
                                      options.serial, list));
        }
        return;
    }
    if (!bridge.Settings->GetConnectionStatus()) FailNoDevice();
}

void Tool::FailNoDevice() {
    std::string message = fmt::format(
        "no Corvane bridge found (searched for USB VID {:04x}, PID {:04x})", vid_, pid_);
    if (sim_) {
        const auto& chip = sim_->Chip();
        if (chip.EnumeratedVid() != vid_ || chip.EnumeratedPid() != pid_) {
            message += fmt::format(
                "\n  the virtual chip's flash now gives it VID {:04x}, PID {:04x}: add --vid "
                "{:04x} "
                "--pid {:04x}, or start afresh with --sim-reset",
                chip.EnumeratedVid(), chip.EnumeratedPid(), chip.EnumeratedVid(),
                chip.EnumeratedPid());
        }
        throw Failure(message);
    }
    for (const std::string& line : NodeDiagnostics(vid_, pid_)) message += "\n  " + line;
#if defined(__linux__)
    message +=
        "\n  on Linux the udev rules may be missing: copy udev/70-corvane.rules to "
        "/etc/udev/rules.d/, run 'udevadm control --reload', then replug the bridge";
#endif
    message += "\n  other IDs: --vid and --pid; no hardware at hand: --sim runs on a virtual chip";
    throw Failure(message);
}

std::string Tool::ReadPassword(const std::string& prompt) const {
    return ReadPasswordFrom(options.passwordFile, prompt);
}

std::string ReadPasswordFrom(const std::string& file, const std::string& prompt) {
    std::string password;
    if (!file.empty()) {
        const std::vector<std::uint8_t> bytes = ReadFileBytes(file, "the password file");
        password.assign(bytes.begin(), std::find(bytes.begin(), bytes.end(), '\n'));
        if (!password.empty() && password.back() == '\r') password.pop_back();
    } else {
        const auto typed = ReadSecret(prompt.empty() ? "password: " : prompt);
        if (!typed) {
            throw UsageError(
                "a password is needed and there is no terminal to ask on: use --password-file "
                "FILE");
        }
        password = *typed;
    }
    if (password.size() != kPasswordLength) {
        throw UsageError(fmt::format("the password must be exactly {} characters, not {}",
                                     kPasswordLength, password.size()));
    }
    return password;
}

namespace {
std::optional<Json> pendingJson;
}

void Tool::PrintJson(const Json& document) {
    pendingJson = document;
}

std::optional<Json> Tool::TakeJson() {
    return std::exchange(pendingJson, std::nullopt);
}

}  // namespace CorvaneTool

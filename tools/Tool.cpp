#include "Tool.hpp"

#include <fmt/format.h>
#include <corvane/Diagnostics.hpp>

#include <fstream>
#include <iostream>

#include "Numbers.hpp"
#include "SimBench.hpp"
#include "Terminal.hpp"
#include "WirePlatform.hpp"

namespace CorvaneTool {

namespace {

constexpr std::uint32_t kSlowestSpeed = 46'333;  // the speed divider fits in 8 bits from here
constexpr std::uint32_t kFastestSpeed = 4'000'000;
constexpr std::size_t kPasswordLength = 8;

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

}  // namespace

Failure::Failure(std::int32_t resultCode, const std::string& why)
    : std::runtime_error(
          fmt::format("error {} {}: {}", resultCode, Corvane::ResultCodeName(resultCode),
                      why.empty() ? Corvane::ResultCodeDescription(resultCode) : why)),
      code(resultCode),
      explanation(why.empty() ? Corvane::ResultCodeDescription(resultCode) : why) {}

Failure::Failure(const std::string& message)
    : std::runtime_error("error: " + message), explanation(message) {}

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
        switch (failure.code.value_or(0)) {
            case 2:
                throw Failure(2, "the chip refused: its flash is locked for good");
            case 3:
                throw Failure(3,
                              "the chip refused: its flash is protected by a password; give it "
                              "with --password-file FILE");
            case 4:
                throw Failure(4,
                              "the chip refused: too many wrong passwords since it was last "
                              "reset");
            default:
                throw;
        }
    }
}

Tool::Tool() = default;

Tool::~Tool() = default;

void Tool::Start() {
    vid_ = ParseHexId(options.vid, "--vid");
    pid_ = ParseHexId(options.pid, "--pid");
    speed_ = ParseNumber(options.speed, "--speed", kSlowestSpeed, kFastestSpeed);
    if (options.device < -1) throw UsageError("--device must be 0 or more");
    if (!options.sim && (options.simReset || !options.simState.empty())) {
        throw UsageError("--sim-state and --sim-reset go with --sim");
    }

    std::shared_ptr<Corvane::Platform> platform;
    if (options.sim) {
        const std::filesystem::path file = options.simState.empty()
                                               ? SimBench::DefaultStateFile()
                                               : std::filesystem::path(options.simState);
        sim_ = std::make_unique<SimBench>(file, options.simReset);
        platform = sim_->Host();
    } else {
        platform = Corvane::GetPlatform();
    }
    wire_ = std::make_shared<WirePlatform>(platform, options.trace);
    Corvane::SetPlatform(wire_);
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
    if (options.device >= 0) {
        if (options.device >= count) {
            throw Failure(fmt::format("there is no device {}: {} device{} found (numbered from 0)",
                                      options.device, count, count == 1 ? "" : "s"));
        }
        Check(bridge.Management->SelectDev(options.device));
    } else if (!options.serial.empty()) {
        std::vector<std::string> seen;
        bool found = false;
        for (std::int32_t index = 0; index < count && !found; ++index) {
            Check(bridge.Management->SelectDev(index));
            bridge.Settings->GetConnectionStatus();
            const auto serial = bridge.Settings->GetSerialNumber();
            const std::string text = serial ? Utf8(*serial) : "?";
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

std::optional<std::string> Tool::TakeHardwareRevision() {
    return wire_ ? wire_->TakeHardwareRevision() : std::nullopt;
}

std::string Tool::ReadPassword(const std::string& prompt) const {
    return ReadPasswordFrom(options.passwordFile, prompt);
}

std::string ReadPasswordFrom(const std::string& file, const std::string& prompt) {
    std::string password;
    if (!file.empty()) {
        std::ifstream in(file, std::ios::binary);
        if (!in) throw UsageError(fmt::format("cannot read the password file {}", file));
        std::getline(in, password);
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

void Tool::PrintJson(const Json& document) {
    std::cout << document.dump(2) << '\n';
}

}  // namespace CorvaneTool

// SPDX-License-Identifier: MIT
#include "Tool.hpp"

#include <fmt/format.h>
#include <corvane/Diagnostics.hpp>

#include <corvane/sim.hpp>

#include <algorithm>
#include <array>
#include <cctype>
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

[[noreturn]] void FailFile(std::string_view verb, std::string_view what, const std::string& path,
                           int error) {
    throw Failure(fmt::format("cannot {} {} {}: {}", verb, what, path, std::strerror(error)),
                  "FILE_ERROR");
}

namespace {

std::vector<std::uint8_t> ReadAll(std::FILE* file) {
    std::vector<std::uint8_t> bytes;
    std::array<std::uint8_t, 4096> buffer;
    std::size_t got = 0;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), file)) > 0) {
        bytes.insert(bytes.end(), buffer.begin(),
                     buffer.begin() + static_cast<std::ptrdiff_t>(got));
    }
    return bytes;
}

}  // namespace

std::vector<std::uint8_t> ReadFileBytes(const std::string& path, std::string_view what) {
    if (path == "-") {
        BinaryStandardStreams();
        std::vector<std::uint8_t> bytes = ReadAll(stdin);
        if (std::ferror(stdin)) FailFile("read", what, "from standard input", errno);
        return bytes;
    }
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored)) FailFile("read", what, path, EISDIR);
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) FailFile("read", what, path, errno);
    std::vector<std::uint8_t> bytes = ReadAll(file);
    const int error = std::ferror(file) ? errno : 0;
    std::fclose(file);
    if (error != 0) FailFile("read", what, path, error);
    return bytes;
}

OutputFile::OutputFile(std::string path, std::string_view what)
    : path_(std::move(path)), what_(what) {
    if (IsStandardOutput()) return;
    std::error_code ignored;
    if (std::filesystem::is_directory(path_, ignored)) FailFile("write", what_, path_, EISDIR);
    // Opened without truncating: what the file holds stays until the result is there.
    created_ = !std::filesystem::exists(path_, ignored);
    file_ = std::fopen(path_.c_str(), created_ ? "wb" : "r+b");
    if (!file_) FailFile("write", what_, path_, errno);
}

OutputFile::~OutputFile() {
    if (file_) std::fclose(file_);
    if (created_ && !committed_) {
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
    }
}

void OutputFile::Commit(std::span<const std::uint8_t> bytes) {
    committed_ = true;
    if (IsStandardOutput()) {
        BinaryStandardStreams();
        std::fflush(stdout);
        if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size() ||
            std::fflush(stdout) != 0) {
            FailFile("write", what_, "to standard output", errno);
        }
        return;
    }
    file_ = std::freopen(path_.c_str(), "wb", file_);
    if (!file_) FailFile("write", what_, path_, errno);
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file_) == bytes.size();
    const int error = written ? 0 : errno;
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (!written) FailFile("write", what_, path_, error);
    if (!closed) FailFile("write", what_, path_, errno);
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

namespace {

// The file a command will write can be written: its folder exists or can be
// made, and a file beside it can be created (and is removed again).
void CheckWritable(const std::filesystem::path& file, std::string_view what) {
    std::error_code error;
    std::filesystem::create_directories(file.parent_path(), error);
    std::filesystem::path probe = file;
    probe += ".new";
    std::FILE* opened = std::fopen(Utf8Text(probe).c_str(), "ab");
    if (!opened) FailFile("write", what, Utf8Text(file), errno);
    std::fclose(opened);
    std::filesystem::remove(probe, error);
}

// The state file of the virtual bridge `index` (from 0): FILE, FILE.2, ...
std::filesystem::path BridgeStateFile(const std::filesystem::path& first, std::size_t index) {
    if (index == 0) return first;
    std::filesystem::path file = first;
    file += "." + std::to_string(index + 1);
    return file;
}

constexpr std::uint32_t kMostSimBridges = 8;

}  // namespace

void Tool::CheckOptions() {
    vid_ = ParseId(options.vid, "--vid");
    pid_ = ParseId(options.pid, "--pid");
    speed_ = ParseSpeed(options.speed, "--speed", kSlowestSpeed, kFastestSpeed);
    if (!options.device.empty()) {
        device_ =
            static_cast<std::int32_t>(ParseNumber(options.device, "--device", 0, kMostDevices - 1));
    }
    if (int(device_.has_value()) + int(!options.serial.empty()) + int(!options.path.empty()) > 1) {
        throw UsageError("choose the bridge one way: --device, --serial or --path");
    }
    if (options.pacing != "fixed" && options.pacing != "bus-time") {
        throw UsageError("--pacing is fixed or bus-time");
    }
    Corvane::SetPacing(options.pacing == "bus-time" ? Corvane::Pacing::BusTime
                                                    : Corvane::Pacing::Fixed);
    Corvane::SetBusyTimeout(ParseNumber(options.busyTimeout, "--busy-timeout", 0, UINT32_MAX));
    const bool simOptions =
        options.simReset || !options.simState.empty() || options.simBridges != "1";
    if (!options.sim && simOptions) {
        throw UsageError("--sim-state, --sim-reset and --sim-bridges go with --sim");
    }
    ParseNumber(options.simBridges, "--sim-bridges", 1, kMostSimBridges);
}

void Tool::Start() {
    CheckOptions();
    if (options.sim) {
        const std::size_t bridges =
            ParseNumber(options.simBridges, "--sim-bridges", 1, kMostSimBridges);
        const std::filesystem::path file =
            options.simState.empty() ? SimBench::DefaultStateFile() : Utf8Path(options.simState);
        // Before the command: its work would be lost if the state could not be kept.
        for (std::size_t i = 0; i < bridges; ++i) {
            CheckWritable(BridgeStateFile(file, i), "the virtual chip's state to");
        }
        const auto host = Corvane::Sim::SimulatedHost::Install();
        for (std::size_t i = 0; i < bridges; ++i) {
            sims_.push_back(
                std::make_unique<SimBench>(BridgeStateFile(file, i), options.simReset, host));
        }
        Corvane::SetPlatform(host);
    }
    if (options.trace) Corvane::SetReportTrace(PrintTraceLine);
}

std::shared_ptr<Corvane::Sim::VirtualDevice> Tool::SimChip(std::size_t index) const {
    return index < sims_.size() ? sims_[index]->SharedChip() : nullptr;
}

void Tool::Finish() {
    handle_.reset();
    discovery_.reset();
    for (const auto& sim : sims_) sim->Save();
}

std::vector<std::string> Tool::Discover() {
    if (!discovery_) discovery_ = Corvane::BridgeHandle::Unbound(vid_, pid_);
    std::vector<std::string> paths;
    discovery_->RunUnbound([&](Corvane::VrelUsbI2c& bridge) {
        bridge.Settings->GetConnectionStatus();
        paths = Corvane::FoundDevicePaths();
        return 0;
    });
    return paths;
}

std::shared_ptr<Corvane::BridgeHandle> Tool::OpenPath(const std::string& path) {
    Corvane::BridgeChoice choice;
    choice.vendorId = vid_;
    choice.productId = pid_;
    choice.path = path;
    std::shared_ptr<Corvane::BridgeHandle> handle;
    if (Corvane::BridgeHandle::Open(choice, handle) != Corvane::SUCCESS) return nullptr;
    return handle;
}

namespace {

std::string Problem(const Corvane::DeviceNodeStatus& node) {
    std::string problem = node.errorText.empty() ? "cannot be opened" : node.errorText;
    problem[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(problem[0])));
    return problem;
}

}  // namespace

std::string Tool::NodeProblem(const std::string& path) const {
    if (Simulated()) return {};
    for (const Corvane::DeviceNodeStatus& node : Corvane::ProbeDeviceNodes(vid_, pid_)) {
        if (node.path == path && !node.opens) return Problem(node);
    }
    return {};
}

std::string Tool::SerialOf(const std::string& path) {
    const auto handle = OpenPath(path);
    if (!handle) {
        const std::string problem = NodeProblem(path);
        return problem.empty() ? "?" : path + ": " + problem;
    }
    const auto serial = CorvaneTool::On(
        *handle, [](Corvane::VrelUsbI2c& bridge) { return bridge.Settings->GetSerialNumber(); });
    return serial ? Corvane::Utf16ToUtf8(*serial) : "?";
}

namespace {

// The IDs in a hardware ID such as "HID\VID_3A7C&PID_01D5&REV_0100".
std::optional<std::pair<unsigned, unsigned>> IdsOf(const std::u16string& hardwareId) {
    const std::string text = Lower(Corvane::Utf16ToUtf8(hardwareId));
    const auto vid = text.find("vid_");
    const auto pid = text.find("pid_");
    if (vid == std::string::npos || pid == std::string::npos) return std::nullopt;
    try {
        return std::pair{static_cast<unsigned>(std::stoul(text.substr(vid + 4, 4), nullptr, 16)),
                         static_cast<unsigned>(std::stoul(text.substr(pid + 4, 4), nullptr, 16))};
    } catch (const std::logic_error&) {
        return std::nullopt;
    }
}

bool AccessDenied(const Corvane::DeviceNodeStatus& node) {
#if defined(_WIN32)
    return node.errorNumber == 5;  // ERROR_ACCESS_DENIED
#else
    return node.errorNumber == EACCES || node.errorNumber == EPERM;
#endif
}

// Serial numbers the bridges are made with; a device that carries one under
// other IDs is most likely a bridge whose IDs were changed in its flash.
constexpr std::string_view kFactorySerialPrefix = "CVS";

}  // namespace

std::vector<std::string> Tool::Diagnose() const {
    std::vector<std::string> lines;
    bool denied = false;
    if (!Simulated()) {
        for (const Corvane::DeviceNodeStatus& node : Corvane::ProbeDeviceNodes(vid_, pid_)) {
            if (node.opens) continue;
            denied = denied || AccessDenied(node);
            lines.push_back(node.path + ": " + Problem(node));
        }
    }
    if (denied) {
#if defined(__linux__)
        lines.push_back(
            "this user may not open the bridge's node: install the udev rule (copy "
            "udev/70-corvane.rules to /etc/udev/rules.d/, run 'udevadm control --reload', replug "
            "the bridge) and join the plugdev group ('sudo adduser $USER plugdev', then log in "
            "again)");
#else
        lines.push_back("another program may hold the bridge open for itself");
#endif
    }
    for (const Corvane::HidInterfaceInfo& info : Corvane::GetPlatform()->ListHidInterfaces()) {
        const std::string serial = Corvane::Utf16ToUtf8(info.serialNumber);
        if (info.hardwareIds.empty() || !serial.starts_with(kFactorySerialPrefix)) continue;
        const auto ids = IdsOf(info.hardwareIds.front());
        if (!ids || (ids->first == vid_ && ids->second == pid_)) continue;
        lines.push_back(fmt::format(
            "{} has the serial number {} under USB VID {}, PID {}: a bridge with other IDs in its "
            "flash? reach it with --vid {} --pid {}",
            Corvane::Utf16ToUtf8(info.path), serial, IdText(ids->first), IdText(ids->second),
            IdText(ids->first), IdText(ids->second)));
    }
    return lines;
}

void Tool::FailNoDevice() {
    std::vector<std::string> lines = Diagnose();
    // A node this process may not open is the answer itself.
    bool denied = false;
    std::string headline;
    if (!Simulated()) {
        for (const Corvane::DeviceNodeStatus& node : Corvane::ProbeDeviceNodes(vid_, pid_)) {
            if (node.opens) continue;
            headline = node.path + ": " + Problem(node);
            denied = AccessDenied(node);
            break;
        }
    }
    if (headline.empty()) {
        headline = fmt::format("no Corvane bridge found (searched for USB VID {}, PID {})",
                               IdText(vid_), IdText(pid_));
    }
    std::string message = headline;
    for (const std::string& line : lines) {
        if (line != headline) message += "\n  " + line;
    }
    if (Simulated()) {
        message += "\n  start the virtual chip afresh with --sim-reset";
    } else if (!denied) {
        message +=
            "\n  other IDs: --vid and --pid; no hardware at hand: --sim runs on a virtual chip";
    }
    if (denied) throw Failure(message, "PERMISSION_DENIED");
    throw Failure(Corvane::BRIDGE_NOT_FOUND, message);
}

void Tool::FailNoSerial(const std::vector<std::string>& paths) {
    std::string found;
    for (const std::string& path : paths) {
        found += (found.empty() ? "" : ", ") + SerialOf(path);
    }
    std::string message = fmt::format("no device has the serial number {} (found: {})",
                                      options.serial, found.empty() ? "none" : found);
    for (const std::string& line : Diagnose()) message += "\n  " + line;
    throw Failure(Corvane::BRIDGE_NOT_FOUND, message);
}

std::shared_ptr<Corvane::BridgeHandle> Tool::Open(Use use) {
    const std::vector<std::string> paths = Discover();
    Corvane::BridgeChoice choice;
    choice.vendorId = vid_;
    choice.productId = pid_;
    if (!options.serial.empty()) {
        choice.serial = options.serial;
        std::shared_ptr<Corvane::BridgeHandle> handle;
        if (Corvane::BridgeHandle::Open(choice, handle) != Corvane::SUCCESS) FailNoSerial(paths);
        return handle;
    }
    if (!options.path.empty()) {
        if (std::find(paths.begin(), paths.end(), options.path) == paths.end()) {
            std::string found;
            for (const std::string& path : paths) found += (found.empty() ? "" : ", ") + path;
            throw Failure(Corvane::BRIDGE_NOT_FOUND,
                          fmt::format("no bridge at {} (found: {})", options.path,
                                      found.empty() ? "none" : found));
        }
        choice.path = options.path;
    } else if (device_) {
        if (paths.empty()) FailNoDevice();
        if (static_cast<std::size_t>(*device_) >= paths.size()) {
            throw Failure(Corvane::BRIDGE_NOT_FOUND,
                          fmt::format("there is no device {}: {} device{} found (numbered from 0)",
                                      *device_, paths.size(), paths.size() == 1 ? "" : "s"));
        }
        choice.path = paths[static_cast<std::size_t>(*device_)];
    } else {
        if (paths.empty()) FailNoDevice();
        if (paths.size() > 1) {
            std::string serials;
            for (const std::string& path : paths) {
                serials += (serials.empty() ? "" : ", ") + SerialOf(path);
            }
            if (use == Use::Change) {
                throw Failure(fmt::format("{} bridges: {}; choose with --serial (or --device N, "
                                          "--path PATH)",
                                          paths.size(), serials),
                              "CHOOSE_BRIDGE");
            }
            fmt::print(stderr, "corvane: using bridge 0 of {} ({}: {}); choose with --serial\n",
                       paths.size(), paths.front(), serials.substr(0, serials.find(',')));
        }
        choice.path = paths.front();
    }
    std::shared_ptr<Corvane::BridgeHandle> handle;
    if (Corvane::BridgeHandle::Open(choice, handle) != Corvane::SUCCESS) FailNoDevice();
    return handle;
}

std::shared_ptr<Corvane::BridgeHandle> Tool::Handle(Use use, bool enterPassword) {
    if (!handle_) {
        handle_ = Open(use);
        SelectedPath() = handle_->Path();
    }
    if (enterPassword && !options.passwordFile.empty() && !passwordEntered_) {
        passwordEntered_ = true;
        const std::string password = ReadPassword("");
        Check(handle_->EnterAccessPassword(password.c_str()),
              "the device did not accept the password in --password-file");
    }
    return handle_;
}

Work Tool::TerminalWork() {
    struct Bar {
        std::string stage;
        std::unique_ptr<Progress> progress;
    };
    auto bar = std::make_shared<Bar>();
    Work work;
    work.progress = [bar](std::string_view stage, std::size_t done, std::size_t total) {
        if (!bar->progress || bar->stage != stage) {
            bar->progress.reset();  // clears the line of the stage before
            bar->stage = stage;
            bar->progress = std::make_unique<Progress>(std::string(stage), total);
        }
        bar->progress->Update(done);
        // A finished stage leaves the line to what is printed next.
        if (done >= total) bar->progress.reset();
    };
    work.stop = [] { return InterruptRequested(); };
    return work;
}

std::string Tool::ReadPassword(const std::string& prompt) const {
    return ReadPasswordFrom(options.passwordFile, prompt);
}

void CheckPassword(const std::string& password) {
    if (password.size() == kPasswordLength) return;
    const std::size_t characters =
        static_cast<std::size_t>(std::count_if(password.begin(), password.end(), [](char c) {
            return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
        }));
    if (characters == password.size()) {
        throw UsageError(
            fmt::format("the password must be {} bytes (the chip counts bytes), not {}",
                        kPasswordLength, password.size()));
    }
    throw UsageError(fmt::format(
        "the password must be {} bytes (the chip counts bytes); this one is {} bytes in UTF-8 "
        "({} characters)",
        kPasswordLength, password.size(), characters));
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
    CheckPassword(password);
    return password;
}

namespace {
std::optional<Json> pendingJson;
}  // namespace

void Tool::PrintJson(const Json& document) {
    pendingJson = document;
}

std::optional<Json> Tool::TakeJson() {
    return std::exchange(pendingJson, std::nullopt);
}

}  // namespace CorvaneTool

#include "SimBench.hpp"

#include <fmt/format.h>
#include <corvane/sim/Eeprom.hpp>
#include <corvane/sim/SmbusDevice.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>

#include "TemperatureSensor.hpp"
#include "Terminal.hpp"
#include "Tool.hpp"

namespace CorvaneTool {

namespace {

constexpr const char* kFormat = "corvane-sim-state 1";

std::string ToHex(const std::vector<std::uint8_t>& bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (std::uint8_t b : bytes) {
        text += kDigits[b >> 4];
        text += kDigits[b & 0x0F];
    }
    return text;
}

std::optional<std::vector<std::uint8_t>> FromHex(const std::string& text) {
    if (text.size() % 2 != 0) return std::nullopt;
    std::vector<std::uint8_t> bytes;
    bytes.reserve(text.size() / 2);
    for (std::size_t i = 0; i < text.size(); i += 2) {
        unsigned value = 0;
        for (std::size_t k = i; k < i + 2; ++k) {
            const char c = text[k];
            const int digit = c >= '0' && c <= '9'   ? c - '0'
                              : c >= 'a' && c <= 'f' ? c - 'a' + 10
                              : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                     : -1;
            if (digit < 0) return std::nullopt;
            value = value * 16 + static_cast<unsigned>(digit);
        }
        bytes.push_back(static_cast<std::uint8_t>(value));
    }
    return bytes;
}

std::vector<std::uint8_t> Ascii(std::string_view text) {
    return {text.begin(), text.end()};
}

}  // namespace

SimBench::SimBench(std::filesystem::path stateFile, bool fresh,
                   std::shared_ptr<Corvane::Sim::SimulatedHost> host)
    : stateFile_(std::move(stateFile)) {
    host_ = host ? std::move(host) : Corvane::Sim::SimulatedHost::Install();
    // The host's clock is virtual: its modelled report time costs no real time
    // and keeps the bus moving at speeds where the library does not pause.
    chip_ = std::make_shared<Corvane::Sim::VirtualDevice>();
    eeprom_ = std::make_shared<Corvane::Sim::Eeprom>(kEepromSize, kEepromPage);
    smbus_ = std::make_shared<Corvane::Sim::SmbusDevice>(kSmbusAddress);
    smbus_->EnablePec(true);
    smbus_->EnableByteCount(true);
    sensor_ = std::make_shared<TemperatureSensor>();
    Fill();
    nlohmann::json running;
    if (!fresh && std::filesystem::exists(stateFile_)) running = Load();

    chip_->AttachTarget(kEepromAddress, eeprom_);
    chip_->AttachTarget(kSmbusAddress, smbus_);
    chip_->AttachTarget(kSensorAddress, sensor_);
    // Something to measure on the analog inputs and a high level on GP0.
    chip_->SetAdcInput(0, 1200);
    chip_->SetAdcInput(1, 2500);
    chip_->SetAdcInput(2, 600);
    chip_->SetPinInput(0, 1);
    host_->Plug(chip_);
    if (!running.is_null()) RestoreRunningSettings(running);
}

SimBench::~SimBench() = default;

std::filesystem::path SimBench::DefaultStateFile() {
    std::filesystem::path base;
#if defined(_WIN32)
    // Where Windows programs keep their per-user state; HOME is often set by
    // Unix-like shells there and would not be the place.
    const char* windows = std::getenv("LOCALAPPDATA");
#else
    const char* windows = nullptr;
#endif
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state) {
        base = Utf8Path(state);
    } else if (windows && *windows) {
        base = Utf8Path(windows);
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        base = Utf8Path(home) / ".local" / "state";
    } else if (const char* profile = std::getenv("LOCALAPPDATA"); profile && *profile) {
        base = Utf8Path(profile);
    } else {
        base = std::filesystem::current_path();
    }
    return base / "corvane" / "sim-state.json";
}

// A fresh bench: an erased EEPROM and a smart-battery-like SMBus device.
void SimBench::Fill() {
    smbus_->SetRegister(0x20, Ascii("Corvane"));  // manufacturer name
    smbus_->SetRegister(0x21, Ascii("CVB-1"));    // device name
    smbus_->SetRegister(0x22, Ascii("LION"));     // chemistry
}

nlohmann::json SimBench::Load() {
    const auto damaged = [this](const std::string& why) {
        return Failure(fmt::format(
            "the virtual chip's state file {} cannot be used ({}); --sim-reset starts afresh",
            Utf8Text(stateFile_), why));
    };
    std::ifstream in(stateFile_, std::ios::binary);
    if (!in) throw damaged("cannot open it");
    nlohmann::json state;
    try {
        state = nlohmann::json::parse(in);
    } catch (const nlohmann::json::exception&) {
        throw damaged("not JSON");
    }
    try {
        if (state.at("format").get<std::string>() != kFormat) throw damaged("unknown format");
        if (!chip_->LoadState(state.at("chip").get<std::string>())) throw damaged("chip flash");
        // What the chip keeps while powered: how it enumerated, an entered password.
        if (const auto powered = state.find("powered"); powered != state.end()) {
            if (!chip_->LoadPoweredState(powered->get<std::string>())) throw damaged("chip state");
        }
        const auto eeprom = FromHex(state.at("eeprom").get<std::string>());
        if (!eeprom || eeprom->size() != kEepromSize) throw damaged("EEPROM contents");
        eeprom_->Contents() = *eeprom;
        eeprom_->SetAddressCounter(state.value("eeprom-counter", std::size_t{0}));
        for (const auto& [index, contents] : state.at("smbus").items()) {
            const auto bytes = FromHex(contents.get<std::string>());
            const auto number = std::stoul(index, nullptr, 0);
            if (!bytes || number > 0xFF) throw damaged("SMBus registers");
            smbus_->SetRegister(static_cast<std::uint8_t>(number), *bytes);
        }
        sensor_->Restore(state.at("sensor").get<TemperatureSensor::Registers>());
        return state.value("running", nlohmann::json());
    } catch (const nlohmann::json::exception& e) {
        throw damaged(e.what());
    } catch (const std::logic_error&) {  // std::stoul
        throw damaged("SMBus registers");
    }
}

namespace {

// A library object on the simulated host itself, so that what the bench does
// for itself is not traced.
std::unique_ptr<Corvane::VrelUsbI2c> BenchBridge(
    const std::shared_ptr<Corvane::Sim::SimulatedHost>& host,
    const Corvane::Sim::VirtualDevice& chip) {
    Corvane::SetPlatform(host);
    Corvane::SetReportTrace({});
    auto bridge = std::make_unique<Corvane::VrelUsbI2c>(chip.EnumeratedVid(), chip.EnumeratedPid());
    // This bench's chip among the others on the host.
    bridge->Settings->GetConnectionStatus();
    const std::vector<std::string> paths = Corvane::FoundDevicePaths();
    const auto at = std::find(paths.begin(), paths.end(), Corvane::Utf16ToUtf8(chip.Path()));
    if (at == paths.end() ||
        bridge->Management->SelectDev(static_cast<std::int32_t>(at - paths.begin())) != 0 ||
        !bridge->Settings->GetConnectionStatus()) {
        return nullptr;
    }
    return bridge;
}

constexpr std::int32_t kCurrent = Corvane::DllConstants::CURRENT_SETTINGS_ONLY;

}  // namespace

// The run-time settings as the chip has them now; null when they cannot be read.
nlohmann::json SimBench::RunningSettings() const {
    const auto bridge = BenchBridge(host_, *chip_);
    if (!bridge) return nullptr;
    Corvane::DevSettings_M& settings = *bridge->Settings;
    std::array<std::uint8_t, 4> designation{}, direction{}, value{};
    const std::int32_t values[] = {
        settings.GetGpPinConfiguration(kCurrent, designation, direction, value),
        settings.GetClockPinDividerValue(kCurrent),
        settings.GetClockPinDutyCycle(kCurrent),
        settings.GetDacVoltageReference(),
        settings.GetDacValue(),
        settings.GetAdcVoltageReference(),
        settings.GetInterruptPinMode(kCurrent)};
    for (std::int32_t v : values) {
        if (v < 0) return nullptr;
    }
    return {{"gp-designation", designation},
            {"gp-direction", direction},
            {"gp-value", value},
            {"clock-divider", values[1]},
            {"clock-duty", values[2]},
            {"dac-reference", values[3]},
            {"dac-value", values[4]},
            {"adc-reference", values[5]},
            {"interrupt-mode", values[6]}};
}

// A real chip keeps its run-time settings while it stays plugged in; the
// virtual one gets them back at the start of each run.
void SimBench::RestoreRunningSettings(const nlohmann::json& running) {
    const auto bridge = BenchBridge(host_, *chip_);
    if (!bridge) return;
    Corvane::DevSettings_M& settings = *bridge->Settings;
    try {
        const auto designation = running.at("gp-designation").get<std::array<std::uint8_t, 4>>();
        const auto direction = running.at("gp-direction").get<std::array<std::uint8_t, 4>>();
        const auto value = running.at("gp-value").get<std::array<std::uint8_t, 4>>();
        settings.SetGpPinConfiguration(kCurrent, designation, direction, value);
        const auto divider = running.at("clock-divider").get<std::int32_t>();
        if (divider > 0) {
            settings.SetClockPinConfiguration(kCurrent, divider,
                                              running.at("clock-duty").get<std::int32_t>());
        }
        settings.SetDacVoltageReference(running.at("dac-reference").get<std::int32_t>());
        settings.SetDacValue(running.at("dac-value").get<std::int32_t>());
        settings.SetAdcVoltageReference(running.at("adc-reference").get<std::int32_t>());
        const auto mode = running.at("interrupt-mode").get<std::int32_t>();
        if (mode > 0) settings.SetInterruptPinMode(kCurrent, mode);
    } catch (const nlohmann::json::exception&) {
        // Settings the file does not hold stay as the chip powered up.
    }
}

void SimBench::Save() const {
    nlohmann::json state;
    state["format"] = kFormat;
    state["chip"] = chip_->SaveState();
    state["powered"] = chip_->SavePoweredState();
    state["eeprom"] = ToHex(eeprom_->Contents());
    state["eeprom-counter"] = eeprom_->AddressCounter();
    nlohmann::json registers = nlohmann::json::object();
    for (unsigned index = 0; index <= 0xFF; ++index) {
        const auto contents = smbus_->Register(static_cast<std::uint8_t>(index));
        if (!contents.empty()) registers[fmt::format("0x{:02x}", index)] = ToHex(contents);
    }
    state["smbus"] = registers;
    state["sensor"] = sensor_->Saved();
    state["running"] = RunningSettings();

    std::error_code error;
    std::filesystem::create_directories(stateFile_.parent_path(), error);
    // Written beside the file and renamed, so a run that dies leaves the old state.
    std::filesystem::path temporary = stateFile_;
    temporary += ".new";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << state.dump(1) << '\n';
        if (!out.flush()) {
            throw Failure(
                fmt::format("cannot write the virtual chip's state to {}", Utf8Text(temporary)));
        }
    }
    std::filesystem::rename(temporary, stateFile_, error);
    if (error) {
        throw Failure(fmt::format("cannot write the virtual chip's state to {}: {}",
                                  Utf8Text(stateFile_), error.message()));
    }
}

}  // namespace CorvaneTool

// SPDX-License-Identifier: MIT
#include "SimBench.hpp"

#include <fmt/format.h>
#include <corvane/sim/Eeprom.hpp>
#include <corvane/sim/SmbusDevice.hpp>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>

#include "SimState.hpp"
#include "TemperatureSensor.hpp"
#include "Terminal.hpp"
#include "Tool.hpp"

namespace CorvaneTool {

namespace {

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
    std::optional<RunningSettings> running;
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
    if (running) RestoreRunningSettings(*running);
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

Failure SimBench::Damaged(const std::string& why) const {
    return Failure(fmt::format(
        "the virtual chip's state file {} cannot be used ({}); --sim-reset starts afresh",
        Utf8Text(stateFile_), why));
}

// The whole file is checked before the bench takes any of it; the chip's flash
// first, which takes all of its text or nothing.
std::optional<RunningSettings> SimBench::Load() {
    std::ifstream in(stateFile_, std::ios::binary);
    if (!in) throw Damaged("cannot open it");
    std::string text(kMaxStateBytes + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (in.bad()) throw Damaged("cannot read it");
    text.resize(static_cast<std::size_t>(in.gcount()));
    SimState state;
    try {
        state = ParseSimState(text, kEepromSize);
    } catch (const StateError& e) {
        throw Damaged(e.what());
    }
    if (!chip_->LoadState(state.chip)) throw Damaged("the chip's flash cannot be read");
    // What the chip keeps while powered: how it enumerated, an entered password.
    if (state.powered && !chip_->LoadPoweredState(*state.powered)) {
        throw Damaged("the chip's powered state cannot be read");
    }
    eeprom_->Contents() = std::move(state.eeprom);
    eeprom_->SetAddressCounter(state.eepromCounter);
    smbus_->SetRegisters(std::move(state.smbusRegisters));
    smbus_->SetPointer(state.smbusPointer);
    sensor_->Restore(state.sensor);
    return state.running;
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

// The run-time settings as the chip has them now; none when they cannot be read.
std::optional<RunningSettings> SimBench::ReadRunningSettings() const {
    const auto bridge = BenchBridge(host_, *chip_);
    if (!bridge) return std::nullopt;
    Corvane::DevSettings_M& settings = *bridge->Settings;
    RunningSettings running;
    const std::int32_t values[] = {
        settings.GetGpPinConfiguration(kCurrent, running.gpDesignation, running.gpDirection,
                                       running.gpValue),
        running.clockDivider = settings.GetClockPinDividerValue(kCurrent),
        running.clockDuty = settings.GetClockPinDutyCycle(kCurrent),
        running.dacReference = settings.GetDacVoltageReference(),
        running.dacValue = settings.GetDacValue(),
        running.adcReference = settings.GetAdcVoltageReference(),
        running.interruptMode = settings.GetInterruptPinMode(kCurrent)};
    for (std::int32_t v : values) {
        if (v < 0) return std::nullopt;
    }
    return running;
}

// A real chip keeps its run-time settings while it stays plugged in; the
// virtual one gets them back at the start of each run. A setting the chip
// refuses makes the file unusable rather than the chip half restored.
void SimBench::RestoreRunningSettings(const RunningSettings& running) {
    const auto bridge = BenchBridge(host_, *chip_);
    if (!bridge) return;
    Corvane::DevSettings_M& settings = *bridge->Settings;
    const std::int32_t results[] = {
        settings.SetGpPinConfiguration(kCurrent, running.gpDesignation, running.gpDirection,
                                       running.gpValue),
        running.clockDivider > 0
            ? settings.SetClockPinConfiguration(kCurrent, running.clockDivider, running.clockDuty)
            : 0,
        settings.SetDacVoltageReference(running.dacReference),
        settings.SetDacValue(running.dacValue),
        settings.SetAdcVoltageReference(running.adcReference),
        running.interruptMode > 0 ? settings.SetInterruptPinMode(kCurrent, running.interruptMode)
                                  : 0};
    for (const std::int32_t result : results) {
        if (result < 0) {
            throw Damaged(fmt::format("the chip refuses its running settings: {}",
                                      Corvane::ResultCodeName(result)));
        }
    }
}

void SimBench::Save() const {
    SimState state;
    state.chip = chip_->SaveState();
    state.eeprom = eeprom_->Contents();
    state.eepromCounter = eeprom_->AddressCounter();
    state.smbusRegisters = smbus_->Registers();
    state.smbusPointer = smbus_->Pointer();
    state.sensor = sensor_->Saved();
    state.powered = chip_->SavePoweredState();
    state.running = ReadRunningSettings();

    std::error_code error;
    std::filesystem::create_directories(stateFile_.parent_path(), error);
    // Written beside the file and renamed, so a run that dies leaves the old state.
    std::filesystem::path temporary = stateFile_;
    temporary += ".new";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << FormatSimState(state);
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

// SPDX-License-Identifier: MIT
#pragma once

#include <corvane/sim.hpp>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "SimState.hpp"

namespace Corvane::Sim {
class Eeprom;
class SmbusDevice;
}  // namespace Corvane::Sim

namespace CorvaneTool {

class Failure;
class TemperatureSensor;

// The virtual bench of --sim: a Corvane chip on the simulated host with an
// EEPROM of 32 KiB (64-byte pages) at 0x50, an SMBus device with PEC and byte
// counts at 0x0b, and a temperature sensor at 0x48. A state file keeps the
// chip's flash, its run-time settings and the targets' memories between runs,
// as if the chip stayed plugged in; it enumerates with the IDs of its flash.
class SimBench {
  public:
    static constexpr std::uint8_t kEepromAddress = 0x50;
    static constexpr std::size_t kEepromSize = 32 * 1024;
    static constexpr std::size_t kEepromPage = 64;
    static constexpr std::uint8_t kSmbusAddress = 0x0B;
    static constexpr std::uint8_t kSensorAddress = 0x48;

    // Loads `stateFile` unless `fresh` or it does not exist yet; throws
    // Failure naming the file for one it cannot read or use whole, and then
    // keeps nothing of it. Plugs the chip into `host`, or into a simulated
    // host it installs.
    SimBench(std::filesystem::path stateFile, bool fresh,
             std::shared_ptr<Corvane::Sim::SimulatedHost> host = nullptr);
    ~SimBench();

    // $XDG_STATE_HOME/corvane/sim-state.json, or %LOCALAPPDATA%\corvane\... on
    // Windows, or ~/.local/state/corvane/...
    static std::filesystem::path DefaultStateFile();

    std::shared_ptr<Corvane::Sim::SimulatedHost> Host() const { return host_; }
    const Corvane::Sim::VirtualDevice& Chip() const { return *chip_; }
    // The chip, for programs that carry its reports themselves.
    std::shared_ptr<Corvane::Sim::VirtualDevice> SharedChip() const { return chip_; }

    // Writes the state file (whole file replaced at once); throws Failure.
    // Leaves the simulated host, untraced, as the platform.
    void Save() const;

  private:
    // Returns the run-time settings kept in the file, if any.
    std::optional<RunningSettings> Load();
    std::optional<RunningSettings> ReadRunningSettings() const;
    void RestoreRunningSettings(const RunningSettings& running);
    void Fill();
    Failure Damaged(const std::string& why) const;

    std::filesystem::path stateFile_;
    std::shared_ptr<Corvane::Sim::SimulatedHost> host_;
    std::shared_ptr<Corvane::Sim::VirtualDevice> chip_;
    std::shared_ptr<Corvane::Sim::Eeprom> eeprom_;
    std::shared_ptr<Corvane::Sim::SmbusDevice> smbus_;
    std::shared_ptr<TemperatureSensor> sensor_;
};

}  // namespace CorvaneTool

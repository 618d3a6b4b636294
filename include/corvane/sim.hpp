// SPDX-License-Identifier: MIT
#pragma once

// The simulated host and the virtual Corvane chip: run and test applications
// without hardware.
//
//   auto host = Corvane::Sim::SimulatedHost::Install();
//   auto chip = std::make_shared<Corvane::Sim::VirtualDevice>();
//   host->Plug(chip);
//   Corvane::VrelUsbI2c bridge;   // now finds the virtual chip
#include "corvane/sim/Eeprom.hpp"
#include "corvane/sim/I2cTarget.hpp"
#include "corvane/sim/SimulatedHost.hpp"
#include "corvane/sim/SmbusDevice.hpp"
#include "corvane/sim/VirtualDevice.hpp"

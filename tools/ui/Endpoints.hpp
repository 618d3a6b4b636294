// SPDX-License-Identifier: MIT
#pragma once

// The web interface's endpoints: each calls the function the tool's command
// of the same purpose calls (scan, get, set, transfer, eeprom, gpio, dac,
// adc, interrupt, settings, list), on the bridge chosen in the interface.

#include <memory>

#include "../Tool.hpp"
#include "Api.hpp"
#include "Confirmations.hpp"

namespace CorvaneTool::Ui {

// What the interface works on: its own handle on the bridge chosen on the
// bridges page (first the one the tool's options choose), never the library's
// process-wide selection; and the confirmations of flash writes.
class Workbench {
  public:
    explicit Workbench(Tool& tool) : tool_(tool) {}

    Tool& GetTool() { return tool_; }
    // The chosen bridge, opened when first needed.
    Corvane::BridgeHandle& Bridge();
    const std::shared_ptr<Corvane::BridgeHandle>& Shared();
    // A handle on the bridge with this serial number (or at this path); a
    // Failure BRIDGE_NOT_FOUND when none is attached.
    void Choose(const std::string& serial, const std::string& path);
    // The path of the chosen bridge; empty when none could be opened.
    std::string ChosenPath();
    // The bus of the chosen bridge at the tool's --speed.
    Corvane::I2cBus Bus(bool pec = false);

    Confirmations confirmations;

  private:
    Tool& tool_;
    std::shared_ptr<Corvane::BridgeHandle> handle_;
};

void AddEndpoints(Api& api, Workbench& bench);

}  // namespace CorvaneTool::Ui

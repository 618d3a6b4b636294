// SPDX-License-Identifier: MIT
// Built only against the installed package: find_package(corvane).
#include <corvane/corvane.hpp>
#include <corvane/sim.hpp>

#include <cstdio>
#include <memory>

int main() {
    auto host = Corvane::Sim::SimulatedHost::Install();
    host->Plug(std::make_shared<Corvane::Sim::VirtualDevice>());
    Corvane::VrelUsbI2c bridge;
    const bool connected = bridge.Settings->GetConnectionStatus();
    const int count = bridge.Management->GetDevCount();
    std::printf("connected=%d count=%d\n", connected ? 1 : 0, count);
    return connected && count == 1 ? 0 : 1;
}

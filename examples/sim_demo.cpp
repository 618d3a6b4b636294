// SPDX-License-Identifier: MIT
// Drives a virtual Corvane bridge on the simulated host: no hardware needed.
#include <corvane/corvane.hpp>
#include <corvane/sim.hpp>

#include <cstdio>
#include <memory>

int main() {
    auto host = Corvane::Sim::SimulatedHost::Install();
    auto chip = std::make_shared<Corvane::Sim::VirtualDevice>();
    host->Plug(chip);

    Corvane::VrelUsbI2c bridge;
    const bool connected = bridge.Settings->GetConnectionStatus();
    std::printf("connected: %s\n", connected ? "yes" : "no");
    std::printf("devices:   %d\n", bridge.Management->GetDevCount());
    std::printf("selected:  %d (%s)\n", bridge.Management->GetSelectedDevNum(),
                bridge.Management->GetSelectedDevInfo().c_str());
    std::printf("reports exchanged: %zu, virtual time: %lld us\n", host->Trace().size(),
                static_cast<long long>(host->Now().count()));
    return connected && bridge.Management->GetDevCount() == 1 ? 0 : 1;
}

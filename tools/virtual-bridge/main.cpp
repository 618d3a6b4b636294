// SPDX-License-Identifier: MIT
// corvane-virtual-bridge: virtual Corvane bridges as real devices of this
// machine's kernel, through uhid or a USB gadget, so that any program can be
// tested against them. The firmware is the virtual chip with the bench of
// targets of `corvane --sim`.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <CLI/CLI.hpp>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "../CommandLine.hpp"
#include "../SimBench.hpp"
#include "Port.hpp"

namespace {

using Clock = std::chrono::steady_clock;

struct Bridge {
    std::unique_ptr<CorvaneTool::SimBench> bench;
    std::shared_ptr<Corvane::Sim::VirtualDevice> chip;
    std::unique_ptr<VirtualBridge::Port> port;
};

// Hands one report from the host to the chip and its answers back; a reset
// of the chip takes the device away and brings it back with the identities
// of its flash, as the chip's USB interface does.
void Serve(Bridge& bridge, const VirtualBridge::Report& report, Clock::time_point start) {
    const auto now = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start);
    const std::uint64_t generation = bridge.chip->Generation();
    bridge.chip->Receive(report, now);
    if (bridge.chip->Generation() != generation) {
        bridge.port->Remove();
        bridge.port->Enumerate(bridge.chip->Enumeration());
        return;
    }
    while (const auto response = bridge.chip->TakeResponse()) {
        if (!bridge.port->Write(*response)) break;  // the host went away; it asks again
    }
}

std::string StateFile(const std::string& base, int index) {
    if (base.empty() || index == 0) return base;
    return base + "." + std::to_string(index + 1);
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "Makes virtual Corvane bridges appear as real USB HID devices of this machine. Prints "
        "'ready' once every bridge is enumerated and serves them until SIGTERM or SIGINT.",
        "corvane-virtual-bridge"};
    app.set_version_flag("--version",
                         std::string("corvane-virtual-bridge ") + CORVANE_TOOL_VERSION);
    app.footer(
        "Exit status: 0 after a signal, 1 when a bridge could not be made or its state kept,\n"
        "2 for a wrong command line. 'man corvane-virtual-bridge' describes it all.");
    bool uhid = false;
    bool gadget = false;
    std::string udc;
    int count = 1;
    std::string state;
    app.add_flag("--uhid", uhid, "HID devices through /dev/uhid (module uhid; the default)");
    auto* gadgetOption = app.add_flag(
        "--usb-gadget", gadget,
        "USB devices through configfs' HID function on a USB device controller (modules "
        "libcomposite, usb_f_hid and a UDC: dummy_hcd, or a real device port)");
    app.add_option("--udc", udc, "The USB device controller (default: the first free ones)")
        ->needs(gadgetOption);
    app.add_option("--count", count, "How many bridges")->check(CLI::Range(1, 16));
    app.add_option("--sim-state", state,
                   "Keeps the chip's flash and the targets' memories in FILE (the N-th further "
                   "bridge in FILE.N), as `corvane --sim --sim-state FILE` does")
        ->type_name("FILE");
    if (const auto status = CorvaneTool::ParseCommandLine(app, argc, argv)) return *status;
    if (uhid && gadget) {
        std::cerr << "corvane-virtual-bridge: --uhid and --usb-gadget exclude each other\n";
        return 2;
    }
    if (!udc.empty() && count > 1) {
        std::cerr << "corvane-virtual-bridge: --udc names one controller: use it with --count 1\n";
        return 2;
    }

    // SIGTERM and SIGINT arrive as readable data, so that serving ends between reports.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    sigprocmask(SIG_BLOCK, &stop, nullptr);
    const int signals = signalfd(-1, &stop, SFD_CLOEXEC);
    ::signal(SIGPIPE, SIG_IGN);

    const auto start = Clock::now();
    std::vector<Bridge> bridges;
    int status = 0;
    try {
        for (int i = 0; i < count; ++i) {
            Bridge bridge;
            const std::string file = StateFile(state, i);
            bridge.bench = std::make_unique<CorvaneTool::SimBench>(file, file.empty());
            bridge.chip = bridge.bench->SharedChip();
            bridge.port =
                gadget ? VirtualBridge::MakeGadgetPort(i, udc) : VirtualBridge::MakeUhidPort(i);
            bridge.port->Enumerate(bridge.chip->Enumeration());
            bridges.push_back(std::move(bridge));
        }
        std::cout << "ready" << std::endl;

        for (bool serving = true; serving;) {
            std::vector<pollfd> fds{{signals, POLLIN, 0}};
            std::vector<Bridge*> owners{nullptr};
            bool away = false;
            for (auto& bridge : bridges) {
                if (bridge.port->Fd() < 0) {
                    away = away || !bridge.port->Recover();
                    if (bridge.port->Fd() < 0) continue;
                }
                fds.push_back({bridge.port->Fd(), POLLIN, 0});
                owners.push_back(&bridge);
            }
            // A device taken away from outside (an unbound UDC) is looked for again now and then.
            if (::poll(fds.data(), fds.size(), away ? 100 : -1) < 0 && errno != EINTR) break;
            if (fds[0].revents != 0) serving = false;
            for (std::size_t i = 1; i < fds.size() && serving; ++i) {
                if (fds[i].revents == 0) continue;
                try {
                    if (const auto report = owners[i]->port->Read()) {
                        Serve(*owners[i], *report, start);
                    }
                } catch (const VirtualBridge::PortError& error) {
                    std::cerr << "corvane-virtual-bridge: " << error.what() << '\n';
                }
            }
        }
    } catch (const std::exception& error) {
        std::cerr << "corvane-virtual-bridge: " << error.what() << '\n';
        status = 1;
    }
    for (auto& bridge : bridges) {
        bridge.port->Remove();
        if (!state.empty()) {
            try {
                bridge.bench->Save();
            } catch (const std::exception& error) {
                std::cerr << "corvane-virtual-bridge: " << error.what() << '\n';
                status = 1;
            }
        }
    }
    return status;
}

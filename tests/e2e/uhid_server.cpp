// SPDX-License-Identifier: MIT
// Serves virtual Corvane chips as real HID devices through /dev/uhid, inside
// the end-to-end test's VM. The driver program controls it with one command per
// line on stdin and gets one answer line per command on stdout:
//   create NAME VID PID SERIAL   (hex IDs; NAME is created anew or comes back) -> ok
//   destroy NAME                 (the HID device disappears)                   -> ok
//   replug NAME MS               (disappears and comes back MS ms later)        -> ok
//   silent NAME 0|1              (the chip takes commands and answers none)     -> ok
//   count NAME CODE              (commands with that hex code received)         -> <number>
//   sync                         (answers once earlier reports are handled)     -> ok
//   quit
// A chip that resets leaves and comes back 100 ms later, as on USB. Every chip
// has a 32 KiB EEPROM (64-byte pages) at 7-bit address 0x50 on its bus.
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <corvane/Utf.hpp>
#include <corvane/sim.hpp>

#include "Port.hpp"

namespace {

using Corvane::Sim::VirtualDevice;
using VirtualBridge::Port;
using VirtualBridge::PortError;
using Clock = std::chrono::steady_clock;

const Clock::time_point kStart = Clock::now();

struct Served {
    std::shared_ptr<VirtualDevice> chip;
    std::string name;
    std::string serial;
    std::unique_ptr<Port> port;
};

// Creates the HID device and waits until a driver has started it.
bool Create(Served& served) {
    Corvane::Sim::UsbEnumeration identity;
    identity.vid = served.chip->EnumeratedVid();
    identity.pid = served.chip->EnumeratedPid();
    identity.manufacturer = u"Corvane";
    identity.product = u"E2E " + Corvane::Utf8ToUtf16(served.name);
    identity.serialNumber = Corvane::Utf8ToUtf16(served.serial);
    try {
        served.port->Enumerate(identity);
        return true;
    } catch (const PortError& error) {
        std::fprintf(stderr, "uhid_server: %s\n", error.what());
        return false;
    }
}

void Destroy(Served& served) {
    served.port->Remove();
}

bool Replug(Served& served, int ms) {
    Destroy(served);
    ::usleep(static_cast<useconds_t>(ms) * 1000);
    return Create(served);
}

// Handles one event of a device; false when its uhid descriptor failed.
bool Service(Served& served) {
    std::optional<Corvane::Sim::Report> command;
    try {
        command = served.port->Read();
    } catch (const PortError&) {
        return false;
    }
    if (!command) return true;
    const auto now = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - kStart);
    const std::uint64_t generation = served.chip->Generation();
    served.chip->Receive(*command, now);
    if (served.chip->Generation() != generation) return Replug(served, 100);
    while (const auto response = served.chip->TakeResponse()) {
        if (!served.port->Write(*response)) return false;
    }
    return true;
}

std::string Execute(std::map<std::string, Served>& devices, const std::string& line) {
    std::istringstream in(line);
    std::string verb;
    std::string name;
    in >> verb >> name;
    if (verb == "create") {
        unsigned vid = 0;
        unsigned pid = 0;
        std::string serial;
        in >> std::hex >> vid >> pid >> serial;
        Served& served = devices[name];
        if (!served.port)
            served.port = VirtualBridge::MakeUhidPort(static_cast<int>(devices.size()));
        if (!served.chip) {
            served.chip = std::make_shared<VirtualDevice>(static_cast<std::uint16_t>(vid),
                                                          static_cast<std::uint16_t>(pid));
            served.chip->AttachTarget(0x50, std::make_shared<Corvane::Sim::Eeprom>(32768, 64));
        }
        served.name = name;
        served.serial = serial;
        Destroy(served);
        return Create(served) ? "ok" : "error create " + name;
    }
    if (verb == "sync") return "ok";
    const auto it = devices.find(name);
    if (it == devices.end()) return "error no device " + name;
    Served& served = it->second;
    if (verb == "destroy") {
        Destroy(served);
        return "ok";
    }
    if (verb == "replug") {
        int ms = 0;
        in >> ms;
        return Replug(served, ms) ? "ok" : "error replug " + name;
    }
    if (verb == "silent") {
        int on = 0;
        in >> on;
        served.chip->SetSilent(on != 0);
        return "ok";
    }
    if (verb == "count") {
        unsigned code = 0;
        in >> std::hex >> code;
        return std::to_string(served.chip->CommandCount(static_cast<std::uint8_t>(code)));
    }
    return "error unknown command " + verb;
}

}  // namespace

int main() {
    std::map<std::string, Served> devices;
    std::string pending;
    for (;;) {
        std::vector<pollfd> fds{{STDIN_FILENO, POLLIN, 0}};
        std::vector<Served*> owners{nullptr};
        for (auto& [name, served] : devices) {
            if (!served.port || served.port->Fd() < 0) continue;
            fds.push_back({served.port->Fd(), POLLIN, 0});
            owners.push_back(&served);
        }
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) continue;
            return 1;
        }
        for (std::size_t i = 1; i < fds.size(); ++i) {
            if ((fds[i].revents & POLLIN) != 0 && !Service(*owners[i])) Destroy(*owners[i]);
        }
        if (fds[0].revents == 0) continue;
        char buffer[256];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) break;
        pending.append(buffer, static_cast<std::size_t>(n));
        for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
            const std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (line == "quit") return 0;
            std::cout << Execute(devices, line) << std::endl;
        }
    }
    return 0;
}

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
#include <fcntl.h>
#include <linux/uhid.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <corvane/sim.hpp>

namespace {

using Corvane::Sim::Report;
using Corvane::Sim::VirtualDevice;
using Clock = std::chrono::steady_clock;

const Clock::time_point kStart = Clock::now();

struct Served {
    std::shared_ptr<VirtualDevice> chip;
    std::string name;
    std::string serial;
    int uhid = -1;
};

bool Send(int fd, const uhid_event& event) {
    return ::write(fd, &event, sizeof event) == static_cast<ssize_t>(sizeof event);
}

bool Replug(Served& served, int ms);

// Handles one event of a device; false when its uhid descriptor failed.
bool Service(Served& served) {
    uhid_event event{};
    const ssize_t n = ::read(served.uhid, &event, sizeof event);
    if (n < 0) return errno == EAGAIN || errno == EINTR;
    if (n == 0) return false;
    switch (event.type) {
        case UHID_OUTPUT: {
            // hidraw passes the report ID 0 on; the chip sees 64 bytes.
            const std::size_t size = event.u.output.size;
            const std::uint8_t* data = event.u.output.data;
            if (size == 65 && data[0] == 0) {
                ++data;
            } else if (size != 64) {
                std::fprintf(stderr, "uhid_server: output report of %zu bytes ignored\n", size);
                break;
            }
            Report command{};
            std::memcpy(command.data(), data, command.size());
            const auto now =
                std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - kStart);
            const std::uint64_t generation = served.chip->Generation();
            served.chip->Receive(command, now);
            if (served.chip->Generation() != generation) return Replug(served, 100);
            while (const auto response = served.chip->TakeResponse()) {
                uhid_event input{};
                input.type = UHID_INPUT2;
                input.u.input2.size = static_cast<std::uint16_t>(response->size());
                std::memcpy(input.u.input2.data, response->data(), response->size());
                if (!Send(served.uhid, input)) return false;
            }
            break;
        }
        case UHID_GET_REPORT: {
            uhid_event reply{};
            reply.type = UHID_GET_REPORT_REPLY;
            reply.u.get_report_reply.id = event.u.get_report.id;
            reply.u.get_report_reply.err = EIO;
            Send(served.uhid, reply);
            break;
        }
        case UHID_SET_REPORT: {
            uhid_event reply{};
            reply.type = UHID_SET_REPORT_REPLY;
            reply.u.set_report_reply.id = event.u.set_report.id;
            reply.u.set_report_reply.err = EIO;
            Send(served.uhid, reply);
            break;
        }
        default:  // START, STOP, OPEN, CLOSE
            break;
    }
    return true;
}

void CopyText(std::uint8_t* field, std::size_t capacity, const std::string& text) {
    std::memcpy(field, text.data(), std::min(text.size(), capacity - 1));
}

// Creates the HID device and waits until a driver has started it.
bool Create(Served& served) {
    const std::string& name = served.name;
    const std::string& serial = served.serial;
    served.uhid = ::open("/dev/uhid", O_RDWR | O_CLOEXEC | O_NONBLOCK);
    if (served.uhid < 0) return false;
    uhid_event event{};
    event.type = UHID_CREATE2;
    CopyText(event.u.create2.name, sizeof event.u.create2.name, "Corvane E2E " + name);
    CopyText(event.u.create2.phys, sizeof event.u.create2.phys, "corvane-e2e/" + name);
    CopyText(event.u.create2.uniq, sizeof event.u.create2.uniq, serial);
    const auto descriptor = VirtualDevice::HidReportDescriptor();
    event.u.create2.rd_size = static_cast<std::uint16_t>(descriptor.size());
    event.u.create2.bus = 0x03;  // USB
    event.u.create2.vendor = served.chip->EnumeratedVid();
    event.u.create2.product = served.chip->EnumeratedPid();
    event.u.create2.version = 0x0100;
    std::memcpy(event.u.create2.rd_data, descriptor.data(), descriptor.size());
    if (!Send(served.uhid, event)) return false;
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < deadline) {
        pollfd fds{served.uhid, POLLIN, 0};
        if (::poll(&fds, 1, 100) <= 0) continue;
        uhid_event reply{};
        if (::read(served.uhid, &reply, sizeof reply) <= 0) continue;
        if (reply.type == UHID_START) return true;
    }
    return false;
}

void Destroy(Served& served) {
    if (served.uhid < 0) return;
    ::close(served.uhid);  // the kernel removes the device before close() returns
    served.uhid = -1;
}

bool Replug(Served& served, int ms) {
    Destroy(served);
    ::usleep(static_cast<useconds_t>(ms) * 1000);
    return Create(served);
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
            if (served.uhid < 0) continue;
            fds.push_back({served.uhid, POLLIN, 0});
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

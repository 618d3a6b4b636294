// SPDX-License-Identifier: MIT
// The end-to-end test inside the VM: starts uhid_server, which makes virtual
// chips real HID devices, and drives them through the Linux backend and the
// library. Prints "E2E PASS name" or "E2E FAIL name: why" per check, timing
// lines "E2E BENCH ...", and "E2E DONE passed=N failed=M" last.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include <corvane/corvane.hpp>

#include "platform/linux/LinuxHidrawPlatform.hpp"
#include "transport/DevComTransport.hpp"

namespace {

using Clock = std::chrono::steady_clock;
using Corvane::Report;

constexpr std::uint16_t kVid = 0x3A7C;
constexpr std::uint16_t kPid = 0x01D5;

int passed = 0;
int failed = 0;

void Check(const std::string& name, bool ok, const std::string& why = {}) {
    if (ok) {
        ++passed;
        std::printf("E2E PASS %s\n", name.c_str());
    } else {
        ++failed;
        std::printf("E2E FAIL %s: %s\n", name.c_str(), why.c_str());
    }
    std::fflush(stdout);
}

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// uhid_server as a child with a pipe each way.
class Server {
  public:
    explicit Server(const char* path) {
        int toChild[2];
        int fromChild[2];
        if (::pipe2(toChild, O_CLOEXEC) != 0 || ::pipe2(fromChild, O_CLOEXEC) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(toChild[0], STDIN_FILENO);
            ::dup2(fromChild[1], STDOUT_FILENO);
            ::execl(path, path, static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(toChild[0]);
        ::close(fromChild[1]);
        in_ = toChild[1];
        out_ = fromChild[0];
    }

    ~Server() {
        Command("quit", false);
        if (pid_ > 0) ::waitpid(pid_, nullptr, 0);
    }

    // Sends one command line and returns the answer line ("" when none came).
    std::string Command(const std::string& line, bool answer = true) {
        const std::string text = line + "\n";
        if (::write(in_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) return {};
        if (!answer) return {};
        std::string reply;
        const auto deadline = Clock::now() + std::chrono::seconds(20);
        while (Clock::now() < deadline) {
            pollfd fds{out_, POLLIN, 0};
            if (::poll(&fds, 1, 100) <= 0) continue;
            char c = 0;
            if (::read(out_, &c, 1) != 1) break;
            if (c == '\n') return reply;
            reply.push_back(c);
        }
        return reply;
    }

    bool Ok(const std::string& line) { return Command(line) == "ok"; }

    long Count(const std::string& device, std::uint8_t code) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "%x", code);
        const std::string reply = Command("count " + device + " " + hex);
        return reply.empty() ? -1 : std::strtol(reply.c_str(), nullptr, 10);
    }

  private:
    pid_t pid_ = -1;
    int in_ = -1;
    int out_ = -1;
};

// Waits until sysfs lists `count` hidraw nodes and their device files exist.
bool WaitForNodes(std::size_t count) {
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    Corvane::LinuxHidrawPlatform platform;
    while (Clock::now() < deadline) {
        const auto interfaces = platform.ListHidInterfaces();
        const bool present = std::all_of(interfaces.begin(), interfaces.end(), [](const auto& i) {
            const std::string path(i.path.begin(), i.path.end());
            return ::access(path.c_str(), F_OK) == 0;
        });
        if (interfaces.size() == count && present) return true;
        ::usleep(10'000);
    }
    return false;
}

// One status exchange at the transport, as the command operations run it:
// -4 when the write fails, -5 when no answer comes, -6 for another answer.
int TransportStatusExchange() {
    Report command{};
    command[0] = 0x10;
    if (!Corvane::DevComTransport::WriteReport(command)) return Corvane::REPORT_WRITE_FAILED;
    Report response{};
    if (!Corvane::DevComTransport::ReadReport(response)) return Corvane::REPORT_READ_FAILED;
    return response[0] == 0x10 ? 0 : Corvane::RESPONSE_MISMATCH;
}

// One status command through the public API (the ADC readings ride on it).
int Status(Corvane::VrelUsbI2c& bridge) {
    std::uint16_t adc[5] = {};
    return bridge.Functions->GetAdcData(adc);
}

std::string Describe(int code) {
    return std::to_string(code) + " (" + Corvane::ResultCodeName(code) + ")";
}

void CheckDiscovery(Corvane::VrelUsbI2c& bridge) {
    Corvane::LinuxHidrawPlatform platform;
    const auto interfaces = platform.ListHidInterfaces();
    const std::vector<std::pair<std::u16string, std::u16string>> expected = {
        {u"HID\\VID_3A7C&PID_01D5", u"E2E-A"},
        {u"HID\\VID_1234&PID_5678", u"E2E-F"},
        {u"HID\\VID_3A7C&PID_01D5", u"E2E-B"},
    };
    bool listed = interfaces.size() == expected.size();
    for (std::size_t i = 0; listed && i < expected.size(); ++i) {
        const std::string path = "/dev/hidraw" + std::to_string(i);
        listed = interfaces[i].hardwareIds.size() == 1 &&
                 interfaces[i].hardwareIds[0] == expected[i].first &&
                 interfaces[i].serialNumber == expected[i].second &&
                 interfaces[i].path == std::u16string(path.begin(), path.end());
    }
    Check("hidraw_nodes_listed", listed,
          "expected hidraw0..2 with the two bridges around the foreign device, got " +
              std::to_string(interfaces.size()) + " nodes");

    const bool connected = bridge.Settings->GetConnectionStatus();
    Check("discovery_two_of_three", connected && bridge.Management->GetDevCount() == 2,
          "connected=" + std::to_string(connected) +
              " count=" + std::to_string(bridge.Management->GetDevCount()));
    Check("first_device_selected", bridge.Management->GetSelectedDevInfo() == "/dev/hidraw0",
          "selected " + bridge.Management->GetSelectedDevInfo());

    const auto nodes = Corvane::ProbeDeviceNodes(kVid, kPid);
    Check("probe_lists_both",
          nodes.size() == 2 && nodes[0].serialNumber == "E2E-A" &&
              nodes[1].serialNumber == "E2E-B" && nodes[0].opens && nodes[1].opens &&
              nodes[0].productName == "Corvane E2E A",
          std::to_string(nodes.size()) + " nodes");
}

// Tools must be able to say that permissions keep a user out: probe as nobody.
void CheckPermissionDiagnostics() {
    ::chmod("/dev/hidraw0", 0666);
    ::chmod("/dev/hidraw2", 0600);
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return Check("probe_permissions", false, "pipe");
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeFds[0]);
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
        std::string text;
        for (const auto& node : Corvane::ProbeDeviceNodes(kVid, kPid)) {
            text += node.path + " " + std::to_string(node.opens) + " " +
                    std::to_string(node.errorNumber) + " " + node.errorText + ";";
        }
        [[maybe_unused]] const ssize_t n = ::write(pipeFds[1], text.data(), text.size());
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    std::string text;
    char buffer[512];
    for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(pipeFds[0]);
    ::waitpid(child, nullptr, 0);
    const std::string expected =
        "/dev/hidraw0 1 0 ;/dev/hidraw2 0 " + std::to_string(EACCES) + " Permission denied;";
    Check("probe_permissions", text == expected, "got '" + text + "'");
    ::chmod("/dev/hidraw0", 0600);
}

void CheckExchangeAndSelection(Corvane::VrelUsbI2c& bridge, Server& server) {
    const long before = server.Count("A", 0x10);
    const int rc = Status(bridge);
    Check("status_exchange", rc == 0 && server.Count("A", 0x10) == before + 1,
          "rc " + Describe(rc));
    const int level = bridge.Functions->ReadGpioPinValue(0);
    Check("gpio_read", level == 0 || level == 1, "read " + Describe(level));

    const long countB = server.Count("B", 0x10);
    const int select = bridge.Management->SelectDev(1);
    const bool connected = bridge.Settings->GetConnectionStatus();
    const int rcB = Status(bridge);
    const int levelB = bridge.Functions->ReadGpioPinValue(0);
    Check(
        "select_second_device",
        select == 0 && connected && bridge.Management->GetSelectedDevInfo() == "/dev/hidraw2" &&
            rcB == 0 && server.Count("B", 0x10) == countB + 1 && (levelB == 0 || levelB == 1),
        "select " + std::to_string(select) + " rc " + Describe(rcB) + " level " + Describe(levelB));
    bridge.Management->SelectDev(0);
    bridge.Settings->GetConnectionStatus();
}

// Flash and current settings of the connected chip through the Settings facet.
void CheckSettings(Corvane::VrelUsbI2c& bridge) {
    auto& settings = *bridge.Settings;
    const auto vid = settings.GetUsbVid();
    const auto pid = settings.GetUsbPid();
    const auto firmware = settings.GetFirmwareVersion();
    Check("settings_identity", vid == kVid && pid == kPid && firmware && !firmware->empty(),
          "vid " + std::to_string(vid) + " pid " + std::to_string(pid));

    const int set = settings.SetUsbStringDescriptor(u"Corvane over uhid");
    const auto text = settings.GetUsbStringDescriptor();
    Check("settings_string_round_trip", set == 0 && text == u"Corvane over uhid", Describe(set));

    // GP0 as an output in the current settings, then driven high and read back.
    const int direction =
        settings.SetGpPinDirection(Corvane::DllConstants::CURRENT_SETTINGS_ONLY, 0, 0);
    const int wrote = bridge.Functions->WriteGpioPinValue(0, 1);
    const int level = bridge.Functions->ReadGpioPinValue(0);
    Check("settings_gpio_output", direction == 0 && wrote == 0 && level == 1,
          "direction " + Describe(direction) + " write " + Describe(wrote) + " level " +
              Describe(level));
}

constexpr std::uint8_t kEepromWrite = 0xA0;  // 7-bit address 0x50
constexpr std::uint8_t kEepromRead = 0xA1;

int I2cWrite(Corvane::VrelUsbI2c& bridge, std::uint8_t address,
             const std::vector<std::uint8_t>& data, std::uint32_t speed) {
    return bridge.Functions->WriteI2cData(address, data, static_cast<std::uint32_t>(data.size()),
                                          speed);
}

int I2cRead(Corvane::VrelUsbI2c& bridge, std::uint8_t address, std::vector<std::uint8_t>& data,
            std::uint32_t speed) {
    return bridge.Functions->ReadI2cData(address, data, static_cast<std::uint32_t>(data.size()),
                                         speed);
}

// Reads `count` bytes of the EEPROM from `address` (random read: address, then read).
std::vector<std::uint8_t> ReadEeprom(Corvane::VrelUsbI2c& bridge, std::uint16_t address,
                                     std::size_t count, int& rc) {
    const std::vector<std::uint8_t> pointer = {static_cast<std::uint8_t>(address >> 8),
                                               static_cast<std::uint8_t>(address & 0xFF)};
    std::vector<std::uint8_t> data(count);
    rc = I2cWrite(bridge, kEepromWrite, pointer, 400000);
    if (rc == 0) rc = I2cRead(bridge, kEepromRead, data, 400000);
    return data;
}

// Two 64-byte pages written at 100 kHz and read back in one transfer at 400 kHz.
std::vector<std::uint8_t> EepromPattern() {
    std::vector<std::uint8_t> pattern(128);
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        pattern[i] = static_cast<std::uint8_t>(i * 7 + 3);
    }
    return pattern;
}

void CheckI2c(Corvane::VrelUsbI2c& bridge) {
    const auto pattern = EepromPattern();
    int written = 0;
    for (std::size_t page = 0; page < 2 && written == 0; ++page) {
        std::vector<std::uint8_t> data(2 + 64);
        data[0] = 0x01;
        data[1] = static_cast<std::uint8_t>(page * 64);
        std::copy_n(pattern.begin() + static_cast<std::ptrdiff_t>(page * 64), 64, data.begin() + 2);
        written = I2cWrite(bridge, kEepromWrite, data, 100000);
    }
    int rc = 0;
    const auto back = ReadEeprom(bridge, 0x0100, pattern.size(), rc);
    Check("i2c_eeprom_round_trip", written == 0 && rc == 0 && back == pattern,
          "write " + Describe(written) + " read " + Describe(rc));

    const int missing = I2cWrite(bridge, 0x60, {0x00}, 100000);
    Check("i2c_no_target", missing == Corvane::I2C_NOT_ACKNOWLEDGED, Describe(missing));

    // The other bridge has its own EEPROM, still erased.
    bridge.Management->SelectDev(1);
    bridge.Settings->GetConnectionStatus();
    const auto other = ReadEeprom(bridge, 0x0100, 4, rc);
    Check("i2c_other_device", rc == 0 && other == std::vector<std::uint8_t>(4, 0xFF), Describe(rc));
    bridge.Management->SelectDev(0);
    bridge.Settings->GetConnectionStatus();
}

void CheckSilentDevice(Corvane::VrelUsbI2c& bridge, Server& server) {
    if (!server.Ok("silent A 1")) return Check("silent_device", false, "server");
    const auto start = Clock::now();
    const int rc = Status(bridge);
    const double ms = MsSince(start);
    Check("silent_device_read_fails", rc == Corvane::REPORT_READ_FAILED && ms >= 990 && ms < 2000,
          "rc " + Describe(rc) + " after " + std::to_string(ms) + " ms");
    Check("silent_device_disconnects", !Corvane::DevComTransport::IsConnected(), "still connected");
    server.Ok("silent A 0");
    const int again = Status(bridge);
    Check("silent_device_reconnects", again == 0 && Corvane::DevComTransport::IsConnected(),
          Describe(again));
}

void CheckDestroyedDevice(Corvane::VrelUsbI2c& bridge, Server& server) {
    if (!server.Ok("destroy A")) return Check("destroyed_device", false, "server");
    auto start = Clock::now();
    const int first = Status(bridge);
    const double firstMs = MsSince(start);
    Check("destroyed_device_fails", first < 0 && firstMs < 1500,
          "rc " + Describe(first) + " after " + std::to_string(firstMs) + " ms");
    start = Clock::now();
    const int absent = Status(bridge);
    const double absentMs = MsSince(start);
    Check("destroyed_device_absent", absent == Corvane::REPORT_WRITE_FAILED && absentMs < 500,
          "rc " + Describe(absent) + " after " + std::to_string(absentMs) + " ms");
    Check("destroyed_device_count", bridge.Management->GetDevCount() == 1,
          "count " + std::to_string(bridge.Management->GetDevCount()));

    const bool created = server.Ok("create A 3a7c 01d5 E2E-A") && WaitForNodes(3);
    const int back = Status(bridge);
    Check("recreated_device_reconnects",
          created && back == 0 && bridge.Management->GetSelectedDevInfo() == "/dev/hidraw0" &&
              bridge.Management->GetDevCount() == 2,
          "created=" + std::to_string(created) + " rc " + Describe(back) + " selected " +
              bridge.Management->GetSelectedDevInfo());
}

// A device that leaves and comes back before the library notices, as after a
// USB reset: the library must not keep the old node's number occupied, or the
// device comes back under another one and is never found at the selection.
void CheckComeback(Corvane::VrelUsbI2c& bridge, const std::string& name,
                   const std::function<bool()>& leaveAndReturn) {
    if (Status(bridge) != 0) return Check(name, false, "not connected before");
    const bool back = leaveAndReturn() && WaitForNodes(3);
    const int first = Status(bridge);
    const int second = Status(bridge);
    Check(name,
          back && first != 0 && second == 0 &&
              bridge.Management->GetSelectedDevInfo() == "/dev/hidraw0" &&
              bridge.Management->GetDevCount() == 2,
          "back=" + std::to_string(back) + " first " + Describe(first) + " second " +
              Describe(second) + " selected " + bridge.Management->GetSelectedDevInfo() +
              " count " + std::to_string(bridge.Management->GetDevCount()));
}

// The chip that came back is the same chip: its EEPROM kept what was written.
void CheckSameChipAfterComebacks(Corvane::VrelUsbI2c& bridge) {
    int rc = 0;
    const auto back = ReadEeprom(bridge, 0x0100, 128, rc);
    Check("i2c_eeprom_after_comebacks", rc == 0 && back == EepromPattern(), Describe(rc));
}

void Benchmark(Corvane::VrelUsbI2c& bridge) {
    constexpr int kRounds = 200;
    const std::pair<const char*, std::function<int()>> kinds[] = {
        {"transport_status_exchange_hidraw", TransportStatusExchange},
        {"public_GetAdcData_hidraw", [&] { return Status(bridge); }},
    };
    for (const auto& [label, exchange] : kinds) {
        std::vector<double> us;
        for (int i = 0; i < kRounds; ++i) {
            const auto start = Clock::now();
            if (exchange() != 0) break;
            us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        }
        Check(std::string("bench_") + label, us.size() == kRounds,
              std::to_string(us.size()) + " exchanges");
        if (us.empty()) continue;
        std::sort(us.begin(), us.end());
        double sum = 0;
        for (double v : us) sum += v;
        std::printf(
            "E2E BENCH %s n=%zu mean_us=%.0f median_us=%.0f p90_us=%.0f min_us=%.0f "
            "max_us=%.0f\n",
            label, us.size(), sum / static_cast<double>(us.size()), us[us.size() / 2],
            us[us.size() * 9 / 10], us.front(), us.back());
    }
}

}  // namespace
int main(int argc, char** argv) {
    const char* serverPath = argc > 1 ? argv[1] : "/bin/corvane_uhid_server";
    ::signal(SIGPIPE, SIG_IGN);
    const auto start = Clock::now();
    {
        Server server(serverPath);
        const bool created = server.Ok("create A 3a7c 01d5 E2E-A") &&
                             server.Ok("create F 1234 5678 E2E-F") &&
                             server.Ok("create B 3a7c 01d5 E2E-B") && WaitForNodes(3);
        Check("uhid_devices_created", created, "uhid_server could not create the devices");
        if (created) {
            Corvane::VrelUsbI2c bridge;
            CheckDiscovery(bridge);
            CheckPermissionDiagnostics();
            CheckExchangeAndSelection(bridge, server);
            CheckSettings(bridge);
            CheckI2c(bridge);
            CheckSilentDevice(bridge, server);
            CheckDestroyedDevice(bridge, server);
            CheckComeback(bridge, "replugged_device_reconnects",
                          [&] { return server.Ok("replug A 100"); });
            CheckComeback(bridge, "reset_device_reconnects", [&] {
                const int reset = bridge.Functions->ResetDevice();
                return reset == 0 && server.Ok("sync");
            });
            CheckSameChipAfterComebacks(bridge);
            Benchmark(bridge);
        }
    }
    std::printf("E2E TIME driver_ms=%.0f\n", MsSince(start));
    std::printf("E2E DONE passed=%d failed=%d\n", passed, failed);
    return failed == 0 && passed > 0 ? 0 : 1;
}

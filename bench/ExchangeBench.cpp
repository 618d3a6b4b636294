// SPDX-License-Identifier: MIT
// One command exchange (status report out, response in) through the transport.
// The real hidraw path is timed inside the kernel end-to-end test's VM
// (tests/e2e, "E2E BENCH" line), where a real kernel serves the node.
#include <benchmark/benchmark.h>

#include <corvane/sim.hpp>

#include "transport/DevComTransport.hpp"

#if defined(__linux__)
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "platform/linux/LinuxHidrawPlatform.hpp"
#endif

namespace {

using Corvane::DevComTransport;
using Corvane::Report;

Report StatusCommand() {
    Report command{};
    command[0] = 0x10;
    return command;
}

void RunExchanges(benchmark::State& state) {
    const Report command = StatusCommand();
    Report response{};
    for (auto _ : state) {
        if (!DevComTransport::WriteReport(command) || !DevComTransport::ReadReport(response) ||
            response[0] != 0x10) {
            state.SkipWithError("exchange failed");
            break;
        }
        benchmark::DoNotOptimize(response);
    }
}

// The library's own cost: the simulated host with zero bus time per report.
void BM_StatusExchange_SimulatedHost(benchmark::State& state) {
    auto host = Corvane::Sim::SimulatedHost::Install();
    host->SetReportTime(std::chrono::microseconds(0));
    host->Plug(std::make_shared<Corvane::Sim::VirtualDevice>());
    DevComTransport::ResetState(0x3A7C, 0x01D5);
    RunExchanges(state);
    DevComTransport::ResetState(0x3A7C, 0x01D5);
    Corvane::SetPlatform(nullptr);
}
BENCHMARK(BM_StatusExchange_SimulatedHost);

#if defined(__linux__)
// The hidraw backend's own cost (poll/read, and the hand-off to the write
// thread) over two FIFOs, one each way, answered by a thread running the
// virtual chip; no kernel HID driver involved. Arg write_thread: 1 a plain
// node, written through the channel's write thread; 0 the same FIFO listed in
// the scratch sysfs tree as a uhid node, which the backend writes on the
// caller's thread. Counts the process's voluntary thread switches per exchange.
void BM_StatusExchange_HidrawBackendOverFifos(benchmark::State& state) {
    namespace fs = std::filesystem;
    char pattern[] = "/tmp/corvane-bench-XXXXXX";
    if (!::mkdtemp(pattern)) {
        state.SkipWithError("mkdtemp failed");
        return;
    }
    const fs::path root = pattern;
    const std::string toDevice = (root / "hidraw0").string();
    const std::string fromDevice = (root / "from-device").string();
    ::mkfifo(toDevice.c_str(), 0600);
    ::mkfifo(fromDevice.c_str(), 0600);
    if (state.range(0) == 0) {
        const fs::path node =
            root / "sys/devices/virtual/misc/uhid/0003:3A7C:01D5.0001/hidraw/hidraw0";
        fs::create_directories(node);
        fs::create_directory_symlink("../..", node / "device");
        fs::create_directories(root / "sys/class/hidraw");
        fs::create_directory_symlink(node, root / "sys/class/hidraw/hidraw0");
    }
    // O_RDWR: the device ends open at once and never see end-of-file.
    const int deviceIn = ::open(toDevice.c_str(), O_RDWR | O_CLOEXEC);
    const int deviceOut = ::open(fromDevice.c_str(), O_RDWR | O_CLOEXEC);
    std::atomic<bool> stop{false};
    std::thread chip([&] {
        Corvane::Sim::VirtualDevice device;
        std::uint8_t wire[Corvane::kWireReportSize];
        while (!stop && ::read(deviceIn, wire, sizeof wire) == sizeof wire) {
            Report command{};
            std::copy(wire + 1, wire + sizeof wire, command.begin());
            device.Receive(command, std::chrono::microseconds(0));
            while (const auto answer = device.TakeResponse()) {
                if (::write(deviceOut, answer->data(), answer->size()) != 64) return;
            }
        }
    });

    Corvane::LinuxHidrawPlatform platform((root / "sys").string(), root.string());
    const auto event = platform.CreateTransferEvent();
    const auto writer = platform.OpenChannel(std::u16string(toDevice.begin(), toDevice.end()),
                                             Corvane::ChannelAccess::Write);
    const auto reader = platform.OpenChannel(std::u16string(fromDevice.begin(), fromDevice.end()),
                                             Corvane::ChannelAccess::Read);
    std::array<std::uint8_t, Corvane::kWireReportSize> out{};
    out[1] = 0x10;
    std::array<std::uint8_t, Corvane::kWireReportSize> in{};
    const auto switches = [] {
        rusage usage{};
        ::getrusage(RUSAGE_SELF, &usage);
        return static_cast<double>(usage.ru_nvcsw);
    };
    const double switchesBefore = switches();
    for (auto _ : state) {
        if (platform.WriteReport(writer, event, out, 1000) != Corvane::TransferOutcome::Done ||
            platform.ReadReport(reader, event, in, 1000) != Corvane::TransferOutcome::Done ||
            in[1] != 0x10) {
            state.SkipWithError("exchange failed");
            break;
        }
    }
    state.counters["switches"] =
        benchmark::Counter(switches() - switchesBefore, benchmark::Counter::kAvgIterations);
    stop = true;
    platform.WriteReport(writer, event, out, 1000);  // wakes the chip thread
    chip.join();
    platform.CloseHandle(writer);
    platform.CloseHandle(reader);
    ::close(deviceIn);
    ::close(deviceOut);
    fs::remove_all(root);
}
BENCHMARK(BM_StatusExchange_HidrawBackendOverFifos)->ArgName("write_thread")->Arg(1)->Arg(0);
#endif

}  // namespace

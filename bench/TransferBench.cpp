// SPDX-License-Identifier: MIT
// Whole transfers against the bus and USB limit, the library's CPU and heap
// use per report exchange, and discovery among many HID interfaces.
//
//   corvane_bench --benchmark_filter=Transfer   ratios on the virtual clock
//   corvane_bench --benchmark_filter=Cpu        CPU and allocations per exchange
//   corvane_bench --benchmark_filter=Discovery  one discovery pass
//   corvane_bench --benchmark_filter=Handle     a bus bound to its bridge
#include <benchmark/benchmark.h>

#include <corvane/corvane.hpp>
#include <corvane/sim.hpp>

#include <algorithm>
#include <array>
#include <atomic>
#include <optional>
#include <string>
#include <vector>

#if defined(__linux__)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/linux/LinuxHidrawPlatform.hpp"
#endif

#include "AllocationCount.hpp"

namespace {

using Corvane::Pacing;
using Corvane::Sim::SimulatedHost;
using Corvane::Sim::VirtualDevice;
using std::chrono::microseconds;

constexpr std::uint8_t kTarget = 0x50;

// Takes every byte, gives a counting pattern.
class Sink : public Corvane::Sim::I2cTarget {
  public:
    bool Start(bool) override { return true; }
    bool WriteByte(std::uint8_t) override { return true; }
    std::uint8_t ReadByte() override { return next_++; }
    void Stop() override {}

  private:
    std::uint8_t next_ = 0;
};

// Σ per chunk max(one report exchange, the chunk's wire time): the time no
// pacing can beat, given one exchange per chunk. The first chunk also
// carries the address byte.
double LowerBoundUs(std::uint32_t size, std::uint32_t speed, double exchangeUs) {
    double total = 0;
    std::uint32_t done = 0;
    do {
        const std::uint32_t n = std::min<std::uint32_t>(size - done, 60) + (done == 0 ? 1 : 0);
        total += std::max(exchangeUs, n * 9e6 / speed);
        done += std::min<std::uint32_t>(size - done, 60);
    } while (done < size);
    return total;
}

// Args: write (1) or read (0), size, speed, pacing (0 fixed, 1 bus-time).
void BM_Transfer(benchmark::State& state) {
    const bool write = state.range(0) != 0;
    const auto size = static_cast<std::uint32_t>(state.range(1));
    const auto speed = static_cast<std::uint32_t>(state.range(2));
    const Pacing pacing = state.range(3) != 0 ? Pacing::BusTime : Pacing::Fixed;
    std::vector<std::uint8_t> buffer(size, 0x5A);
    double virtualUs = 0;
    double afterSetUpUs = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto host = SimulatedHost::Install();
        auto device = std::make_shared<VirtualDevice>();
        device->AttachTarget(kTarget, std::make_shared<Sink>());
        host->Plug(device);
        Corvane::VrelUsbI2c bridge;
        bridge.Settings->GetConnectionStatus();
        Corvane::SetPacing(pacing);
        // When the first report after the speed set-up goes out: the
        // transfer's time without that exchange, which the transfer cannot
        // leave out (the device reports no speed in effect to rely on).
        std::optional<microseconds> setUpDone;
        Corvane::SetReportTrace([&](const Corvane::TracedReport& report) {
            if (!setUpDone && report.direction == Corvane::ReportDirection::Sent &&
                report.bytes[0] != 0x10) {
                setUpDone = host->Now();
            }
        });
        state.ResumeTiming();
        const microseconds start = host->Now();
        const std::int32_t rc =
            write ? bridge.Functions->WriteI2cData(kTarget << 1, buffer, size, speed)
                  : bridge.Functions->ReadI2cData(kTarget << 1 | 1, buffer, size, speed);
        virtualUs = static_cast<double>((host->Now() - start).count());
        afterSetUpUs = static_cast<double>((host->Now() - setUpDone.value_or(start)).count());
        Corvane::SetReportTrace(nullptr);
        if (rc != 0 || !setUpDone) state.SkipWithError("transfer failed");
    }
    Corvane::SetPacing(Pacing::Fixed);
    Corvane::SetPlatform(nullptr);
    // One exchange is two reports of 1 ms each on the simulated host.
    const double boundUs = LowerBoundUs(size, speed, 2000.0);
    state.counters["virtual_ms"] = virtualUs / 1000;
    state.counters["bound_ms"] = boundUs / 1000;
    state.counters["ratio"] = virtualUs / boundUs;
    state.counters["no_setup_ms"] = afterSetUpUs / 1000;
    state.counters["no_setup_ratio"] = afterSetUpUs / boundUs;
}
BENCHMARK(BM_Transfer)
    ->ArgNames({"write", "bytes", "hz", "bustime"})
    ->ArgsProduct({{1, 0}, {60, 4096, 65535}, {100'000, 400'000, 1'000'000}, {0, 1}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// A device that answers every transfer command at once, allocating nothing:
// what remains is the library's own work.
class QuietChip : public Corvane::Platform {
  public:
    std::size_t exchanges = 0;

    std::vector<Corvane::HidInterfaceInfo> ListHidInterfaces() override {
        return {{VirtualDevice().HardwareIds(), u"quiet", {}}};
    }
    Corvane::PlatformHandle OpenChannel(const std::u16string&, Corvane::ChannelAccess a) override {
        return a == Corvane::ChannelAccess::Write ? 1 : 2;
    }
    Corvane::PlatformHandle CreateTransferEvent() override { return 3; }
    Corvane::TransferOutcome WriteReport(
        Corvane::PlatformHandle, Corvane::PlatformHandle,
        std::span<const std::uint8_t, Corvane::kWireReportSize> report, std::uint32_t) override {
        ++exchanges;
        answer_.fill(0);
        answer_[1] = report[1];
        switch (report[1]) {
            case 0x10:
                answer_[4] = report[4] == 0x20 ? 0x20 : 0x00;  // speed taken; engine idle
                break;
            case 0x91:
                due_ = static_cast<std::uint32_t>(report[2] | report[3] << 8);
                break;
            case 0x40: {
                const std::uint32_t n = std::min<std::uint32_t>(due_, 60);
                answer_[4] = static_cast<std::uint8_t>(n);
                due_ -= n;
                break;
            }
            default:
                break;
        }
        return Corvane::TransferOutcome::Done;
    }
    Corvane::TransferOutcome ReadReport(Corvane::PlatformHandle, Corvane::PlatformHandle,
                                        std::span<std::uint8_t, Corvane::kWireReportSize> report,
                                        std::uint32_t) override {
        std::copy(answer_.begin(), answer_.end(), report.begin());
        return Corvane::TransferOutcome::Done;
    }
    void CancelTransfer(Corvane::PlatformHandle) override {}
    void CloseHandle(Corvane::PlatformHandle) override {}
    void SleepMs(std::uint32_t) override {}
    void SleepUs(std::uint32_t) override {}
    std::uint64_t MonotonicUs() override { return ++clock_; }

  private:
    std::array<std::uint8_t, Corvane::kWireReportSize> answer_{};
    std::uint32_t due_ = 0;
    std::uint64_t clock_ = 0;
};

// 4 KiB written or read at 1 MHz through the public API; per report exchange.
// Arg: platform (0 the quiet chip, 1 the simulated host with no report time),
// write (1) or read (0), pacing (0 fixed, 1 bus-time).
void BM_Cpu(benchmark::State& state) {
    const bool sim = state.range(0) != 0;
    const bool write = state.range(1) != 0;
    Corvane::SetPacing(state.range(2) != 0 ? Pacing::BusTime : Pacing::Fixed);
    std::shared_ptr<QuietChip> quiet;
    std::shared_ptr<SimulatedHost> host;
    if (sim) {
        host = SimulatedHost::Install();
        host->SetReportTime(microseconds(0));
        auto device = std::make_shared<VirtualDevice>();
        device->AttachTarget(kTarget, std::make_shared<Sink>());
        host->Plug(device);
    } else {
        quiet = std::make_shared<QuietChip>();
        Corvane::SetPlatform(quiet);
    }
    std::vector<std::uint8_t> buffer(4096, 0x5A);
    Corvane::VrelUsbI2c bridge;
    bridge.Settings->GetConnectionStatus();
    const std::size_t firstAllocations = AllocationCount();
    const std::size_t firstExchanges = sim ? host->TransferCount() / 2 : quiet->exchanges;
    for (auto _ : state) {
        const std::int32_t rc =
            write ? bridge.Functions->WriteI2cData(kTarget << 1, buffer, 4096, 1'000'000)
                  : bridge.Functions->ReadI2cData(kTarget << 1 | 1, buffer, 4096, 1'000'000);
        if (rc != 0) state.SkipWithError("transfer failed");
        if (sim) host->ClearTrace();
    }
    const double exchanges =
        static_cast<double>((sim ? host->TransferCount() / 2 : quiet->exchanges) - firstExchanges);
    const double allocated = static_cast<double>(AllocationCount() - firstAllocations);
    state.counters["per_exchange"] =
        benchmark::Counter(exchanges, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["allocs_per_exchange"] = allocated / exchanges;
    Corvane::SetPacing(Pacing::Fixed);
    Corvane::SetPlatform(nullptr);
}
BENCHMARK(BM_Cpu)->ArgNames({"simhost", "write", "bustime"})->ArgsProduct({{0, 1}, {1, 0}, {0, 1}});

// What binding a bus to its bridge costs: a one-byte write through an I2cBus
// on the simulated host (no report time), always on one bridge (alternate 0)
// or alternating between two buses on two bridges (1), where each call first
// puts the selection back on its bridge (one discovery pass).
void BM_HandleWrite(benchmark::State& state) {
    const bool alternate = state.range(0) != 0;
    auto host = SimulatedHost::Install();
    host->SetReportTime(microseconds(0));
    std::vector<Corvane::I2cBus> buses;
    for (std::int32_t index = 0; index < 2; ++index) {
        auto device = std::make_shared<VirtualDevice>();
        device->AttachTarget(kTarget, std::make_shared<Sink>());
        host->Plug(device);
    }
    for (std::int32_t index = 0; index < 2; ++index) {
        Corvane::BridgeChoice choice;
        choice.index = index;
        std::shared_ptr<Corvane::BridgeHandle> handle;
        if (Corvane::BridgeHandle::Open(choice, handle) != 0) state.SkipWithError("no bridge");
        buses.emplace_back(handle, 1'000'000);
    }
    const std::size_t firstDiscoveries = host->DiscoveryCount();
    std::size_t calls = 0;
    for (auto _ : state) {
        Corvane::I2cBus& bus = buses[alternate ? calls % 2 : 0];
        if (bus.WriteByte(kTarget, 0x5A) != 0) state.SkipWithError("write failed");
        ++calls;
        host->ClearTrace();
    }
    state.counters["discoveries_per_call"] =
        static_cast<double>(host->DiscoveryCount() - firstDiscoveries) / static_cast<double>(calls);
    buses.clear();
    Corvane::SetPlatform(nullptr);
}
BENCHMARK(BM_HandleWrite)->ArgName("alternate")->Arg(0)->Arg(1);

// How discovery grows from 1 to 64 bridges.
void BridgeCounts(benchmark::internal::Benchmark* b) {
    b->ArgName("bridges")->Unit(benchmark::kMicrosecond);
    for (int bridges : {1, 8, 16, 32, 64}) b->Arg(bridges);
}

// Times discovery passes (GetConnectionStatus) on the installed platform,
// which must find `bridges` bridges.
void TimeDiscoveryPasses(benchmark::State& state, std::size_t bridges) {
    Corvane::VrelUsbI2c bridge;
    for (auto _ : state) {
        if (!bridge.Settings->GetConnectionStatus()) state.SkipWithError("no bridge found");
    }
    if (bridge.Management->GetDevCount() != static_cast<std::int32_t>(bridges)) {
        state.SkipWithError("wrong bridge count");
    }
}

// One discovery pass (GetConnectionStatus) over 500 HID interfaces of which
// `bridges` are bridges, on the simulated host.
void BM_Discovery_SimulatedHost(benchmark::State& state) {
    const auto bridges = static_cast<std::size_t>(state.range(0));
    auto host = SimulatedHost::Install();
    std::vector<std::shared_ptr<VirtualDevice>> devices;
    for (std::size_t i = 0; i < 500; ++i) {
        if (i % (500 / bridges) == 0 && devices.size() < bridges) {
            devices.push_back(std::make_shared<VirtualDevice>());
            host->Plug(devices.back());
        } else {
            const std::u16string id = u"HID\\VID_046D&PID_C52B&REV_1200";
            host->AddForeignInterface({id}, u"\\\\?\\hid#other#" + std::u16string(1, u'a') +
                                                std::u16string(i % 26, u'x'));
        }
    }
    TimeDiscoveryPasses(state, bridges);
    Corvane::SetPlatform(nullptr);
}
BENCHMARK(BM_Discovery_SimulatedHost)->Apply(BridgeCounts);

#if defined(__linux__)
// The same through the hidraw backend over a scratch sysfs tree: 500 hidraw
// nodes whose device files are FIFOs, `bridges` of them with the bridge's IDs.
void BM_Discovery_HidrawScratchSysfs(benchmark::State& state) {
    namespace fs = std::filesystem;
    const auto bridges = static_cast<unsigned>(state.range(0));
    char pattern[] = "/tmp/corvane-discovery-XXXXXX";
    if (!::mkdtemp(pattern)) return state.SkipWithError("mkdtemp failed");
    const fs::path root = pattern;
    const fs::path sys = root / "sys";
    const fs::path dev = root / "dev";
    fs::create_directories(sys / "class" / "hidraw");
    fs::create_directories(dev);
    unsigned placed = 0;
    std::vector<int> holders;
    for (unsigned n = 0; n < 500; ++n) {
        const bool ours = n % (500 / bridges) == 0 && placed < bridges;
        placed += ours ? 1 : 0;
        const std::string name = "hidraw" + std::to_string(n);
        const fs::path usb = sys / "devices" / ("1-" + std::to_string(n) + ":1.0");
        const fs::path hid = usb / ("0003:" + std::string(ours ? "3A7C:01D5" : "046D:C52B") + "." +
                                    std::to_string(n));
        const fs::path node = hid / "hidraw" / name;
        fs::create_directories(node);
        fs::create_directory_symlink("../..", node / "device");
        fs::create_directory_symlink(node, sys / "class" / "hidraw" / name);
        std::ofstream(hid / "uevent")
            << "HID_ID=0003:0000" << (ours ? "3A7C:000001D5" : "046D:0000C52B")
            << "\nHID_NAME=bench " << n << "\n";
        ::mkfifo((dev / name).c_str(), 0600);
        // A FIFO opens for writing only once someone holds it open for reading.
        if (ours) holders.push_back(::open((dev / name).c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
    }
    Corvane::SetPlatform(
        std::make_shared<Corvane::LinuxHidrawPlatform>(sys.string(), dev.string()));
    TimeDiscoveryPasses(state, bridges);
    Corvane::SetPlatform(nullptr);
    for (int fd : holders) ::close(fd);
    fs::remove_all(root);
}
BENCHMARK(BM_Discovery_HidrawScratchSysfs)->Apply(BridgeCounts);
#endif

}  // namespace

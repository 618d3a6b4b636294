// SPDX-License-Identifier: MIT
// One status exchange (command 0x10 out, its answer in) on a bridge, timed:
// through this library's public API ("ours"), its platform backend alone
// ("backend"), hidapi (whichever hidapi backend the program is linked with),
// or bare write/poll/read on the first hidraw node ("bare"). Prints the
// median and the 99th percentile in microseconds.
//
//   corvane_vm_exchange_hidraw ours|backend|hidapi|bare VID PID COUNT
#include <fcntl.h>
#include <hidapi/hidapi.h>
#include <poll.h>
#include <unistd.h>

#include <corvane/corvane.hpp>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

void Report(const char* what, std::vector<double>& us) {
    std::sort(us.begin(), us.end());
    std::printf("%s median_us=%.0f p99_us=%.0f n=%zu\n", what, us[us.size() / 2],
                us[us.size() * 99 / 100], us.size());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s ours|hidapi VID PID COUNT\n", argv[0]);
        return 2;
    }
    const std::string which = argv[1];
    const auto vid = static_cast<std::uint16_t>(std::strtoul(argv[2], nullptr, 16));
    const auto pid = static_cast<std::uint16_t>(std::strtoul(argv[3], nullptr, 16));
    const auto count = static_cast<std::size_t>(std::strtoul(argv[4], nullptr, 10));
    std::vector<double> us;
    // Times `exchange` COUNT times after one untimed call that opens the way.
    auto timed = [&](auto&& exchange) {
        for (std::size_t i = 0; i <= count; ++i) {
            const auto start = Clock::now();
            if (!exchange()) return false;
            const auto took = std::chrono::duration<double, std::micro>(Clock::now() - start);
            if (i > 0) us.push_back(took.count());
        }
        return true;
    };
    std::array<std::uint8_t, Corvane::kWireReportSize> out{};
    out[1] = 0x10;
    std::array<std::uint8_t, Corvane::kWireReportSize> in{};
    if (which == "backend") {
        auto platform = Corvane::MakeSystemPlatform();
        std::u16string path;
        for (const auto& info : platform->ListHidInterfaces()) {
            if (!info.hardwareIds.empty()) path = info.path;
        }
        const auto event = platform->CreateTransferEvent();
        const auto writer = platform->OpenChannel(path, Corvane::ChannelAccess::Write);
        const auto reader = platform->OpenChannel(path, Corvane::ChannelAccess::Read);
        if (!timed([&] {
                return platform->WriteReport(writer, event, out, 1000) ==
                           Corvane::TransferOutcome::Done &&
                       platform->ReadReport(reader, event, in, 1000) ==
                           Corvane::TransferOutcome::Done &&
                       in[1] == 0x10;
            })) {
            return 1;
        }
        platform->CloseHandle(writer);
        platform->CloseHandle(reader);
    } else if (which == "bare") {
        const int fd = ::open("/dev/hidraw0", O_RDWR | O_CLOEXEC);
        if (fd < 0 || !timed([&] {
                pollfd p{fd, POLLIN, 0};
                return ::write(fd, out.data(), out.size()) == 65 && ::poll(&p, 1, 1000) == 1 &&
                       ::read(fd, in.data(), 64) == 64 && in[0] == 0x10;
            })) {
            return 1;
        }
        ::close(fd);
    } else if (which == "ours") {
        Corvane::VrelUsbI2c bridge(vid, pid);
        std::array<std::uint16_t, 5> adc{};
        if (!timed([&] { return bridge.Functions->GetAdcData(adc) == 0; })) return 1;
    } else {
        if (hid_init() != 0) return 1;
        hid_device* device = hid_open(vid, pid, nullptr);
        if (device == nullptr) {
            std::fprintf(stderr, "hid_open failed\n");
            return 1;
        }
        int wrote = 0;
        int got = 0;
        const bool ok = timed([&] {
            wrote = hid_write(device, out.data(), out.size());
            got = wrote == 65 ? hid_read_timeout(device, in.data(), 64, 1000) : 0;
            return got > 0 && in[0] == 0x10;
        });
        // Closing hands the interface back to usbhid where the libusb backend took it.
        hid_close(device);
        hid_exit();
        if (!ok) {
            std::fprintf(stderr, "exchange %zu failed: write gave %d, read %d, answer %02x\n",
                         us.size(), wrote, got, in[0]);
            return 1;
        }
    }
    Report(which.c_str(), us);
    return 0;
}

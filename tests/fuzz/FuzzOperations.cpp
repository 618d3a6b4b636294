// SPDX-License-Identifier: MIT
// libFuzzer target: the fuzzer's input chooses a public operation and its
// arguments, then answers every report the library sends (or lets the wait
// time out or fail). No input may crash the library, make it touch memory
// it does not own, run past its budgets or return a code the operation
// cannot return.
#include <corvane/corvane.hpp>

#include "common/PublicOperations.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Corvane::PlatformHandle;
using Corvane::TransferOutcome;

class Input {
  public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool Empty() const { return pos_ >= size_; }
    std::uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    std::uint16_t Word() { return static_cast<std::uint16_t>(Byte() | (Byte() << 8)); }
    std::uint32_t Long() {
        return static_cast<std::uint32_t>(Word() | (std::uint32_t{Word()} << 16));
    }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// A platform with one matching device whose every answer comes from the input.
class FuzzPlatform : public Corvane::Platform {
  public:
    explicit FuzzPlatform(Input& input) : input_(input) {}

    std::vector<Corvane::HidInterfaceInfo> ListHidInterfaces() override {
        return {{{u"HID\\VID_3A7C&PID_01D5&REV_0100"}, u"fuzz-device", {}}};
    }
    PlatformHandle OpenChannel(const std::u16string&, Corvane::ChannelAccess) override {
        ++open_;
        return next_++;
    }
    PlatformHandle CreateTransferEvent() override { return next_++; }
    TransferOutcome WriteReport(PlatformHandle, PlatformHandle,
                                std::span<const std::uint8_t, 65> report,
                                std::uint32_t timeoutMs) override {
        ++transfers;
        if (report[0] != 0) std::abort();  // the report ID always leads
        lastCommand_ = report[1];
        const std::uint8_t control = input_.Empty() ? 0 : input_.Byte();
        return Outcome(control % 16, timeoutMs);
    }
    TransferOutcome ReadReport(PlatformHandle, PlatformHandle, std::span<std::uint8_t, 65> report,
                               std::uint32_t timeoutMs) override {
        ++transfers;
        const std::uint8_t control = input_.Empty() ? 0 : input_.Byte();
        const TransferOutcome outcome = Outcome(control % 8, timeoutMs);
        if (outcome != TransferOutcome::Done) return outcome;
        report[0] = 0;
        for (std::size_t i = 1; i < report.size(); ++i) report[i] = input_.Byte();
        if (control & 0x08) report[1] = lastCommand_;  // keep the echo
        if (control & 0x10) report[2] = 0;             // status: done
        return outcome;
    }
    void CancelTransfer(PlatformHandle) override {}
    void CloseHandle(PlatformHandle) override { --open_; }
    void SleepMs(std::uint32_t ms) override {
        clockMs += ms;
        ++sleeps;
    }

    std::uint64_t clockMs = 0;
    std::uint64_t transfers = 0;
    std::uint64_t sleeps = 0;

  private:
    TransferOutcome Outcome(unsigned selector, std::uint32_t timeoutMs) {
        switch (selector) {
            case 0:
                clockMs += timeoutMs;
                return TransferOutcome::TimedOut;
            case 1:
                return TransferOutcome::Failed;
            case 2:
                return TransferOutcome::Gone;
            default:
                clockMs += 1;
                return TransferOutcome::Done;
        }
    }

    Input& input_;
    PlatformHandle next_ = 1;
    long open_ = 0;
    std::uint8_t lastCommand_ = 0;
};

// Arguments from the input: numbers are often just outside what the
// operation accepts, texts may be null, caller's arrays short.
class InputArguments : public CorvaneTest::Arguments {
  public:
    explicit InputArguments(Input& in) : in_(in) {}
    std::int64_t Number(std::int64_t lo, std::int64_t hi, std::int64_t, std::int64_t) override {
        switch (in_.Byte() % 4) {
            case 0:
                return lo - 1 - in_.Byte();
            case 1:
                return hi + 1 + in_.Byte();
            default:
                return lo + static_cast<std::int64_t>(in_.Long() %
                                                      static_cast<std::uint64_t>(hi - lo + 1));
        }
    }
    std::int32_t Selector(bool) override { return in_.Byte() % 5 - 1; }
    // Up to 40 bytes, never a NUL inside; length 0xFF gives null.
    CorvaneTest::TextArgument Text(const char*) override {
        const std::uint8_t length = in_.Byte();
        if (length == 0xFF) return {};
        std::string bytes;
        for (unsigned i = 0; i < length % 41; ++i)
            bytes.push_back(static_cast<char>(in_.Byte() | 1));
        return {bytes};
    }
    std::vector<std::uint8_t> PinArray() override {
        std::vector<std::uint8_t> pins(in_.Byte() % 8);
        for (auto& pin : pins) pin = in_.Byte() % 6;
        return pins;
    }
    std::size_t Size(std::size_t most, std::size_t) override { return in_.Byte() % (most + 1); }
    CorvaneTest::BusArguments Bus(std::uint8_t, std::uint32_t, std::uint32_t) override {
        CorvaneTest::BusArguments bus{};
        bus.address = in_.Byte();
        bus.count = in_.Word();
        bus.buffer.resize(in_.Byte() & 1 ? bus.count : in_.Word() % 300u);
        if (bus.buffer.empty()) bus.buffer.resize(1);
        bus.speed = in_.Byte() & 1 ? in_.Long() : 100000u * (1u + in_.Byte() % 10);
        return bus;
    }

  private:
    Input& in_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::vector<CorvaneTest::PublicOperation> operations =
        CorvaneTest::PublicOperations();
    Input input(data, size);
    auto platform = std::make_shared<FuzzPlatform>(input);
    Corvane::SetPlatform(platform);
    {
        Corvane::VrelUsbI2c bridge;
        const CorvaneTest::PublicOperation& op = operations[input.Byte() % operations.size()];
        InputArguments arguments(input);
        std::int64_t result = 0;
        try {
            result = op.run(bridge, arguments);
        } catch (const std::out_of_range&) {
            result = 0;  // a caller's array too short: the host's error, as documented
        } catch (const std::invalid_argument&) {
            result = 0;
        }
        const bool allowed = result >= 0 ? result <= op.most : op.failures.count(result) != 0;
        if (!allowed) {
            std::fprintf(stderr, "%s returned %lld\n", op.name, static_cast<long long>(result));
            std::abort();
        }
        const std::uint64_t exchanges = op.exchanges == CorvaneTest::kArgumentsDecide
                                            ? arguments.exchanges
                                            : static_cast<std::uint64_t>(op.exchanges);
        // Budgets: each exchange is one write and one read, every pause
        // belongs to an exchange.
        if (platform->transfers > 2 * exchanges || platform->sleeps > exchanges) {
            std::fprintf(stderr, "%s ran %llu transfers and %llu pauses\n", op.name,
                         static_cast<unsigned long long>(platform->transfers),
                         static_cast<unsigned long long>(platform->sleeps));
            std::abort();
        }
    }
    Corvane::SetPlatform(nullptr);
    return 0;
}

// libFuzzer target: the fuzzer's input chooses a public operation and its
// arguments, then answers every report the library sends (or lets the wait
// time out or fail). No input may crash the library, make it touch memory
// it does not own, run past its budgets or return a code the operation
// cannot return.
#include <corvane/corvane.hpp>

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

// A text of up to 40 bytes from the input, NUL-terminated; sometimes null.
struct Text {
    explicit Text(Input& in) {
        const std::uint8_t length = in.Byte();
        isNull = length == 0xFF;
        for (unsigned i = 0; i < length % 41; ++i)
            bytes.push_back(static_cast<char>(in.Byte() | 1));
    }
    const char* Narrow() const { return isNull ? nullptr : bytes.c_str(); }
    const char16_t* Wide() {
        wide.assign(bytes.begin(), bytes.end());
        return isNull ? nullptr : wide.c_str();
    }
    bool isNull;
    std::string bytes;
    std::u16string wide;
};

struct Operation {
    const char* name;
    std::set<std::int32_t> failures;  // negative codes it may return
    bool positive;                    // may return 1 to 255 (a status or a value)
    std::uint64_t exchanges;          // most command exchanges it may run (bus transfers set it)
    std::function<std::int32_t(Corvane::VrelUsbI2c&, Input&, std::uint64_t&)> run;
};

// Arguments of a bus transfer: a count, a caller's array that may be shorter
// than the count, a speed.
struct BusArguments {
    explicit BusArguments(Input& in)
        : address(in.Byte()),
          count(in.Word()),
          buffer(in.Byte() & 1 ? count : in.Word() % 300),
          speed(in.Byte() & 1 ? in.Long() : 100000u * (1u + in.Byte() % 10)) {
        if (buffer.empty()) buffer.resize(1);
    }
    std::uint8_t address;
    std::uint32_t count;
    std::vector<std::uint8_t> buffer;
    std::uint32_t speed;

    // Exchanges the budgets allow: speed set-up, refusals per chunk, the
    // bounded completion or restart wait, data answers with their not-ready streaks.
    std::uint64_t Chunks(std::uint32_t total) const { return total / 60 + 1; }
    std::uint64_t WriteBudget(std::uint32_t total) const { return 2 + Chunks(total) * 50 + 5050; }
    std::uint64_t ReadBudget(std::uint32_t total) const { return 3 + Chunks(total) * 3 * 51 + 51; }
};

const std::set<std::int32_t> kExchange = {-4, -5, -6};

std::set<std::int32_t> With(std::set<std::int32_t> more) {
    more.insert(kExchange.begin(), kExchange.end());
    return more;
}

// Small signed argument: most values are out of range, the valid ones near.
std::int32_t Small(Input& in) {
    return static_cast<std::int8_t>(in.Byte());
}
// Selector argument: -1 to 3.
std::int32_t Selector(Input& in) {
    return in.Byte() % 5 - 1;
}
// A value result above `most` is out of bounds (-999 is no result code).
std::int32_t Within(std::int64_t result, std::int64_t most) {
    if (result < 0) return static_cast<std::int32_t>(result);
    return result <= most ? 0 : -999;
}
// A caller's pin array of 0 to 7 elements from the input.
std::vector<std::uint8_t> Pins(Input& in) {
    std::vector<std::uint8_t> pins(in.Byte() % 8);
    for (auto& pin : pins) pin = in.Byte() % 6;
    return pins;
}

std::vector<Operation> SettingsOperations() {
    const auto noFailure = std::set<std::int32_t>{};
    const auto arg1 = With({-201});
    // Text results only need to come back without harm.
    const auto text = [](const auto& result) { return result ? 0 : 0; };
    return {
        {"GetSerialNumber", noFailure, false, 1,
         [=](auto& b, Input&, std::uint64_t&) { return text(b.Settings->GetSerialNumber()); }},
        {"SetSerialNumber", arg1, true, 1,
         [](auto& b, Input& in, std::uint64_t&) {
             return b.Settings->SetSerialNumber(Text(in).Wide());
         }},
        {"GetSerialNumberEnumerationEnable", kExchange, true, 1,
         [](auto& b, Input&, std::uint64_t&) {
             return b.Settings->GetSerialNumberEnumerationEnable();
         }},
        {"SetSerialNumberEnumerationEnable", kExchange, true, 2,
         [](auto& b, Input& in, std::uint64_t&) {
             return b.Settings->SetSerialNumberEnumerationEnable(in.Byte() & 1);
         }},
        {"GetConnectionStatus", noFailure, false, 0,
         [](auto& b, Input&, std::uint64_t&) { return b.Settings->GetConnectionStatus() ? 0 : 0; }},
        {"GetUsbVid", kExchange, false, 1,
         [](auto& b, Input&, std::uint64_t&) { return Within(b.Settings->GetUsbVid(), 0xFFFF); }},
        {"GetUsbPid", kExchange, false, 1,
         [](auto& b, Input&, std::uint64_t&) { return Within(b.Settings->GetUsbPid(), 0xFFFF); }},
        {"SetUsbVidPid", kExchange, true, 2,
         [](auto& b, Input& in, std::uint64_t&) {
             const std::uint32_t vid = in.Long();
             return b.Settings->SetUsbVidPid(vid, in.Long());
         }},
        {"GetUsbPowerSource", With({-15}), true, 1,
         [](auto& b, Input&, std::uint64_t&) { return b.Settings->GetUsbPowerSource(); }},
        {"SetUsbPowerSource", arg1, true, 2,
         [](auto& b, Input& in, std::uint64_t&) {
             return b.Settings->SetUsbPowerSource(Small(in));
         }},
        {"GetUsbRemoteWakeupEnable", kExchange, true, 1,
         [](auto& b, Input&, std::uint64_t&) { return b.Settings->GetUsbRemoteWakeupEnable(); }},
        {"SetUsbRemoteWakeupEnable", kExchange, true, 2,
         [](auto& b, Input& in, std::uint64_t&) {
             return b.Settings->SetUsbRemoteWakeupEnable(in.Byte() & 1);
         }},
        {"GetUsbCurrentRequirement", kExchange, false, 1,
         [](auto& b, Input&, std::uint64_t&) {
             return Within(b.Settings->GetUsbCurrentRequirement(), 510);
         }},
        {"SetUsbCurrentRequirement", arg1, true, 2,
         [](auto& b, Input& in, std::uint64_t&) {
             return b.Settings->SetUsbCurrentRequirement(static_cast<std::int16_t>(in.Word()));
         }},
        {"GetUsbStringManufacturer", noFailure, false, 1,
         [=](auto& b, Input&, std::uint64_t&) {
             return text(b.Settings->GetUsbStringManufacturer());
         }},
        {"SetUsbStringManufacturer", arg1, true, 1,
         [](auto& b, Input& in, std::uint64_t&) {
             return b.Settings->SetUsbStringManufacturer(Text(in).Wide());
         }},
        {"GetUsbStringDescriptor", noFailure, false, 1,
         [=](auto& b, Input&, std::uint64_t&) {
             return text(b.Settings->GetUsbStringDescriptor());
         }},
        {"SetUsbStringDescriptor", arg1, true, 1,
         [](auto& b, Input& in, std::uint64_t&) {
             return b.Settings->SetUsbStringDescriptor(Text(in).Wide());
         }},
        {"GetFlashProtectionState", kExchange, true, 1,
         [](auto& b, Input&, std::uint64_t&) { return b.Settings->GetFlashProtectionState(); }},
        {"SetFlashProtectionOff", With({-13}), true, 2,
         [](auto& b, Input&, std::uint64_t&) { return b.Settings->SetFlashProtectionOff(); }},
        {"SetFlashPermanentLock", kExchange, true, 2,
         [](auto& b, Input&, std::uint64_t&) { return b.Settings->SetFlashPermanentLock(); }},
        {"SetFlashPasswordProtection", With({-13, -201}), true, 2,
         [](auto& b, Input& in, std::uint64_t&) {
             return b.Settings->SetFlashPasswordProtection(Text(in).Narrow());
         }},
        {"GetGpPinConfiguration", arg1, true, 1,
         [](auto& b, Input& in, std::uint64_t&) {
             const std::int32_t which = Selector(in);
             auto d = Pins(in), r = Pins(in), v = Pins(in);
             return b.Settings->GetGpPinConfiguration(which, d, r, v);
         }},
        {"SetGpPinConfiguration", With({-201, -202, -203, -204}), true, 2,
         [](auto& b, Input& in, std::uint64_t&) {
             const std::int32_t which = Selector(in);
             const auto d = Pins(in), r = Pins(in), v = Pins(in);
             return b.Settings->SetGpPinConfiguration(which, d, r, v);
         }},
        {"GetGpPinDirection", With({-10, -201, -202}), true, 1,
         [](auto& b, Input& in, std::uint64_t&) {
             const std::int32_t which = Selector(in);
             return b.Settings->GetGpPinDirection(which, in.Byte() % 6);
         }},
        {"SetGpPinDirection", With({-201, -202, -203}), true, 3,
         [](auto& b, Input& in, std::uint64_t&) {
             const std::int32_t which = Selector(in);
             const std::uint8_t pin = in.Byte() % 6;
             return b.Settings->SetGpPinDirection(which, pin, in.Byte() % 3);
         }},
        {"GetDacVoltageReference", With({-9}), true, 1,
         [](auto& b, Input&, std::uint64_t&) { return b.Settings->GetDacVoltageReference(); }},
        {"SetDacVoltageReference", arg1, true, 1,
         [](auto& b, Input& in, std::uint64_t&) {
             return b.Settings->SetDacVoltageReference(Small(in));
         }},
        {"GetDacValue", kExchange, true, 1,
         [](auto& b, Input&, std::uint64_t&) { return b.Settings->GetDacValue(); }},
        {"SetDacValue", arg1, true, 1,
         [](auto& b, Input& in, std::uint64_t&) { return b.Settings->SetDacValue(Small(in)); }},
        {"GetAdcVoltageReference", With({-9}), true, 1,
         [](auto& b, Input&, std::uint64_t&) { return b.Settings->GetAdcVoltageReference(); }},
        {"SetAdcVoltageReference", arg1, true, 1,
         [](auto& b, Input& in, std::uint64_t&) {
             return b.Settings->SetAdcVoltageReference(Small(in));
         }},
        {"GetInterruptPinMode", arg1, true, 1,
         [](auto& b, Input& in, std::uint64_t&) {
             return b.Settings->GetInterruptPinMode(Selector(in));
         }},
        {"SetInterruptPinMode", With({-201, -202}), true, 3,
         [](auto& b, Input& in, std::uint64_t&) {
             const std::int32_t which = Selector(in);
             return b.Settings->SetInterruptPinMode(which, Small(in));
         }},
        {"GetClockPinDividerValue", arg1, true, 1,
         [](auto& b, Input& in, std::uint64_t&) {
             return b.Settings->GetClockPinDividerValue(Selector(in));
         }},
        {"GetClockPinDutyCycle", arg1, true, 1,
         [](auto& b, Input& in, std::uint64_t&) {
             return b.Settings->GetClockPinDutyCycle(Selector(in));
         }},
        {"SetClockPinConfiguration", With({-201, -202, -203}), true, 4,
         [](auto& b, Input& in, std::uint64_t&) {
             const std::int32_t which = Selector(in);
             const std::int32_t divider = Small(in);
             return b.Settings->SetClockPinConfiguration(which, divider, Small(in));
         }},
        {"GetInitialPinValueLedUartTx", kExchange, true, 1,
         [](auto& b, Input&, std::uint64_t&) { return b.Settings->GetInitialPinValueLedUartTx(); }},
        {"SetInitialPinValueLedUartTx", arg1, true, 2,
         [](auto& b, Input& in, std::uint64_t&) {
             return b.Settings->SetInitialPinValueLedUartTx(Small(in));
         }},
        {"GetInitialPinValueLedUartRx", kExchange, true, 1,
         [](auto& b, Input&, std::uint64_t&) { return b.Settings->GetInitialPinValueLedUartRx(); }},
        {"SetInitialPinValueLedUartRx", arg1, true, 2,
         [](auto& b, Input& in, std::uint64_t&) {
             return b.Settings->SetInitialPinValueLedUartRx(Small(in));
         }},
        {"GetInitialPinValueLedI2c", kExchange, true, 1,
         [](auto& b, Input&, std::uint64_t&) { return b.Settings->GetInitialPinValueLedI2c(); }},
        {"SetInitialPinValueLedI2c", arg1, true, 2,
         [](auto& b, Input& in, std::uint64_t&) {
             return b.Settings->SetInitialPinValueLedI2c(Small(in));
         }},
        {"GetInitialPinValueSspnd", kExchange, true, 1,
         [](auto& b, Input&, std::uint64_t&) { return b.Settings->GetInitialPinValueSspnd(); }},
        {"SetInitialPinValueSspnd", arg1, true, 2,
         [](auto& b, Input& in, std::uint64_t&) {
             return b.Settings->SetInitialPinValueSspnd(Small(in));
         }},
        {"GetInitialPinValueUsbcfg", kExchange, true, 1,
         [](auto& b, Input&, std::uint64_t&) { return b.Settings->GetInitialPinValueUsbcfg(); }},
        {"SetInitialPinValueUsbcfg", arg1, true, 2,
         [](auto& b, Input& in, std::uint64_t&) {
             return b.Settings->SetInitialPinValueUsbcfg(Small(in));
         }},
        {"GetFirmwareVersion", noFailure, false, 1,
         [=](auto& b, Input&, std::uint64_t&) { return text(b.Settings->GetFirmwareVersion()); }},
    };
}

std::vector<Operation> Operations() {
    auto with = With;
    std::vector<Operation> operations = {
        {"EnterAccessPassword", with({-14, -201}), true, 1,
         [](auto& b, Input& in, std::uint64_t&) {
             return b.Functions->EnterAccessPassword(Text(in).Narrow());
         }},
        {"ResetDevice",
         {-4},
         false,
         1,
         [](auto& b, Input&, std::uint64_t&) { return b.Functions->ResetDevice(); }},
        {"ClearInterruptPinState", kExchange, true, 1,
         [](auto& b, Input&, std::uint64_t&) { return b.Functions->ClearInterruptPinState(); }},
        {"GetAdcData", kExchange, true, 1,
         [](auto& b, Input& in, std::uint64_t&) {
             std::vector<std::uint16_t> adc(in.Byte() % 8);
             return b.Functions->GetAdcData(adc);
         }},
        {"ReadGpioPinValue", with({-10, -201}), true, 1,
         [](auto& b, Input& in, std::uint64_t&) {
             return b.Functions->ReadGpioPinValue(in.Byte());
         }},
        {"WriteGpioPinValue", with({-201, -202}), true, 1,
         [](auto& b, Input& in, std::uint64_t&) {
             const std::uint8_t pin = in.Byte();
             return b.Functions->WriteGpioPinValue(pin, in.Byte());
         }},
        {"WriteI2cData",
         {-4, -5, -18, -19, -22, -23, -203, -204},
         false,
         0,
         [](auto& b, Input& in, std::uint64_t& budget) {
             BusArguments a(in);
             budget = a.WriteBudget(a.count);
             return b.Functions->WriteI2cData(a.address, a.buffer, a.count, a.speed);
         }},
        {"ReadI2cData",
         {-4, -5, -22, -23, -24, -25, -26, -27, -203, -204},
         false,
         0,
         [](auto& b, Input& in, std::uint64_t& budget) {
             BusArguments a(in);
             budget = a.ReadBudget(a.count);
             return b.Functions->ReadI2cData(a.address, a.buffer, a.count, a.speed);
         }},
        {"StopI2cDataTransfer", kExchange, true, 1,
         [](auto& b, Input&, std::uint64_t&) { return b.Functions->StopI2cDataTransfer(); }},
        {"SmbWriteBlock",
         {-4, -5, -8, -18, -19, -22, -203, -204},
         false,
         0,
         [](auto& b, Input& in, std::uint64_t& budget) {
             BusArguments a(in);
             const std::uint8_t pec = in.Byte() & 1;
             budget = a.WriteBudget(a.count + pec);
             return b.Functions->SmbWriteBlock(a.address, a.buffer, a.count, a.speed, pec);
         }},
        {"SmbReadBlock",
         {-4, -5, -8, -11, -12, -18, -19, -22, -23, -24, -25, -26, -27, -203, -204},
         false,
         0,
         [](auto& b, Input& in, std::uint64_t& budget) {
             BusArguments a(in);
             const std::uint8_t pec = in.Byte() & 1;
             const std::uint8_t index = in.Byte();
             budget = 2 + 50 + 5050 + a.ReadBudget(a.count + pec);
             return b.Functions->SmbReadBlock(a.address, a.buffer, a.count, a.speed, pec, index);
         }},
        {"SelectDev",
         {-2},
         false,
         0,
         [](auto& b, Input& in, std::uint64_t&) {
             return b.Management->SelectDev(static_cast<std::int32_t>(in.Long()));
         }},
    };
    for (Operation& op : SettingsOperations()) operations.push_back(std::move(op));
    return operations;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::vector<Operation> operations = Operations();
    Input input(data, size);
    auto platform = std::make_shared<FuzzPlatform>(input);
    Corvane::SetPlatform(platform);
    {
        Corvane::VrelUsbI2c bridge;
        const Operation& op = operations[input.Byte() % operations.size()];
        std::uint64_t exchanges = op.exchanges;
        std::int32_t result = 0;
        try {
            result = op.run(bridge, input, exchanges);
        } catch (const std::out_of_range&) {
            result = 0;  // a caller's array too short: the host's error, as documented
        } catch (const std::invalid_argument&) {
            result = 0;
        }
        const bool allowed =
            (result >= 0 && (result == 0 || op.positive)) || op.failures.count(result) != 0;
        if (!allowed || result > 255) {
            std::fprintf(stderr, "%s returned %d\n", op.name, result);
            std::abort();
        }
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

// SPDX-License-Identifier: MIT
#pragma once

// Every public operation once, with what a caller may get back from it. The
// fault-position test runs each with a plain caller's arguments, the flash
// integrity test runs the flash setters with random valid ones, and the
// fuzz target with arguments drawn from its input.

#include <corvane/corvane.hpp>

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace CorvaneTest {

// A password or USB string argument; null when `text` is empty.
struct TextArgument {
    std::optional<std::string> text;
    std::u16string wide = text ? std::u16string(text->begin(), text->end()) : std::u16string();
    const char* Narrow() const { return text ? text->c_str() : nullptr; }
    const char16_t* Wide() const { return text ? wide.c_str() : nullptr; }
};

// The arguments of one bus transfer. `buffer` may be shorter than `count`.
struct BusArguments {
    std::uint8_t address;
    std::uint32_t count;
    std::vector<std::uint8_t> buffer;
    std::uint32_t speed;
};

// Where an operation's arguments come from.
class Arguments {
  public:
    virtual ~Arguments() = default;
    // A number the operation accepts: lo, lo + step, ... hi. `usual` is one
    // that a plain caller passes.
    virtual std::int64_t Number(std::int64_t lo, std::int64_t hi, std::int64_t usual,
                                std::int64_t step) = 0;
    // A settings selector: a setter's may be BOTH, a getter's not.
    virtual std::int32_t Selector(bool setter) = 0;
    virtual TextArgument Text(const char* usual) = 0;
    // A caller's array of the four pins' bytes.
    virtual std::vector<std::uint8_t> PinArray() = 0;
    // The size of a caller's output array.
    virtual std::size_t Size(std::size_t most, std::size_t usual) = 0;
    virtual BusArguments Bus(std::uint8_t address, std::uint32_t count, std::uint32_t speed) = 0;

    template <typename T>
    T Get(std::int64_t lo, std::int64_t hi, std::int64_t usual, std::int64_t step = 1) {
        return static_cast<T>(Number(lo, hi, usual, step));
    }

    // Most command exchanges the operation may run, where its arguments decide.
    std::uint64_t exchanges = 0;
};

// A plain caller's arguments. Selectors take BOTH where accepted, for the
// most reports.
class UsualArguments : public Arguments {
  public:
    std::int64_t Number(std::int64_t, std::int64_t, std::int64_t usual, std::int64_t) override {
        return usual;
    }
    std::int32_t Selector(bool setter) override {
        return setter ? Corvane::DllConstants::BOTH : Corvane::DllConstants::PWRUP_DEFAULTS_ONLY;
    }
    TextArgument Text(const char* usual) override { return {usual}; }
    std::vector<std::uint8_t> PinArray() override { return std::vector<std::uint8_t>(4, 0); }
    std::size_t Size(std::size_t, std::size_t usual) override { return usual; }
    BusArguments Bus(std::uint8_t address, std::uint32_t count, std::uint32_t speed) override {
        return {address, count, std::vector<std::uint8_t>(150, 0x5A), speed};
    }
};

// What an operation gives when a text it reads does not come back.
inline constexpr std::int64_t kNoText = -1;

struct PublicOperation {
    const char* name;
    std::set<std::int64_t> failures;  // the negative results it may return
    std::int64_t most;                // its largest non-negative result
    // Command exchanges it runs at most; 0 for none, kArgumentsDecide when the
    // run sets Arguments::exchanges.
    int exchanges;
    std::function<std::int64_t(Corvane::VrelUsbI2c&, Arguments&)> run;
    // The flash bits it may change, indexed as FlashImage lays them out;
    // empty when it changes no flash record of the chip settings or GP pins.
    std::vector<std::uint8_t> flashBits = {};
};

inline constexpr int kArgumentsDecide = -1;

// Offsets in the flash image: chip record, password, GP record.
inline constexpr std::size_t kFlashPassword = 10;
inline constexpr std::size_t kFlashGp = 18;
inline constexpr std::size_t kFlashBytes = kFlashGp + 4;

inline std::vector<std::uint8_t> FlashBits(
    std::initializer_list<std::pair<std::size_t, std::uint8_t>> bits) {
    std::vector<std::uint8_t> mask(kFlashBytes, 0);
    for (const auto& [index, value] : bits) mask[index] |= value;
    return mask;
}

inline std::set<std::int64_t> ExchangeFailures(std::set<std::int64_t> more = {}) {
    more.insert({-4, -5, -6, Corvane::BRIDGE_BUSY});
    return more;
}

// Bus transfers: the exchanges their budgets allow (speed set-up, refusals
// per chunk, the bounded completion or restart wait, data answers with their
// not-ready streaks).
inline std::uint64_t Chunks(std::uint32_t total) {
    return total / 60 + 1;
}
inline std::uint64_t WriteBudget(std::uint32_t total) {
    return 2 + Chunks(total) * 50 + 5050;
}
inline std::uint64_t ReadBudget(std::uint32_t total) {
    return 3 + Chunks(total) * 3 * 51 + 51;
}

// The order is kept: the fuzz corpus chooses operations by their index.
inline std::vector<PublicOperation> PublicOperations() {
    using Corvane::VrelUsbI2c;
    using A = Arguments;
    const auto exchange = ExchangeFailures();
    const auto arg1 = ExchangeFailures({-201});
    const auto text = [](const auto& result) { return result ? 0 : kNoText; };
    // A setter of one bit of the chip record: 0 or 1.
    const auto bitSetter = [](auto setter) {
        return [setter](VrelUsbI2c& b, A& a) {
            return ((*b.Settings).*setter)(a.Get<std::int32_t>(0, 1, 1));
        };
    };
    const auto call = [](auto get) {
        return [get](VrelUsbI2c& b, A&) -> std::int64_t { return ((*b.Settings).*get)(); };
    };
    using S = Corvane::DevSettings_M;
    return {
        {"EnterAccessPassword", ExchangeFailures({-14, -201}), 255, 1,
         [](VrelUsbI2c& b, A& a) {
             return b.Functions->EnterAccessPassword(a.Text("12345678").Narrow());
         }},
        {"ResetDevice",
         {-4, Corvane::BRIDGE_BUSY},
         0,
         1,
         [](VrelUsbI2c& b, A&) { return b.Functions->ResetDevice(); }},
        {"ClearInterruptPinState", exchange, 255, 1,
         [](VrelUsbI2c& b, A&) { return b.Functions->ClearInterruptPinState(); }},
        {"GetAdcData", exchange, 255, 1,
         [](VrelUsbI2c& b, A& a) {
             std::vector<std::uint16_t> adc(a.Size(7, 5));
             return b.Functions->GetAdcData(adc);
         }},
        {"ReadGpioPinValue", ExchangeFailures({-10, -201}), 255, 1,
         [](VrelUsbI2c& b, A& a) {
             return b.Functions->ReadGpioPinValue(a.Get<std::uint8_t>(0, 3, 1));
         }},
        {"WriteGpioPinValue", ExchangeFailures({-201, -202}), 255, 1,
         [](VrelUsbI2c& b, A& a) {
             const auto pin = a.Get<std::uint8_t>(0, 3, 1);
             return b.Functions->WriteGpioPinValue(pin, a.Get<std::uint8_t>(0, 1, 1));
         }},
        {"WriteI2cData",
         {-4, -5, -18, -19, -22, -23, -203, -204, Corvane::BRIDGE_BUSY},
         0,
         kArgumentsDecide,
         [](VrelUsbI2c& b, A& a) {
             BusArguments bus = a.Bus(0x16, 130, 400000);
             a.exchanges = WriteBudget(bus.count);
             return b.Functions->WriteI2cData(bus.address, bus.buffer, bus.count, bus.speed);
         }},
        {"ReadI2cData",
         {-4, -5, -22, -23, -24, -25, -26, -27, -203, -204, Corvane::BRIDGE_BUSY},
         0,
         kArgumentsDecide,
         [](VrelUsbI2c& b, A& a) {
             BusArguments bus = a.Bus(0xA1, 130, 1000000);
             a.exchanges = ReadBudget(bus.count);
             return b.Functions->ReadI2cData(bus.address, bus.buffer, bus.count, bus.speed);
         }},
        {"StopI2cDataTransfer", exchange, 255, 1,
         [](VrelUsbI2c& b, A&) { return b.Functions->StopI2cDataTransfer(); }},
        {"SmbWriteBlock",
         {-4, -5, -8, -18, -19, -22, -23, -203, -204, Corvane::BRIDGE_BUSY},
         0,
         kArgumentsDecide,
         [](VrelUsbI2c& b, A& a) {
             BusArguments bus = a.Bus(0x16, 70, 400000);
             const auto pec = a.Get<std::uint8_t>(0, 1, 1);
             a.exchanges = WriteBudget(bus.count + pec);
             return b.Functions->SmbWriteBlock(bus.address, bus.buffer, bus.count, bus.speed, pec);
         }},
        {"SmbReadBlock",
         {-4, -5, -8, -11, -12, -18, -19, -22, -23, -24, -25, -26, -27, -203, -204,
          Corvane::BRIDGE_BUSY},
         0,
         kArgumentsDecide,
         [](VrelUsbI2c& b, A& a) {
             BusArguments bus = a.Bus(0x16, 4, 100000);
             const auto pec = a.Get<std::uint8_t>(0, 1, 1);
             const auto index = a.Get<std::uint8_t>(0, 255, 0x20);
             a.exchanges = 2 + 50 + 5050 + ReadBudget(bus.count + pec);
             return b.Functions->SmbReadBlock(bus.address, bus.buffer, bus.count, bus.speed, pec,
                                              index);
         }},
        {"SelectDev",
         {-2},
         0,
         0,
         [](VrelUsbI2c& b, A& a) { return b.Management->SelectDev(a.Get<std::int32_t>(0, 0, 0)); }},

        {"GetSerialNumber",
         {kNoText},
         0,
         1,
         [=](VrelUsbI2c& b, A&) { return text(b.Settings->GetSerialNumber()); }},
        {"SetSerialNumber", arg1, 255, 1,
         [](VrelUsbI2c& b, A& a) { return b.Settings->SetSerialNumber(a.Text("SN-1").Wide()); }},
        {"GetSerialNumberEnumerationEnable", exchange, 255, 1,
         call(&S::GetSerialNumberEnumerationEnable)},
        {"SetSerialNumberEnumerationEnable", exchange, 255, 2,
         [](VrelUsbI2c& b, A& a) {
             return b.Settings->SetSerialNumberEnumerationEnable(a.Get<int>(0, 1, 0) == 1);
         },
         FlashBits({{0, 0x80}})},
        {"GetConnectionStatus",
         {},
         0,
         0,
         [](VrelUsbI2c& b, A&) { return b.Settings->GetConnectionStatus() ? 0 : 0; }},
        {"GetUsbVid", exchange, 0xFFFF, 1, call(&S::GetUsbVid)},
        {"GetUsbPid", exchange, 0xFFFF, 1, call(&S::GetUsbPid)},
        {"SetUsbVidPid", exchange, 255, 2,
         [](VrelUsbI2c& b, A& a) {
             const auto vid = a.Get<std::uint32_t>(0, 0xFFFF, 0x3A7C);
             return b.Settings->SetUsbVidPid(vid, a.Get<std::uint32_t>(0, 0xFFFF, 0x01D5));
         },
         FlashBits({{4, 0xFF}, {5, 0xFF}, {6, 0xFF}, {7, 0xFF}})},
        {"GetUsbPowerSource", ExchangeFailures({-15}), 255, 1, call(&S::GetUsbPowerSource)},
        {"SetUsbPowerSource", arg1, 255, 2, bitSetter(&S::SetUsbPowerSource),
         FlashBits({{8, 0xFF}})},
        {"GetUsbRemoteWakeupEnable", exchange, 255, 1, call(&S::GetUsbRemoteWakeupEnable)},
        {"SetUsbRemoteWakeupEnable", exchange, 255, 2,
         [](VrelUsbI2c& b, A& a) {
             return b.Settings->SetUsbRemoteWakeupEnable(a.Get<int>(0, 1, 1) == 1);
         },
         FlashBits({{8, 0x20}})},
        {"GetUsbCurrentRequirement", exchange, 510, 1, call(&S::GetUsbCurrentRequirement)},
        {"SetUsbCurrentRequirement", arg1, 255, 2,
         [](VrelUsbI2c& b, A& a) {
             return b.Settings->SetUsbCurrentRequirement(a.Get<std::int32_t>(100, 500, 200, 2));
         },
         FlashBits({{9, 0xFF}})},
        {"GetUsbStringManufacturer",
         {kNoText},
         0,
         1,
         [=](VrelUsbI2c& b, A&) { return text(b.Settings->GetUsbStringManufacturer()); }},
        {"SetUsbStringManufacturer", arg1, 255, 1,
         [](VrelUsbI2c& b, A& a) {
             return b.Settings->SetUsbStringManufacturer(a.Text("M").Wide());
         }},
        {"GetUsbStringDescriptor",
         {kNoText},
         0,
         1,
         [=](VrelUsbI2c& b, A&) { return text(b.Settings->GetUsbStringDescriptor()); }},
        {"SetUsbStringDescriptor", arg1, 255, 1,
         [](VrelUsbI2c& b, A& a) {
             return b.Settings->SetUsbStringDescriptor(a.Text("D").Wide());
         }},
        {"GetFlashProtectionState", exchange, 255, 1, call(&S::GetFlashProtectionState)},
        {"SetFlashProtectionOff", ExchangeFailures({-13}), 255, 2, call(&S::SetFlashProtectionOff),
         FlashBits({{0, 0x03}})},
        {"SetFlashPermanentLock", exchange, 255, 2, call(&S::SetFlashPermanentLock)},
        {"SetFlashPasswordProtection", ExchangeFailures({-13, -201}), 255, 2,
         [](VrelUsbI2c& b, A& a) {
             return b.Settings->SetFlashPasswordProtection(a.Text("12345678").Narrow());
         },
         FlashBits({{0, 0x03},
                    {10, 0xFF},
                    {11, 0xFF},
                    {12, 0xFF},
                    {13, 0xFF},
                    {14, 0xFF},
                    {15, 0xFF},
                    {16, 0xFF},
                    {17, 0xFF}})},
        {"GetGpPinConfiguration", arg1, 255, 1,
         [](VrelUsbI2c& b, A& a) {
             const std::int32_t which = a.Selector(false);
             auto d = a.PinArray(), r = a.PinArray(), v = a.PinArray();
             return b.Settings->GetGpPinConfiguration(which, d, r, v);
         }},
        {"SetGpPinConfiguration", ExchangeFailures({-201, -202, -203, -204}), 255, 2,
         [](VrelUsbI2c& b, A& a) {
             const std::int32_t which = a.Selector(true);
             const auto d = a.PinArray(), r = a.PinArray(), v = a.PinArray();
             return b.Settings->SetGpPinConfiguration(which, d, r, v);
         }},
        {"GetGpPinDirection", ExchangeFailures({-10, -201, -202}), 255, 1,
         [](VrelUsbI2c& b, A& a) {
             const std::int32_t which = a.Selector(false);
             return b.Settings->GetGpPinDirection(which, a.Get<std::uint8_t>(0, 3, 1));
         }},
        {"SetGpPinDirection", ExchangeFailures({-201, -202, -203}), 255, 3,
         [](VrelUsbI2c& b, A& a) {
             const std::int32_t which = a.Selector(true);
             const auto pin = a.Get<std::uint8_t>(0, 3, 1);
             return b.Settings->SetGpPinDirection(which, pin, a.Get<std::uint8_t>(0, 1, 0));
         },
         FlashBits(
             {{kFlashGp, 0x08}, {kFlashGp + 1, 0x08}, {kFlashGp + 2, 0x08}, {kFlashGp + 3, 0x08}})},
        {"GetDacVoltageReference", ExchangeFailures({-9}), 255, 1,
         call(&S::GetDacVoltageReference)},
        {"SetDacVoltageReference", arg1, 255, 1,
         [](VrelUsbI2c& b, A& a) {
             return b.Settings->SetDacVoltageReference(a.Get<std::int32_t>(0, 3, 2));
         }},
        {"GetDacValue", exchange, 255, 1, call(&S::GetDacValue)},
        {"SetDacValue", arg1, 255, 1,
         [](VrelUsbI2c& b, A& a) {
             return b.Settings->SetDacValue(a.Get<std::int32_t>(0, 31, 9));
         }},
        {"GetAdcVoltageReference", ExchangeFailures({-9}), 255, 1,
         call(&S::GetAdcVoltageReference)},
        {"SetAdcVoltageReference", arg1, 255, 1,
         [](VrelUsbI2c& b, A& a) {
             return b.Settings->SetAdcVoltageReference(a.Get<std::int32_t>(0, 3, 1));
         }},
        {"GetInterruptPinMode", arg1, 255, 1,
         [](VrelUsbI2c& b, A& a) { return b.Settings->GetInterruptPinMode(a.Selector(false)); }},
        {"SetInterruptPinMode", ExchangeFailures({-201, -202}), 255, 3,
         [](VrelUsbI2c& b, A& a) {
             const std::int32_t which = a.Selector(true);
             return b.Settings->SetInterruptPinMode(which, a.Get<std::int32_t>(1, 3, 3));
         },
         FlashBits({{3, 0x60}})},
        {"GetClockPinDividerValue", arg1, 255, 1,
         [](VrelUsbI2c& b, A& a) {
             return b.Settings->GetClockPinDividerValue(a.Selector(false));
         }},
        {"GetClockPinDutyCycle", arg1, 255, 1,
         [](VrelUsbI2c& b, A& a) { return b.Settings->GetClockPinDutyCycle(a.Selector(false)); }},
        {"SetClockPinConfiguration", ExchangeFailures({-201, -202, -203}), 255, 4,
         [](VrelUsbI2c& b, A& a) {
             const std::int32_t which = a.Selector(true);
             const auto divider = a.Get<std::int32_t>(1, 7, 5);
             return b.Settings->SetClockPinConfiguration(which, divider,
                                                         a.Get<std::int32_t>(0, 3, 1));
         },
         FlashBits({{1, 0x1F}})},
        {"GetInitialPinValueLedUartTx", exchange, 255, 1, call(&S::GetInitialPinValueLedUartTx)},
        {"SetInitialPinValueLedUartTx", arg1, 255, 2, bitSetter(&S::SetInitialPinValueLedUartTx),
         FlashBits({{0, 0x20}})},
        {"GetInitialPinValueLedUartRx", exchange, 255, 1, call(&S::GetInitialPinValueLedUartRx)},
        {"SetInitialPinValueLedUartRx", arg1, 255, 2, bitSetter(&S::SetInitialPinValueLedUartRx),
         FlashBits({{0, 0x40}})},
        {"GetInitialPinValueLedI2c", exchange, 255, 1, call(&S::GetInitialPinValueLedI2c)},
        {"SetInitialPinValueLedI2c", arg1, 255, 2, bitSetter(&S::SetInitialPinValueLedI2c),
         FlashBits({{0, 0x10}})},
        {"GetInitialPinValueSspnd", exchange, 255, 1, call(&S::GetInitialPinValueSspnd)},
        {"SetInitialPinValueSspnd", arg1, 255, 2, bitSetter(&S::SetInitialPinValueSspnd),
         FlashBits({{0, 0x08}})},
        {"GetInitialPinValueUsbcfg", exchange, 255, 1, call(&S::GetInitialPinValueUsbcfg)},
        {"SetInitialPinValueUsbcfg", arg1, 255, 2, bitSetter(&S::SetInitialPinValueUsbcfg),
         FlashBits({{0, 0x04}})},
        {"GetFirmwareVersion",
         {kNoText},
         0,
         1,
         [=](VrelUsbI2c& b, A&) { return text(b.Settings->GetFirmwareVersion()); }},
        {"GetInterruptPinState", exchange, 255, 1,
         [](VrelUsbI2c& b, A&) { return b.Functions->GetInterruptPinState(); }},
    };
}

}  // namespace CorvaneTest

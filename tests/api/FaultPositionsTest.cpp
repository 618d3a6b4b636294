// For every public operation that exchanges reports: the device is unplugged,
// goes silent, or a wait fails, at each report position in turn. The
// operation must fail within the transport's time-outs, send nothing after
// the failure, and the same library object must work once the device is back.
#include "common/SimTest.hpp"

#include <corvane/sim/Eeprom.hpp>
#include <corvane/sim/SmbusDevice.hpp>

#include <array>
#include <functional>
#include <vector>

namespace CorvaneTest {
namespace {

using namespace std::chrono_literals;
using Corvane::VrelUsbI2c;
using Corvane::Sim::HostFault;

struct Operation {
    const char* name;
    std::function<std::int32_t(VrelUsbI2c&)> run;
};

// Every Settings operation that exchanges reports; text results count as 0
// when present. Selectors take BOTH where accepted, for the most reports.
std::vector<Operation> SettingsOperations() {
    using Corvane::DevSettings_M;
    constexpr auto kBoth = Corvane::DllConstants::BOTH;
    constexpr auto kFlash = Corvane::DllConstants::PWRUP_DEFAULTS_ONLY;
    static std::array<std::uint8_t, 4> designations{}, directions{}, values{};
    const auto text = [](const auto& result) { return result ? 0 : -1; };
    const std::vector<std::pair<const char*, std::function<std::int64_t(DevSettings_M&)>>> ops = {
        {"GetSerialNumber", [=](DevSettings_M& s) { return text(s.GetSerialNumber()); }},
        {"SetSerialNumber", [](DevSettings_M& s) { return s.SetSerialNumber(u"SN-1"); }},
        {"GetSerialNumberEnumerationEnable",
         [](DevSettings_M& s) { return s.GetSerialNumberEnumerationEnable(); }},
        {"SetSerialNumberEnumerationEnable",
         [](DevSettings_M& s) { return s.SetSerialNumberEnumerationEnable(false); }},
        {"GetUsbVid", [](DevSettings_M& s) { return s.GetUsbVid(); }},
        {"GetUsbPid", [](DevSettings_M& s) { return s.GetUsbPid(); }},
        {"SetUsbVidPid", [](DevSettings_M& s) { return s.SetUsbVidPid(0x3A7C, 0x01D5); }},
        {"GetUsbPowerSource", [](DevSettings_M& s) { return s.GetUsbPowerSource(); }},
        {"SetUsbPowerSource", [](DevSettings_M& s) { return s.SetUsbPowerSource(1); }},
        {"GetUsbRemoteWakeupEnable", [](DevSettings_M& s) { return s.GetUsbRemoteWakeupEnable(); }},
        {"SetUsbRemoteWakeupEnable",
         [](DevSettings_M& s) { return s.SetUsbRemoteWakeupEnable(true); }},
        {"GetUsbCurrentRequirement", [](DevSettings_M& s) { return s.GetUsbCurrentRequirement(); }},
        {"SetUsbCurrentRequirement",
         [](DevSettings_M& s) { return s.SetUsbCurrentRequirement(200); }},
        {"GetUsbStringManufacturer",
         [=](DevSettings_M& s) { return text(s.GetUsbStringManufacturer()); }},
        {"SetUsbStringManufacturer",
         [](DevSettings_M& s) { return s.SetUsbStringManufacturer(u"M"); }},
        {"GetUsbStringDescriptor",
         [=](DevSettings_M& s) { return text(s.GetUsbStringDescriptor()); }},
        {"SetUsbStringDescriptor", [](DevSettings_M& s) { return s.SetUsbStringDescriptor(u"D"); }},
        {"GetFlashProtectionState", [](DevSettings_M& s) { return s.GetFlashProtectionState(); }},
        {"SetFlashProtectionOff", [](DevSettings_M& s) { return s.SetFlashProtectionOff(); }},
        {"SetFlashPermanentLock", [](DevSettings_M& s) { return s.SetFlashPermanentLock(); }},
        {"SetFlashPasswordProtection",
         [](DevSettings_M& s) { return s.SetFlashPasswordProtection("12345678"); }},
        {"GetGpPinConfiguration",
         [](DevSettings_M& s) {
             return s.GetGpPinConfiguration(kFlash, designations, directions, values);
         }},
        {"SetGpPinConfiguration",
         [](DevSettings_M& s) {
             return s.SetGpPinConfiguration(kBoth, designations, directions, values);
         }},
        {"GetGpPinDirection", [](DevSettings_M& s) { return s.GetGpPinDirection(kFlash, 1); }},
        {"SetGpPinDirection", [](DevSettings_M& s) { return s.SetGpPinDirection(kBoth, 1, 0); }},
        {"GetDacVoltageReference", [](DevSettings_M& s) { return s.GetDacVoltageReference(); }},
        {"SetDacVoltageReference", [](DevSettings_M& s) { return s.SetDacVoltageReference(2); }},
        {"GetDacValue", [](DevSettings_M& s) { return s.GetDacValue(); }},
        {"SetDacValue", [](DevSettings_M& s) { return s.SetDacValue(9); }},
        {"GetAdcVoltageReference", [](DevSettings_M& s) { return s.GetAdcVoltageReference(); }},
        {"SetAdcVoltageReference", [](DevSettings_M& s) { return s.SetAdcVoltageReference(1); }},
        {"GetInterruptPinMode", [](DevSettings_M& s) { return s.GetInterruptPinMode(kFlash); }},
        {"SetInterruptPinMode", [](DevSettings_M& s) { return s.SetInterruptPinMode(kBoth, 3); }},
        {"GetClockPinDividerValue",
         [](DevSettings_M& s) { return s.GetClockPinDividerValue(kFlash); }},
        {"GetClockPinDutyCycle", [](DevSettings_M& s) { return s.GetClockPinDutyCycle(kFlash); }},
        {"SetClockPinConfiguration",
         [](DevSettings_M& s) { return s.SetClockPinConfiguration(kBoth, 5, 1); }},
        {"GetInitialPinValueLedUartTx",
         [](DevSettings_M& s) { return s.GetInitialPinValueLedUartTx(); }},
        {"SetInitialPinValueLedUartTx",
         [](DevSettings_M& s) { return s.SetInitialPinValueLedUartTx(1); }},
        {"GetInitialPinValueLedUartRx",
         [](DevSettings_M& s) { return s.GetInitialPinValueLedUartRx(); }},
        {"SetInitialPinValueLedUartRx",
         [](DevSettings_M& s) { return s.SetInitialPinValueLedUartRx(1); }},
        {"GetInitialPinValueLedI2c", [](DevSettings_M& s) { return s.GetInitialPinValueLedI2c(); }},
        {"SetInitialPinValueLedI2c",
         [](DevSettings_M& s) { return s.SetInitialPinValueLedI2c(1); }},
        {"GetInitialPinValueSspnd", [](DevSettings_M& s) { return s.GetInitialPinValueSspnd(); }},
        {"SetInitialPinValueSspnd", [](DevSettings_M& s) { return s.SetInitialPinValueSspnd(1); }},
        {"GetInitialPinValueUsbcfg", [](DevSettings_M& s) { return s.GetInitialPinValueUsbcfg(); }},
        {"SetInitialPinValueUsbcfg",
         [](DevSettings_M& s) { return s.SetInitialPinValueUsbcfg(1); }},
        {"GetFirmwareVersion", [=](DevSettings_M& s) { return text(s.GetFirmwareVersion()); }},
    };
    std::vector<Operation> operations;
    for (const auto& [name, op] : ops) {
        operations.push_back({name, [op](VrelUsbI2c& b) {
                                  const std::int64_t result = op(*b.Settings);
                                  return result < 0 ? static_cast<std::int32_t>(result) : 0;
                              }});
    }
    return operations;
}

std::vector<Operation> Operations() {
    static std::array<std::uint16_t, 5> adc{};
    static std::vector<std::uint8_t> buffer(150, 0x5A);
    std::vector<Operation> operations = {
        {"WriteI2cData",
         [](VrelUsbI2c& b) { return b.Functions->WriteI2cData(0x16, buffer, 130, 400000); }},
        {"ReadI2cData",
         [](VrelUsbI2c& b) { return b.Functions->ReadI2cData(0xA1, buffer, 130, 1000000); }},
        {"StopI2cDataTransfer", [](VrelUsbI2c& b) { return b.Functions->StopI2cDataTransfer(); }},
        {"SmbWriteBlock",
         [](VrelUsbI2c& b) { return b.Functions->SmbWriteBlock(0x16, buffer, 70, 400000, 1); }},
        {"SmbReadBlock",
         [](VrelUsbI2c& b) { return b.Functions->SmbReadBlock(0x16, buffer, 4, 100000, 1, 0x20); }},
        {"EnterAccessPassword",
         [](VrelUsbI2c& b) { return b.Functions->EnterAccessPassword("12345678"); }},
        {"ResetDevice", [](VrelUsbI2c& b) { return b.Functions->ResetDevice(); }},
        {"ClearInterruptPinState",
         [](VrelUsbI2c& b) { return b.Functions->ClearInterruptPinState(); }},
        {"GetAdcData", [](VrelUsbI2c& b) { return b.Functions->GetAdcData(adc); }},
        {"ReadGpioPinValue", [](VrelUsbI2c& b) { return b.Functions->ReadGpioPinValue(1); }},
        {"WriteGpioPinValue", [](VrelUsbI2c& b) { return b.Functions->WriteGpioPinValue(1, 1); }},
    };
    for (Operation& op : SettingsOperations()) operations.push_back(std::move(op));
    return operations;
}

const char* FaultName(HostFault fault) {
    switch (fault) {
        case HostFault::Unplug:
            return "unplug";
        case HostFault::Silence:
            return "silence";
        case HostFault::FailWait:
            return "failed wait";
    }
    return "?";
}

class FaultPositionsTest : public SimTest {
  protected:
    // A fresh simulated host with one device and a connected library object.
    void Fresh() {
        bridge.reset();
        host = SimulatedHost::Install();
        Connect();
        device->AttachTarget(0x50, std::make_shared<Corvane::Sim::Eeprom>(4096, 32));
        auto smbus = std::make_shared<Corvane::Sim::SmbusDevice>(0x0B);
        smbus->EnablePec(true);
        smbus->SetRegister(0x20, {1, 2, 3, 4});
        device->AttachTarget(0x0B, smbus);
    }
};

TEST_F(FaultPositionsTest, EveryOperationFailsCleanlyAtEveryReport) {
    std::size_t positions = 0;
    for (const Operation& op : Operations()) {
        SCOPED_TRACE(op.name);
        Fresh();
        const std::size_t start = host->TransferCount();
        const auto begin = host->Now();
        ASSERT_GE(op.run(*bridge), 0);
        const std::size_t transfers = host->TransferCount() - start;
        const auto normalTime = host->Now() - begin;
        ASSERT_GT(transfers, 0u);

        for (std::size_t k = 0; k < transfers; ++k) {
            for (HostFault fault : {HostFault::Unplug, HostFault::Silence, HostFault::FailWait}) {
                SCOPED_TRACE(testing::Message() << FaultName(fault) << " at report " << k);
                Fresh();
                const std::size_t base = host->TransferCount();
                host->InjectFault(base + k, fault);
                const auto t0 = host->Now();
                const std::int32_t result = op.run(*bridge);
                // A device that goes silent at the last report, a write with
                // no answer (the reset), does not fail the operation.
                const bool mayPass = fault == HostFault::Silence && k + 1 == transfers;
                if (!mayPass) {
                    EXPECT_LT(result, 0);
                }
                EXPECT_LE(host->Now() - t0, normalTime + 1000ms);
                // Silence shows at the read after a silenced write.
                const std::size_t failedAt = fault == HostFault::Silence ? k + 1 : k;
                EXPECT_LE(host->TransferCount() - base, failedAt + 1) << "sent after the failure";

                host->ClearFaults();
                std::int32_t again = op.run(*bridge);
                // After a reset that went through, the old channels fail once.
                if (result >= 0 && again < 0) again = op.run(*bridge);
                EXPECT_GE(again, 0) << "the same object must work again";
                ++positions;
            }
        }
    }
    RecordProperty("fault_positions", static_cast<int>(positions));
    EXPECT_GT(positions, 0u);
}

TEST_F(FaultPositionsTest, ManyConstructionsAndPassesLeaveResourcesFlat) {
    Connect();
    auto second = Plug();
    ASSERT_TRUE(bridge->Settings->GetConnectionStatus());
    const std::size_t channels = host->OpenChannelCount();
    for (int i = 0; i < 10000; ++i) {
        VrelUsbI2c object;
        if (i % 3 == 0) host->Unplug(second);
        object.Settings->GetConnectionStatus();
        if (i % 3 == 0) host->Plug(second);
        object.Settings->GetConnectionStatus();
    }
    EXPECT_EQ(host->OpenChannelCount(), channels);
}

}  // namespace
}  // namespace CorvaneTest

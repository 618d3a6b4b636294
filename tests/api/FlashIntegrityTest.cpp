// No data lost in the chip's flash: a setter that changes a flash record by
// read-modify-write changes its own field and nothing else, whatever fails
// on the way, and a failed read never leads to a write.
#include "common/SimTest.hpp"

#include <functional>
#include <random>
#include <vector>

namespace CorvaneTest {
namespace {

using Corvane::DevSettings_M;
using Corvane::DllConstants;
using Corvane::Sim::DeviceFlash;

// The flash as one byte string: chip record, password, GP record.
using Image = std::vector<std::uint8_t>;
constexpr std::size_t kPassword = 10;
constexpr std::size_t kGp = 18;

Image Snapshot(const VirtualDevice& device) {
    const DeviceFlash flash = device.Flash();
    Image image(flash.chipSettings.begin(), flash.chipSettings.end());
    image.insert(image.end(), flash.password.begin(), flash.password.end());
    image.insert(image.end(), flash.gpSettings.begin(), flash.gpSettings.end());
    return image;
}

struct Setter {
    const char* name;
    Image mask;  // the bits the setter may change
    std::function<std::int32_t(DevSettings_M&, std::mt19937&)> run;
};

Image Mask(std::initializer_list<std::pair<std::size_t, std::uint8_t>> bits) {
    Image mask(kGp + 4, 0);
    for (const auto& [index, value] : bits) mask[index] |= value;
    return mask;
}

std::vector<Setter> Setters() {
    const auto flash = DllConstants::PWRUP_DEFAULTS_ONLY;
    auto bit = [](std::mt19937& random) { return static_cast<std::int32_t>(random() % 2); };
    return {
        {"SetUsbVidPid", Mask({{4, 0xFF}, {5, 0xFF}, {6, 0xFF}, {7, 0xFF}}),
         [](DevSettings_M& s, std::mt19937& r) {
             return s.SetUsbVidPid(r() & 0xFFFF, r() & 0xFFFF);
         }},
        {"SetUsbPowerSource", Mask({{8, 0xFF}}),
         [=](DevSettings_M& s, std::mt19937& r) { return s.SetUsbPowerSource(bit(r)); }},
        {"SetUsbRemoteWakeupEnable", Mask({{8, 0x20}}),
         [=](DevSettings_M& s, std::mt19937& r) {
             return s.SetUsbRemoteWakeupEnable(bit(r) == 1);
         }},
        {"SetUsbCurrentRequirement", Mask({{9, 0xFF}}),
         [](DevSettings_M& s, std::mt19937& r) {
             return s.SetUsbCurrentRequirement(static_cast<std::int32_t>(100 + 2 * (r() % 201)));
         }},
        {"SetSerialNumberEnumerationEnable", Mask({{0, 0x80}}),
         [=](DevSettings_M& s, std::mt19937& r) {
             return s.SetSerialNumberEnumerationEnable(bit(r) == 1);
         }},
        {"SetInitialPinValueLedUartRx", Mask({{0, 0x40}}),
         [=](DevSettings_M& s, std::mt19937& r) { return s.SetInitialPinValueLedUartRx(bit(r)); }},
        {"SetInitialPinValueLedUartTx", Mask({{0, 0x20}}),
         [=](DevSettings_M& s, std::mt19937& r) { return s.SetInitialPinValueLedUartTx(bit(r)); }},
        {"SetInitialPinValueLedI2c", Mask({{0, 0x10}}),
         [=](DevSettings_M& s, std::mt19937& r) { return s.SetInitialPinValueLedI2c(bit(r)); }},
        {"SetInitialPinValueSspnd", Mask({{0, 0x08}}),
         [=](DevSettings_M& s, std::mt19937& r) { return s.SetInitialPinValueSspnd(bit(r)); }},
        {"SetInitialPinValueUsbcfg", Mask({{0, 0x04}}),
         [=](DevSettings_M& s, std::mt19937& r) { return s.SetInitialPinValueUsbcfg(bit(r)); }},
        {"SetFlashProtectionOff", Mask({{0, 0x03}}),
         [](DevSettings_M& s, std::mt19937&) { return s.SetFlashProtectionOff(); }},
        {"SetFlashPasswordProtection",
         Mask({{0, 0x03},
               {10, 0xFF},
               {11, 0xFF},
               {12, 0xFF},
               {13, 0xFF},
               {14, 0xFF},
               {15, 0xFF},
               {16, 0xFF},
               {17, 0xFF}}),
         [](DevSettings_M& s, std::mt19937& r) {
             const std::string password = "pass" + std::to_string(1000 + r() % 9000);
             return s.SetFlashPasswordProtection(password.c_str());
         }},
        {"SetInterruptPinMode", Mask({{3, 0x60}}),
         [=](DevSettings_M& s, std::mt19937& r) {
             return s.SetInterruptPinMode(flash, static_cast<std::int32_t>(1 + r() % 3));
         }},
        {"SetClockPinConfiguration", Mask({{1, 0x1F}}),
         [=](DevSettings_M& s, std::mt19937& r) {
             return s.SetClockPinConfiguration(flash, static_cast<std::int32_t>(1 + r() % 7),
                                               static_cast<std::int32_t>(r() % 4));
         }},
        {"SetGpPinDirection",
         Mask({{kGp, 0x08}, {kGp + 1, 0x08}, {kGp + 2, 0x08}, {kGp + 3, 0x08}}),
         [=](DevSettings_M& s, std::mt19937& r) {
             return s.SetGpPinDirection(flash, static_cast<std::uint8_t>(r() % 4),
                                        static_cast<std::uint8_t>(r() % 2));
         }},
    };
}

enum class Fault { None, ReadLost, ReadRefused, WriteLost, WriteRefused };
constexpr Fault kFaults[] = {Fault::None, Fault::ReadLost, Fault::ReadRefused, Fault::WriteLost,
                             Fault::WriteRefused};

void Inject(VirtualDevice& device, Fault fault) {
    switch (fault) {
        case Fault::None:
            break;
        case Fault::ReadLost:
            device.DropResponses(0xB0);
            break;
        case Fault::ReadRefused:
            device.RefuseCommands(0xB0, 0x01);
            break;
        case Fault::WriteLost:
            device.DropResponses(0xB1);
            break;
        case Fault::WriteRefused:
            device.RefuseCommands(0xB1, 0x01);
            break;
    }
}

class FlashIntegrityTest : public SimTest {
  protected:
    // A new host with one chip, connected.
    void Fresh() {
        bridge.reset();
        host = SimulatedHost::Install();
        Connect();
    }

    // Runs one setter with one fault and checks the flash against `model`,
    // which is then brought up to date with the setter's own bits.
    void Step(const Setter& setter, Fault fault, std::mt19937& random, Image& model) {
        SCOPED_TRACE(testing::Message()
                     << setter.name << " with fault " << static_cast<int>(fault));
        const std::size_t writesBefore = device->CommandCount(0xB1);
        Inject(*device, fault);
        const std::int32_t result = setter.run(*bridge->Settings, random);
        device->ClearFaults();
        const Image now = Snapshot(*device);
        for (std::size_t i = 0; i < now.size(); ++i) {
            EXPECT_EQ(now[i] & ~setter.mask[i], model[i] & ~setter.mask[i]) << "flash byte " << i;
        }
        if (fault == Fault::ReadLost || fault == Fault::ReadRefused) {
            EXPECT_NE(result, 0);
            EXPECT_EQ(device->CommandCount(0xB1), writesBefore) << "a failed read led to a write";
            EXPECT_EQ(now, model);
        }
        if (fault == Fault::WriteRefused) {
            EXPECT_EQ(now, model);
        }
        model = now;
    }
};

TEST_F(FlashIntegrityTest, EverySetterWithEveryFault) {
    std::mt19937 random(1);
    for (const Setter& setter : Setters()) {
        for (Fault fault : kFaults) {
            Fresh();
            Image model = Snapshot(*device);
            Step(setter, fault, random, model);
        }
    }
}

TEST_F(FlashIntegrityTest, RandomSequencesOfSettersAndFaults) {
    const std::vector<Setter> setters = Setters();
    std::mt19937 random(20261207);
    for (int sequence = 0; sequence < 20; ++sequence) {
        Fresh();
        Image model = Snapshot(*device);
        for (int step = 0; step < 60; ++step) {
            const Setter& setter = setters[random() % setters.size()];
            Step(setter, kFaults[random() % 5], random, model);
        }
        // Whatever happened, the chip still starts up from what its flash says.
        const std::string saved = device->SaveState();
        VirtualDevice copy;
        ASSERT_TRUE(copy.LoadState(saved));
        EXPECT_EQ(Snapshot(copy), model);
    }
}

}  // namespace
}  // namespace CorvaneTest

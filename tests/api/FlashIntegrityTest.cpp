// SPDX-License-Identifier: MIT
// No data lost in the chip's flash: a setter that changes a flash record by
// read-modify-write changes its own field and nothing else, whatever fails
// on the way, and a failed read never leads to a write.
#include "common/PublicOperations.hpp"
#include "common/SimTest.hpp"

#include <functional>
#include <random>
#include <vector>

namespace CorvaneTest {
namespace {

using Corvane::DllConstants;
using Corvane::Sim::DeviceFlash;

// The flash as one byte string: chip record, password, GP record.
using Image = std::vector<std::uint8_t>;

Image Snapshot(const VirtualDevice& device) {
    const DeviceFlash flash = device.Flash();
    Image image(flash.chipSettings.begin(), flash.chipSettings.end());
    image.insert(image.end(), flash.password.begin(), flash.password.end());
    image.insert(image.end(), flash.gpSettings.begin(), flash.gpSettings.end());
    return image;
}

// Random valid arguments; selectors choose the flash.
class RandomArguments : public Arguments {
  public:
    explicit RandomArguments(std::mt19937& random) : random_(random) {}
    std::int64_t Number(std::int64_t lo, std::int64_t hi, std::int64_t,
                        std::int64_t step) override {
        return lo + step * static_cast<std::int64_t>(
                               random_() % static_cast<std::uint64_t>((hi - lo) / step + 1));
    }
    std::int32_t Selector(bool) override { return DllConstants::PWRUP_DEFAULTS_ONLY; }
    TextArgument Text(const char*) override {
        return {"pass" + std::to_string(1000 + random_() % 9000)};
    }
    std::vector<std::uint8_t> PinArray() override { return std::vector<std::uint8_t>(4, 0); }
    std::size_t Size(std::size_t, std::size_t usual) override { return usual; }
    BusArguments Bus(std::uint8_t address, std::uint32_t count, std::uint32_t speed) override {
        return {address, count, std::vector<std::uint8_t>(count), speed};
    }

  private:
    std::mt19937& random_;
};

// The operations that change the chip's flash records.
std::vector<PublicOperation> Setters() {
    std::vector<PublicOperation> setters;
    for (PublicOperation& op : PublicOperations()) {
        if (!op.flashBits.empty()) setters.push_back(std::move(op));
    }
    return setters;
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
    // Runs one setter with one fault and checks the flash against `model`,
    // which is then brought up to date with the setter's own bits.
    void Step(const PublicOperation& setter, Fault fault, std::mt19937& random, Image& model) {
        SCOPED_TRACE(testing::Message()
                     << setter.name << " with fault " << static_cast<int>(fault));
        const std::size_t writesBefore = device->CommandCount(0xB1);
        Inject(*device, fault);
        RandomArguments arguments(random);
        const std::int64_t result = setter.run(*bridge, arguments);
        device->ClearFaults();
        const Image now = Snapshot(*device);
        for (std::size_t i = 0; i < now.size(); ++i) {
            EXPECT_EQ(now[i] & ~setter.flashBits[i], model[i] & ~setter.flashBits[i])
                << "flash byte " << i;
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
    for (const PublicOperation& setter : Setters()) {
        for (Fault fault : kFaults) {
            Fresh();
            Image model = Snapshot(*device);
            Step(setter, fault, random, model);
        }
    }
}

TEST_F(FlashIntegrityTest, RandomSequencesOfSettersAndFaults) {
    const std::vector<PublicOperation> setters = Setters();
    std::mt19937 random(20261207);
    for (int sequence = 0; sequence < 20; ++sequence) {
        Fresh();
        Image model = Snapshot(*device);
        for (int step = 0; step < 60; ++step) {
            const PublicOperation& setter = setters[random() % setters.size()];
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

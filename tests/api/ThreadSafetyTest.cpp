// Many threads share one library object and one bridge: every public
// operation takes the library's lock, so their reports never interleave and
// every thread reads back exactly what it wrote.
#include "common/SimTest.hpp"

#include <corvane/sim/Eeprom.hpp>

#include <atomic>
#include <thread>
#include <vector>

namespace CorvaneTest {
namespace {

constexpr int kThreads = 8;
constexpr int kOperationsPerThread = 2000;

class ThreadSafetyTest : public SimTest {};

TEST_F(ThreadSafetyTest, MixedOperationsFromEightThreads) {
    Connect();
    host->SetReportTime(std::chrono::microseconds(0));
    // Each thread has an EEPROM of its own, at 0x50 + thread.
    for (int t = 0; t < kThreads; ++t) {
        device->AttachTarget(static_cast<std::uint8_t>(0x50 + t),
                             std::make_shared<Corvane::Sim::Eeprom>(4096, 32));
    }
    device->SetAdcInput(0, 3300);

    std::atomic<int> wrong{0};
    std::atomic<int> operations{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            const auto writeAddress = static_cast<std::uint8_t>((0x50 + t) << 1);
            unsigned seed = 1u + static_cast<unsigned>(t);
            for (int i = 0; i < kOperationsPerThread; i += 4) {
                seed = seed * 1103515245u + 12345u;
                const auto offset = static_cast<std::uint16_t>((seed >> 8) % 128 * 32);
                std::vector<std::uint8_t> write = {static_cast<std::uint8_t>(offset >> 8),
                                                   static_cast<std::uint8_t>(offset & 0xFF)};
                for (int k = 0; k < 16; ++k) write.push_back(static_cast<std::uint8_t>(seed >> k));
                if (bridge->Functions->WriteI2cData(writeAddress, write, 18, 1000000) != 0) ++wrong;
                // The EEPROM acknowledges again once its write cycle is over.
                std::int32_t pointer = Corvane::I2C_NOT_ACKNOWLEDGED;
                for (int poll = 0; poll < 100 && pointer == Corvane::I2C_NOT_ACKNOWLEDGED; ++poll) {
                    pointer = bridge->Functions->WriteI2cData(writeAddress, write, 2, 1000000);
                }
                if (pointer != 0) ++wrong;
                std::vector<std::uint8_t> read(16);
                if (bridge->Functions->ReadI2cData(writeAddress | 1, read, 16, 1000000) != 0 ||
                    !std::equal(read.begin(), read.end(), write.begin() + 2)) {
                    ++wrong;
                }
                switch (i / 4 % 3) {
                    case 0: {
                        std::array<std::uint16_t, 5> adc{};
                        if (bridge->Functions->GetAdcData(adc) != 0 || adc[0] != 1023) ++wrong;
                        break;
                    }
                    case 1:
                        if (bridge->Functions->ReadGpioPinValue(0) != 0) ++wrong;
                        break;
                    default:
                        if (bridge->Management->GetDevCount() != 1) ++wrong;
                        break;
                }
                operations += 4;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(operations.load(), kThreads * kOperationsPerThread);
}

TEST_F(ThreadSafetyTest, ConstructionWaitsForRunningOperations) {
    Connect();
    std::atomic<bool> stop{false};
    std::atomic<int> failures{0};
    std::thread worker([&] {
        while (!stop) {
            if (bridge->Functions->ReadGpioPinValue(1) < 0 &&
                bridge->Functions->ReadGpioPinValue(1) < 0) {
                ++failures;  // a construction may drop the connection once, never twice
            }
        }
    });
    for (int i = 0; i < 200; ++i) Corvane::VrelUsbI2c other;
    stop = true;
    worker.join();
    EXPECT_EQ(failures.load(), 0);
}

}  // namespace
}  // namespace CorvaneTest

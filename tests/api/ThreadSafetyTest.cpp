// SPDX-License-Identifier: MIT
// Many threads share one library object and one bridge: every public
// operation takes the library's lock, so their reports never interleave and
// every thread reads back exactly what it wrote.
#include "common/SimTest.hpp"

#include <corvane/corvane.h>
#include <corvane/corvane_sim.h>
#include <corvane/sim/Eeprom.hpp>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <iterator>
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

// The C accessors of a virtual EEPROM copy its memory while transfers on
// another thread write it (a data race for ThreadSanitizer unless they lock).
TEST_F(ThreadSafetyTest, EepromAccessorsRunBesideTransfers) {
    corvane_sim_host* simHost = nullptr;
    corvane_sim_device* chip = nullptr;
    corvane_sim_target* eeprom = nullptr;
    corvane_bridge* handle = nullptr;
    ASSERT_EQ(corvane_sim_host_install(&simHost), 0);
    ASSERT_EQ(corvane_sim_host_set_report_time_us(simHost, 0), 0);
    ASSERT_EQ(corvane_sim_device_new(0x3A7C, 0x01D5, &chip), 0);
    ASSERT_EQ(corvane_sim_eeprom_new(256, 16, &eeprom), 0);
    ASSERT_EQ(corvane_sim_device_attach_target(chip, 0x50, eeprom), 0);
    ASSERT_EQ(corvane_sim_host_plug(simHost, chip), 0);
    ASSERT_EQ(corvane_bridge_open(0x3A7C, 0x01D5, 0, nullptr, nullptr, &handle), 0);

    constexpr int kRounds = 100;
    std::atomic<int> wrong{0};
    std::thread bus([&] {
        for (int i = 0; i < kRounds; ++i) {
            std::uint8_t page[18] = {0x00, 0x10};
            std::fill(std::begin(page) + 2, std::end(page), static_cast<std::uint8_t>(i));
            if (corvane_write_i2c_data(handle, 0xA0, page, 18, 400000) != 0) ++wrong;
            corvane_sim_host_advance_clock_us(simHost, 10000);  // the write cycle
        }
    });
    std::uint8_t copy[16];
    for (int i = 0; i < kRounds; ++i) {
        if (corvane_sim_eeprom_read(eeprom, 0x10, copy, sizeof copy) != 0) ++wrong;
        if (corvane_sim_eeprom_write(eeprom, 0x18, copy, 1) != 0) ++wrong;
    }
    bus.join();
    EXPECT_EQ(wrong.load(), 0);
    corvane_bridge_free(handle);
    corvane_sim_target_free(eeprom);
    corvane_sim_device_free(chip);
    corvane_sim_host_free(simHost);
}

}  // namespace
}  // namespace CorvaneTest

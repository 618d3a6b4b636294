// SPDX-License-Identifier: MIT
// Fixed and bus-time pacing side by side on the virtual chip: the same bytes
// cross the bus and every transfer ends the same way, only sooner.
#include "common/Recorder.hpp"
#include "common/SimTest.hpp"

#include <corvane/Pacing.hpp>
#include <corvane/sim/I2cTarget.hpp>

#include <chrono>
#include <vector>

namespace CorvaneTest {
namespace {

using Corvane::Pacing;
using Bytes_ = std::vector<std::uint8_t>;

constexpr std::uint8_t kTarget = 0x50;

struct Outcome {
    std::int32_t result;
    Bytes_ written;
    Bytes_ read;
    Bytes_ buffer;
    std::chrono::microseconds took;
    std::size_t turnedAway;
};

struct Row {
    bool write;
    std::uint32_t size;
    std::uint32_t speed;
    std::size_t nackAt = SIZE_MAX;         // a target that refuses a data byte
    std::uint8_t address = kTarget << 1;   // another one: nobody answers
    std::chrono::microseconds stretch{0};  // a target that holds the clock
};

class PacingTest : public SimTest {
  protected:
    void TearDown() override {
        Corvane::SetPacing(Pacing::Fixed);
        SimTest::TearDown();
    }

    Outcome Run(const Row& row, Pacing pacing) {
        Fresh();
        auto target = std::make_shared<Recorder>();
        target->nackAt = row.nackAt;
        target->SetClockStretch(row.stretch);
        device->AttachTarget(kTarget, target);
        Corvane::SetPacing(pacing);
        Bytes_ buffer(row.size);
        for (std::size_t i = 0; i < buffer.size(); ++i)
            buffer[i] = static_cast<std::uint8_t>(i ^ (i >> 8));
        const auto start = host->Now();
        const std::int32_t result =
            row.write
                ? bridge->Functions->WriteI2cData(row.address, buffer, row.size, row.speed)
                : bridge->Functions->ReadI2cData(row.address | 1, buffer, row.size, row.speed);
        std::size_t refused = 0;
        for (const TraceEntry& e : host->Trace()) {
            // A refused chunk, or data asked for before they were in.
            if (!e.toDevice && ((e.bytes[0] == 0x90 && e.bytes[1] != 0) ||
                                (e.bytes[0] == 0x40 && e.bytes[3] > 60))) {
                ++refused;
            }
        }
        return {result, target->written, target->read, buffer, host->Now() - start, refused};
    }
};

TEST_F(PacingTest, BusTimeMovesTheSameBytesSooner) {
    std::vector<Row> rows;
    for (bool write : {true, false}) {
        for (std::uint32_t size : {60u, 4096u, 65'535u}) {
            for (std::uint32_t speed : {100'000u, 400'000u, 1'000'000u})
                rows.push_back({write, size, speed});
        }
    }
    rows.push_back({true, 4096, 100'000, 1000});           // NACK in the 17th chunk
    rows.push_back({true, 200, 400'000, SIZE_MAX, 0x62});  // nobody at the address
    rows.push_back({false, 200, 400'000, SIZE_MAX, 0x62});
    // Held clock: bus-time chunks and data requests come too early and are
    // refused or answered "not ready", then sent again.
    rows.push_back({true, 4096, 400'000, SIZE_MAX, kTarget << 1, std::chrono::microseconds(20)});
    rows.push_back({false, 4096, 400'000, SIZE_MAX, kTarget << 1, std::chrono::microseconds(20)});

    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message()
                     << (row.write ? "write " : "read ") << row.size << " B at " << row.speed
                     << " Hz, nack at " << row.nackAt << ", address " << int(row.address)
                     << ", stretch " << row.stretch.count());
        const Outcome fixed = Run(row, Pacing::Fixed);
        const Outcome busTime = Run(row, Pacing::BusTime);
        EXPECT_EQ(busTime.result, fixed.result);
        EXPECT_EQ(busTime.written, fixed.written);
        EXPECT_EQ(busTime.read, fixed.read);
        EXPECT_EQ(busTime.buffer, fixed.buffer);
        EXPECT_LT(busTime.took, fixed.took);
        if (row.nackAt == SIZE_MAX && row.address == kTarget << 1) {
            EXPECT_EQ(fixed.result, 0);
            EXPECT_EQ((row.write ? fixed.written : fixed.read).size(), row.size);
        }
        if (row.stretch.count() > 0) {
            EXPECT_GT(busTime.turnedAway, 0u);
        }
    }
}

}  // namespace
}  // namespace CorvaneTest

// SPDX-License-Identifier: MIT
#pragma once

// The steps every I2C and SMBus transfer is made of: speed set-up, chunk
// sending, status polling and data collection. The transfers in
// DevFunctions differ only in the parameters they pass here.

#include <cstdint>
#include <optional>

#include "functions/BusPacer.hpp"
#include "protocol/CommandCodes.hpp"
#include "transport/DevComTransport.hpp"

namespace Corvane {

// Divider sent to the device and the base pause D derived from a bus speed.
struct BusTiming {
    std::uint8_t divider;
    std::uint32_t delayMs;
    std::uint32_t speedHz;
};

// The bytes a write moves on the bus: `count` caller bytes and, when set,
// one trailing byte (the PEC).
struct ByteStream {
    const std::uint8_t* data;
    std::uint32_t count;
    std::optional<std::uint8_t> trailer;

    std::uint32_t Total() const { return count + (trailer ? 1u : 0u); }
};

// What ends a run of status polls: the engine state that means "go on", and
// whether the write-failed flag (bit 6 of byte 20) ends it with a failure.
struct PollGoal {
    std::uint8_t doneState;
    bool nackFails;
};

struct Collected {
    std::int32_t result;
    std::uint32_t received;
};

class BusTransfer {
  public:
    static constexpr std::uint32_t kMaxCount = 0xFFFF;
    static constexpr std::uint32_t kChunkBytes = 60;
    static constexpr std::uint32_t kRefusalBudget = 50;
    // Answers that are neither refused nor final which one run of polls
    // accepts before giving up on a device that never finishes.
    static constexpr std::uint32_t kMaxUnsettledPolls = 5000;
    static constexpr std::uint8_t kWaitingForRestart = 0x45;
    // The engine's state after a target did not acknowledge.
    static constexpr std::uint8_t kNackState = 0x25;

    // The speeds whose divider 48 MHz / (4 * speed) - 3 fits in a byte.
    static constexpr std::uint32_t kMinSpeedHz = 46'333;
    static constexpr std::uint32_t kMaxSpeedHz = 4'000'000;

    // Divider and D for `speed` Hz, or nothing when the speed is outside
    // kMinSpeedHz..kMaxSpeedHz.
    static std::optional<BusTiming> TimingFor(std::uint32_t speed);

    // One report pair: 0, -4 (write failed) or -5 (read failed).
    static std::int32_t Exchange(const Report& request, Report& response);

    // Asks for the speed; when it is not taken, asks again with the running
    // transfer cancelled. A refused first request returns `firstRefusal`.
    static std::int32_t SetUpSpeed(std::uint8_t divider, std::int32_t firstRefusal);

    // Sends `stream` in chunks of up to 60 bytes under the header
    // command / total / address, retrying refused chunks.
    static std::int32_t SendChunks(std::uint8_t command, std::uint8_t address,
                                   const ByteStream& stream, BusPacer& pacer);

    // Status polls until the engine reaches goal.doneState, an error state,
    // or the budgets run out.
    static std::int32_t PollStatus(const PollGoal& goal, BusPacer& pacer);

    // Sends a read command (0x91 or 0x93) once: 0, -4, -5 or -24.
    static std::int32_t StartRead(std::uint8_t command, std::uint8_t address, std::uint32_t total,
                                  BusPacer& pacer);

    // Collects up to `total` bytes into `buffer` at their stream positions;
    // the byte at `asidePosition`, if any, goes to `aside` instead.
    static Collected CollectData(std::uint8_t* buffer, std::uint32_t total,
                                 std::optional<std::uint32_t> asidePosition, std::uint8_t& aside,
                                 BusPacer& pacer);

    static bool IsWriteErrorState(std::uint8_t state);
    static bool IsPollErrorState(std::uint8_t state);
};

}  // namespace Corvane

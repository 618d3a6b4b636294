// SPDX-License-Identifier: MIT
#pragma once

// The pauses of one bus transfer, fixed or by bus time (corvane/Pacing.hpp).

#include <cstdint>

#include "corvane/Pacing.hpp"

namespace Corvane {

class BusPacer {
  public:
    // For a transfer at `speedHz` with base pause `delayMs` (D), under the
    // process-wide pacing choice.
    BusPacer(std::uint32_t speedHz, std::uint32_t delayMs);

    // Right before the exchange that gives the engine bus work: a chunk, a
    // read command or a data request.
    void Handing();
    // After a chunk of `wireBytes` bytes (data and, in the first chunk, the
    // address) was accepted: until those bytes are off the wire.
    void ChunkAccepted(std::uint32_t wireBytes);
    // After a refused chunk or status poll.
    void Refused();
    // Before a data request; `dueBytes` is what the engine must clock in
    // before it can answer with data (the address byte included before the
    // first answer).
    void BeforeData(std::uint32_t dueBytes);
    // After a "not ready" answer: the next BeforeData() pauses only briefly.
    void NotReady();

    // Microseconds `bytes` bytes take on the wire at `speedHz`, rounded up.
    static std::uint32_t WireUs(std::uint32_t bytes, std::uint32_t speedHz);

  private:
    void Backoff();
    void Until(std::uint64_t deadlineUs);

    Pacing pacing_;
    std::uint32_t speedHz_;
    std::uint32_t delayMs_;
    std::uint64_t handedUs_ = 0;
    std::uint32_t backoffUs_ = 0;
    bool notReady_ = false;
};

}  // namespace Corvane

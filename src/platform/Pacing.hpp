// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>

namespace Corvane {

// Pauses the calling thread for `ms` milliseconds through the platform in use,
// not through std::this_thread: a simulated host then sees (and merely
// records) every pause of a bus transfer, so tests run on its virtual clock,
// and Windows can use its high-resolution timer.
void PaceMs(std::uint32_t ms);

// The same in microseconds, and the clock those pauses pass time on.
void PaceUs(std::uint32_t us);
std::uint64_t PaceClockUs();

}  // namespace Corvane

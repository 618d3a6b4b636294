#pragma once

#include <cstdint>

namespace Corvane {

// Pauses the calling thread for `ms` milliseconds through the platform in use,
// so a simulated host sees (and merely records) every pause of a bus transfer.
void PaceMs(std::uint32_t ms);

}  // namespace Corvane

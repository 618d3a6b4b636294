// SPDX-License-Identifier: MIT
#include "platform/Pacing.hpp"

#include "corvane/Platform.hpp"

namespace Corvane {

// The current platform, not the one that holds the open channels (the
// transport keeps that one until its next discovery pass): a pause holds no
// handle, so it goes wherever SetPlatform() pointed last.

void PaceMs(std::uint32_t ms) {
    GetPlatform()->SleepMs(ms);
}

void PaceUs(std::uint32_t us) {
    GetPlatform()->SleepUs(us);
}

std::uint64_t PaceClockUs() {
    return GetPlatform()->MonotonicUs();
}

}  // namespace Corvane

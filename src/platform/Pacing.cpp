#include "platform/Pacing.hpp"

#include "corvane/Platform.hpp"

namespace Corvane {

void PaceMs(std::uint32_t ms) {
    // The current platform, not the one that holds the open channels (the
    // transport keeps that one until its next discovery pass): a pause holds
    // no handle, so it goes wherever SetPlatform() pointed last.
    GetPlatform()->SleepMs(ms);
}

}  // namespace Corvane

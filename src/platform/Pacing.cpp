#include "platform/Pacing.hpp"

#include "corvane/Platform.hpp"

namespace Corvane {

void PaceMs(std::uint32_t ms) {
    GetPlatform()->SleepMs(ms);
}

}  // namespace Corvane

#pragma once

#include <mutex>

#include "transport/DeviceState.hpp"

namespace Corvane {

// Taken by every public operation for its whole duration.
[[nodiscard]] inline std::unique_lock<std::recursive_mutex> LockApi() {
    return std::unique_lock(DeviceStateMutex());
}

}  // namespace Corvane

#pragma once

#include <mutex>

#include "transport/DevComTransport.hpp"

namespace Corvane {

// Taken by every public operation for its whole duration.
[[nodiscard]] inline std::unique_lock<std::recursive_mutex> LockApi() {
    return std::unique_lock(DevComTransport::ApiMutex());
}

}  // namespace Corvane

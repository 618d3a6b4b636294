#pragma once

#include <cstdint>

namespace Corvane {

// Native counterpart of DevSettings_M. Holds no data; constructing one resets
// the process-wide device state for the given IDs.
class DevSettings {
public:
    DevSettings(std::uint32_t vendorId, std::uint32_t productId);

    // Runs a discovery pass; returns whether the selected device is connected.
    static bool int_GetConnectionStatus();
};

}  // namespace Corvane

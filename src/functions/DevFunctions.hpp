#pragma once

#include <cstdint>

namespace Corvane {

// Native counterpart of DevFunctions_M: bus transfers and pin functions.
// Holds no data.
class DevFunctions {
public:
    DevFunctions() = default;
};

}  // namespace Corvane

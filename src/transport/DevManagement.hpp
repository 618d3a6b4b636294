// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>

namespace Corvane {

// Native counterpart of DevManagement_M: the selection state of the device
// table as the last discovery pass left it. Holds no data.
class DevManagement {
  public:
    static std::int32_t int_GetDevCount();
    static std::int32_t int_GetSelectedDevNumber();
    // Fills a 256-byte buffer with the selected path (narrow); always 0.
    static std::int32_t int_GetSelectedDevInfo(char* buffer);
    static std::int32_t int_SelectDev(std::int32_t devNum);
};

}  // namespace Corvane

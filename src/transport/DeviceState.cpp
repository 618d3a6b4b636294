// SPDX-License-Identifier: MIT
#include "transport/DeviceState.hpp"

namespace Corvane {

DeviceState& DeviceState::Default() {
    static DeviceState state;
    return state;
}

}  // namespace Corvane

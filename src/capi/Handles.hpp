// SPDX-License-Identifier: MIT
#pragma once

// What the C interface's handles hold.

#include <cstdint>
#include <memory>

#include "corvane/BridgeHandle.hpp"
#include "corvane/I2cBus.hpp"
#include "corvane/VrelUsbI2c.hpp"
#include "corvane/corvane.h"

// The buses made on a bridge handle share its BridgeHandle, so the bridge
// handle may be freed first.
struct corvane_bridge {
    std::shared_ptr<Corvane::BridgeHandle> object;
};

struct corvane_bus {
    Corvane::I2cBus object;
};

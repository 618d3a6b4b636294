#pragma once

// What the C interface's handles hold.

#include <cstdint>

#include "corvane/I2cBus.hpp"
#include "corvane/VrelUsbI2c.hpp"
#include "corvane/corvane.h"

struct corvane_bridge {
    Corvane::VrelUsbI2c object;
    corvane_bridge(std::uint32_t vid, std::uint32_t pid) : object(vid, pid) {}
};

struct corvane_bus {
    Corvane::I2cBus object;
};

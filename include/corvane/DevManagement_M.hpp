// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>

#include "corvane/Export.hpp"

namespace Corvane {

class DevManagement;
class VrelUsbI2c;

// The attached devices and the selected one (VrelUsbI2c::Management). None of
// these operations searches for devices: they report what the last discovery
// pass found. Call Settings->GetConnectionStatus() first for a fresh picture.
class CORVANE_API DevManagement_M {
  public:
    virtual ~DevManagement_M();
    DevManagement_M(const DevManagement_M&) = delete;
    DevManagement_M& operator=(const DevManagement_M&) = delete;

    // Number of matching devices found by the last discovery pass.
    std::int32_t GetDevCount();

    // The selected device number (0 after construction).
    std::int32_t GetSelectedDevNum();

    // Path of the selected device; empty before a device was first found.
    std::string GetSelectedDevInfo();

    // Selects device devNum (0 to count - 1): 0, or DEVICE_INDEX_ERROR. The
    // connection switches at the next discovery pass.
    std::int32_t SelectDev(std::int32_t devNum);

    void Dispose();

  protected:
    virtual void Dispose(bool disposing);

  private:
    friend class VrelUsbI2c;
    DevManagement_M();

    DevManagement* DevManagement_UM = nullptr;
};

}  // namespace Corvane

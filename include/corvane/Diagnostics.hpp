// SPDX-License-Identifier: MIT
#pragma once

// Help for tools that have to explain why a bridge is not found: the device
// nodes the system has for an ID, and whether this process may open them.

#include <cstdint>
#include <string>
#include <vector>

#include "corvane/Export.hpp"

namespace Corvane {

struct DeviceNodeStatus {
    std::string path;          // e.g. "/dev/hidraw3", on Windows "\\?\hid#vid_3a7c&pid_01d5#..."
    std::string productName;   // as the device names itself; may be empty
    std::string serialNumber;  // the USB serial number; empty when the device presents none
    bool opens = false;        // this process can open it for reading and writing
    int errorNumber = 0;       // errno of the failed open (EACCES: permissions), on Windows
                               // the system error code (ERROR_ACCESS_DENIED); else 0
    std::string errorText;     // e.g. "Permission denied"; empty when it opens
};

// The system's HID device nodes with this vendor and product ID, in discovery
// order, each opened once for reading and writing and closed again. Empty
// where the system has no backend that exposes device nodes.
CORVANE_API std::vector<DeviceNodeStatus> ProbeDeviceNodes(std::uint16_t vendorId,
                                                           std::uint16_t productId);

}  // namespace Corvane

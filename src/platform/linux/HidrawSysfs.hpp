// SPDX-License-Identifier: MIT
#pragma once

// What sysfs tells about the hidraw nodes: plain files, read without libudev.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Corvane {

// One hidraw node as sysfs describes it.
struct HidrawNode {
    unsigned number = 0;     // N of hidrawN
    std::string devicePath;  // <devRoot>/hidrawN
    // From HID_ID; false when the uevent had none or it did not parse.
    bool hasId = false;
    std::uint32_t bus = 0;
    std::uint32_t vendor = 0;
    std::uint32_t product = 0;
    std::string name;          // HID_NAME
    std::string serialNumber;  // HID_UNIQ: the USB serial number, when the device presents one
    // bInterfaceNumber of the USB interface the node belongs to (composite devices).
    std::optional<unsigned> interfaceNumber;
    // IsUhidNode(), once a channel on the node was opened (not read by a listing).
    std::optional<bool> uhid;
};

// Fills the HID_ID, HID_NAME and HID_UNIQ fields of `node` from the text of a
// HID device's uevent file. Unknown keys are ignored.
void ParseHidUevent(std::string_view text, HidrawNode& node);

// "HID\VID_3A7C&PID_01D5", with "&MI_02" after it for an interface of a
// composite device: the form the first hardware ID has on Windows, which is
// what device matching reads. Empty when the node has no ID.
std::string HardwareId(const HidrawNode& node);

// The nodes an earlier listing read, by N with the inode of their class entry.
// A hidraw node's IDs never change while it exists, and a node that goes away
// takes its class entry with it: an entry of the same name under the same
// inode is the same node (sysfs never hands an inode number out twice).
using HidrawNodeCache = std::map<unsigned, std::pair<std::uint64_t, HidrawNode>>;

// The hidraw nodes under <sysRoot>/class/hidraw, ordered by N, with their
// paths under devRoot. A node whose uevent cannot be read is listed without ID.
// With a cache, reads only the nodes that are new since the listing that
// filled it, and leaves it holding the nodes of this one.
std::vector<HidrawNode> ListHidrawNodes(const std::string& sysRoot, const std::string& devRoot,
                                        HidrawNodeCache* cache = nullptr);

// N of a path ending in hidrawN.
std::optional<unsigned> HidrawNodeNumber(std::string_view devicePath);

// Whether the hidraw node at `devicePath` belongs to a uhid device, whose
// driver queues an output report and returns instead of waiting for a device.
// uhid devices may claim any bus, so the sysfs location tells, not HID_ID.
bool IsUhidNode(const std::string& sysRoot, const std::string& devicePath);

}  // namespace Corvane

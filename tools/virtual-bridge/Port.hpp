// SPDX-License-Identifier: MIT
#pragma once

#include <corvane/sim/VirtualDevice.hpp>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace VirtualBridge {

using Corvane::Sim::Report;
using Corvane::Sim::UsbEnumeration;

// An output report as the chip takes it: 64 bytes, or 65 with the report ID 0
// first (hidraw passes it on). Anything else a host sends is no report of
// the chip's: every port ignores it and goes on serving.
inline std::optional<Report> ReportFromHost(std::span<const std::uint8_t> bytes) {
    if (bytes.size() == 65 && bytes[0] == 0) bytes = bytes.subspan(1);
    Report report{};
    if (bytes.size() != report.size()) return std::nullopt;
    std::copy(bytes.begin(), bytes.end(), report.begin());
    return report;
}

// Something the port cannot do; the message says what and why.
class PortError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Where a virtual chip meets the kernel: a USB device the operating system
// enumerates, with a descriptor to wait on for the reports the host sends.
class Port {
  public:
    virtual ~Port() = default;

    // Makes the device appear with these identities and waits until the host
    // has enumerated it; throws PortError.
    virtual void Enumerate(const UsbEnumeration& identity) = 0;
    // Takes the device away (no-op when it is not there).
    virtual void Remove() = 0;

    // Descriptor that turns readable when Read() has something; -1 while
    // the device is away.
    virtual int Fd() const = 0;
    // The next output report from the host, if one came; events that carry
    // none and malformed reports are handled here. Throws PortError when the
    // device went away under the port (it is then away: Fd() is -1).
    virtual std::optional<Report> Read() = 0;
    // Sends one input report to the host; false when it could not.
    virtual bool Write(const Report& report) = 0;
    // Brings a device back that went away under the port (e.g. an unbound
    // UDC that is bound again); true once it is there.
    virtual bool Recover() { return false; }
};

// A device made by /dev/uhid: the HID core and hidraw are real, USB is not.
std::unique_ptr<Port> MakeUhidPort(int index);

// A USB device through configfs' HID function (usb_f_hid) on a UDC: dummy_hcd
// on this machine, or a real device port that a cable connects to another
// computer. `udc` empty: the index-th UDC that no gadget uses.
std::unique_ptr<Port> MakeGadgetPort(int index, const std::string& udc);

}  // namespace VirtualBridge

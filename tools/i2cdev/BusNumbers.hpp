// SPDX-License-Identifier: MIT
#pragma once

// Which /dev/i2c-N a followed bridge gets, the same every time it comes back:
// a number pinned for its serial in the configuration file, else the one it
// was given before (kept in a state file), else the first free number from the
// configured base. "Free" means no node of that name, and no other bridge
// pinned to it or given it before.
//
// The configuration file (default /etc/corvane/i2cdev.conf), one setting a
// line, '#' starts a comment:
//   base 64              the first number to hand out (default 64)
//   bus CVS000001 70     this serial's number
// The state file holds "KEY N" lines; daemons starting side by side take
// their numbers one after the other (a lock on the file).

#include <map>
#include <string>

namespace CorvaneI2cDev {

struct BusConfig {
    int base = 64;
    std::map<std::string, int> pinned;  // serial -> bus number
};

// Reads a configuration file; a missing file gives the defaults. Throws
// std::runtime_error naming the file and line of anything it cannot read.
BusConfig ReadBusConfig(const std::string& path);

// The bus number of `key` (a serial number, or a device path for a bridge
// without one), recorded in `statePath` unless it is pinned. Throws
// std::runtime_error when the state file cannot be read or written.
// `nodeExists` tells whether /dev/i2c-N is taken.
int BusNumberFor(const std::string& key, const BusConfig& config, const std::string& statePath,
                 bool (*nodeExists)(int bus));

}  // namespace CorvaneI2cDev

// SPDX-License-Identifier: MIT
#include "BusNumbers.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>

namespace CorvaneI2cDev {

namespace {

constexpr int kMaxBus = 1 << 20;  // i2c-dev's minor numbers

int ParseBus(const std::string& text, const std::string& where) {
    std::size_t used = 0;
    int bus = -1;
    try {
        bus = std::stoi(text, &used, 10);
    } catch (const std::exception&) {
    }
    if (used != text.size() || bus < 0 || bus >= kMaxBus) {
        throw std::runtime_error(where + ": '" + text + "' is no bus number (0 to " +
                                 std::to_string(kMaxBus - 1) + ")");
    }
    return bus;
}

[[noreturn]] void FailErrno(const std::string& what, const std::string& path) {
    throw std::runtime_error("cannot " + what + " " + path + ": " + std::strerror(errno));
}

}  // namespace

BusConfig ReadBusConfig(const std::string& path) {
    BusConfig config;
    std::ifstream in(path);
    if (!in) {
        if (errno == ENOENT) return config;
        FailErrno("read", path);
    }
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        line = line.substr(0, line.find('#'));
        std::istringstream words(line);
        std::string keyword, first, second, extra;
        if (!(words >> keyword)) continue;
        words >> first >> second >> extra;
        const std::string where = path + ":" + std::to_string(number);
        if (keyword == "base" && !first.empty() && second.empty()) {
            config.base = ParseBus(first, where);
        } else if (keyword == "bus" && !second.empty() && extra.empty()) {
            config.pinned[first] = ParseBus(second, where);
        } else {
            throw std::runtime_error(where + ": expected 'base N' or 'bus SERIAL N'");
        }
    }
    return config;
}

int BusNumberFor(const std::string& key, const BusConfig& config, const std::string& statePath,
                 bool (*nodeExists)(int bus)) {
    if (const auto pinned = config.pinned.find(key); pinned != config.pinned.end()) {
        return pinned->second;
    }
    if (key.empty() || key.find_first_of(" \t\n") != std::string::npos) {
        throw std::runtime_error("'" + key + "' cannot be recorded in " + statePath +
                                 " (empty, or with white space): pin its bus number in the "
                                 "configuration file or choose it with --bus");
    }
    const int fd = open(statePath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) FailErrno("open", statePath);
    struct Closer {
        int fd;
        ~Closer() { close(fd); }  // also drops the lock
    } closer{fd};
    if (flock(fd, LOCK_EX) != 0) FailErrno("lock", statePath);

    std::ifstream in(statePath);
    std::set<int> taken;
    for (const auto& [serial, bus] : config.pinned) taken.insert(bus);
    std::string recordKey, busText;
    while (in >> recordKey >> busText) {
        const int bus = ParseBus(busText, statePath);
        if (recordKey == key) return bus;
        taken.insert(bus);
    }
    int bus = config.base;
    while (bus < kMaxBus && (taken.count(bus) != 0 || nodeExists(bus))) ++bus;
    if (bus == kMaxBus)
        throw std::runtime_error("no free bus number from " + std::to_string(config.base));
    std::ofstream out(statePath, std::ios::app);
    out << key << ' ' << bus << '\n';
    out.flush();
    if (!out) FailErrno("write", statePath);
    return bus;
}

}  // namespace CorvaneI2cDev

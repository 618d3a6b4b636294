// SPDX-License-Identifier: MIT
#pragma once

// The inside of a VirtualDevice, shared by the sim sources that implement it.

#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "ChipModel.hpp"
#include "corvane/sim/VirtualDevice.hpp"

namespace Corvane::Sim {

struct ResponseEdit {
    std::function<void(Report&)> edit;
    int remaining;
};

struct VirtualDevice::State {
    State(std::uint16_t vid, std::uint16_t pid, unsigned number);

    mutable std::mutex mutex;
    // Held by Receive() alone, so answers keep their order while an edit
    // runs without `mutex`.
    std::mutex receiveMutex;
    unsigned number;
    ChipModel chip;
    std::optional<std::u16string> path;  // set by SetPath
    std::uint64_t generation = 0;
    std::deque<Report> responses;
    std::map<std::uint8_t, int> drops;
    std::map<std::uint8_t, std::deque<std::uint8_t>> refusals;  // statuses, one per command
    std::map<std::uint8_t, std::deque<ResponseEdit>> edits;
    std::map<std::uint8_t, std::size_t> commandCounts;
    int writeTimeouts = 0;
    int waitFailures = 0;
    bool silent = false;
};

}  // namespace Corvane::Sim

// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <span>
#include <stdexcept>
#include <string>

namespace Corvane {

// The host's errors for a caller's array: missing (no storage) raises
// std::invalid_argument, shorter than `needed` elements std::out_of_range.
template <typename T>
void RequireElements(std::span<T> array, std::size_t needed, const char* what) {
    if (array.data() == nullptr) throw std::invalid_argument(std::string(what) + " is missing");
    if (array.size() < needed) {
        throw std::out_of_range(std::string(what) + " has " + std::to_string(array.size()) +
                                " elements, needs " + std::to_string(needed));
    }
}

}  // namespace Corvane

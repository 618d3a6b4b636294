// SPDX-License-Identifier: MIT
#pragma once

// What every function of the C interfaces (corvane.h, corvane_sim.h) shares:
// no exception crosses the boundary, null handles are refused, texts travel as
// UTF-8 in caller buffers. Not part of the API.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <optional>
#include <string>
#include <string_view>

#include "corvane/ResultCodes.hpp"

namespace Corvane::Detail {

// Runs `body`, turning whatever it throws into a result code.
template <typename Body>
auto Guard(Body&& body) noexcept -> decltype(body()) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return OUT_OF_MEMORY;
    } catch (...) {
        return HOST_ERROR;
    }
}

// Runs `body` on the object behind a handle; NULL_HANDLE for a null handle.
template <typename Handle, typename Body>
auto OnHandle(Handle* handle, Body&& body) noexcept -> decltype(body(handle->object)) {
    if (handle == nullptr) return NULL_HANDLE;
    return Guard([&] { return body(handle->object); });
}

// Hands `text` out through the caller's buffer: the bytes needed with the NUL;
// a buffer too small gets only a NUL.
inline std::int32_t TextOut(std::string_view text, char* out, std::size_t size) {
    if (text.size() >= static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
        return HOST_ERROR;
    }
    const std::size_t needed = text.size() + 1;
    if (out != nullptr && size >= needed) {
        std::memcpy(out, text.data(), text.size());
        out[text.size()] = '\0';
    } else if (out != nullptr && size > 0) {
        out[0] = '\0';
    }
    return static_cast<std::int32_t>(needed);
}

}  // namespace Corvane::Detail

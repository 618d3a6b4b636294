// SPDX-License-Identifier: MIT
#pragma once

#include <mutex>

#include "transport/DevComTransport.hpp"

namespace Corvane {

// Held for the whole of every public operation: the process's API mutex, so
// threads never interleave their reports on the shared channels, and the
// count of operations under way, so the device's inter-process lock that the
// operation's first exchange takes is released when the outermost guard goes.
// Movable, like std::unique_lock, to keep several operations one unit.
class ApiLock {
  public:
    ApiLock() noexcept = default;
    explicit ApiLock(std::recursive_mutex& mutex) : lock_(mutex) {
        DevComTransport::BeginOperation();
    }
    ApiLock(ApiLock&& other) noexcept = default;
    ApiLock& operator=(ApiLock&& other) noexcept {
        if (this != &other) {
            if (owns_lock()) unlock();
            lock_ = std::move(other.lock_);
        }
        return *this;
    }
    ~ApiLock() {
        if (owns_lock()) unlock();
    }

    bool owns_lock() const noexcept { return lock_.owns_lock(); }
    explicit operator bool() const noexcept { return owns_lock(); }

    void lock() {
        lock_.lock();
        DevComTransport::BeginOperation();
    }
    void unlock() {
        DevComTransport::EndOperation();
        lock_.unlock();
    }

  private:
    std::unique_lock<std::recursive_mutex> lock_;
};

[[nodiscard]] inline ApiLock LockApi() {
    return ApiLock(DevComTransport::ApiMutex());
}

}  // namespace Corvane

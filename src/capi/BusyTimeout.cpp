// SPDX-License-Identifier: MIT
// The C interface's busy time-out (corvane/BusyTimeout.hpp).

#include <string>

#include "corvane/BusyTimeout.hpp"
#include "corvane/corvane.h"

extern "C" {

void corvane_set_busy_timeout(uint32_t ms) {
    Corvane::SetBusyTimeout(ms);
}

uint32_t corvane_get_busy_timeout(void) {
    return Corvane::GetBusyTimeout();
}

const char* corvane_busy_holder(void) {
    thread_local std::string holder;
    holder = Corvane::LastBusyHolder();
    return holder.c_str();
}

}  // extern "C"

// SPDX-License-Identifier: MIT
// The C interface's result codes, version and pacing choice.

#include "corvane/I2cBus.hpp"
#include "corvane/Pacing.hpp"
#include "corvane/ResultCodes.hpp"
#include "corvane/corvane.h"

#define CORVANE_STRING_(x) #x
#define CORVANE_STRING(x) CORVANE_STRING_(x)

extern "C" {

const char* corvane_result_name(int32_t code) {
    return Corvane::ResultCodeName(code);
}

const char* corvane_result_description(int32_t code) {
    return Corvane::ResultCodeDescription(code);
}

int corvane_result_errno(int32_t code) {
    return Corvane::ResultCodeErrno(code);
}

const char* corvane_version(void) {
    return CORVANE_STRING(CORVANE_VERSION_MAJOR) "." CORVANE_STRING(
        CORVANE_VERSION_MINOR) "." CORVANE_STRING(CORVANE_VERSION_PATCH);
}

uint32_t corvane_version_number(void) {
    return CORVANE_VERSION_MAJOR * 10000u + CORVANE_VERSION_MINOR * 100u + CORVANE_VERSION_PATCH;
}

int32_t corvane_set_pacing(int32_t pacing) {
    if (pacing != CORVANE_PACING_FIXED && pacing != CORVANE_PACING_BUS_TIME) {
        return CORVANE_INVALID_ARG_1;
    }
    Corvane::SetPacing(pacing == CORVANE_PACING_BUS_TIME ? Corvane::Pacing::BusTime
                                                         : Corvane::Pacing::Fixed);
    return 0;
}

int32_t corvane_get_pacing(void) {
    return Corvane::GetPacing() == Corvane::Pacing::BusTime ? CORVANE_PACING_BUS_TIME
                                                            : CORVANE_PACING_FIXED;
}

}  // extern "C"

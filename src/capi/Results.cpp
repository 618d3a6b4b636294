// The C interface's result codes and version.

#include <cerrno>

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
    // As a Linux i2c-dev adapter reports the same failures.
    switch (code) {
        case Corvane::SUCCESS:
            return 0;
        case Corvane::I2C_NOT_ACKNOWLEDGED:
            return ENXIO;
        case Corvane::PEC_MISMATCH:
            return EBADMSG;
        case Corvane::I2C_RETRIES_EXHAUSTED:
        case Corvane::READ_DATA_ERROR:
            return ETIMEDOUT;
        case Corvane::INVALID_ARG_1:
        case Corvane::INVALID_ARG_2:
        case Corvane::INVALID_ARG_3:
        case Corvane::INVALID_ARG_4:
        case Corvane::NULL_HANDLE:
            return EINVAL;
        case Corvane::DEVICE_INDEX_ERROR:
        case Corvane::REPORT_WRITE_FAILED:
            return ENODEV;
        case Corvane::OUT_OF_MEMORY:
            return ENOMEM;
        default:
            return EIO;  // also a device status byte: the device refused
    }
}

const char* corvane_version(void) {
    return CORVANE_STRING(CORVANE_VERSION_MAJOR) "." CORVANE_STRING(
        CORVANE_VERSION_MINOR) "." CORVANE_STRING(CORVANE_VERSION_PATCH);
}

uint32_t corvane_version_number(void) {
    return CORVANE_VERSION_MAJOR * 10000u + CORVANE_VERSION_MINOR * 100u + CORVANE_VERSION_PATCH;
}

}  // extern "C"

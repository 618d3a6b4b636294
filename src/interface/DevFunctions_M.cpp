#include "corvane/DevFunctions_M.hpp"

#include <algorithm>
#include <array>

#include "functions/DevFunctions.hpp"
#include "interface/ApiLock.hpp"
#include "interface/CallerArrays.hpp"

namespace Corvane {

DevFunctions_M::DevFunctions_M() : Functions_UM(new DevFunctions()) {}

DevFunctions_M::~DevFunctions_M() { Dispose(true); }

void DevFunctions_M::Dispose() { Dispose(true); }

void DevFunctions_M::Dispose(bool disposing) {
    if (disposing) {
        delete Functions_UM;
        Functions_UM = nullptr;
    }
}

std::int32_t DevFunctions_M::EnterAccessPassword(const char* accessPassword) {
    auto lock = LockApi();
    return DevFunctions::int_EnterAccessPassword(accessPassword);
}

std::int32_t DevFunctions_M::ResetDevice() {
    auto lock = LockApi();
    return DevFunctions::int_ResetDevice();
}

std::int32_t DevFunctions_M::ClearInterruptPinState() {
    auto lock = LockApi();
    return DevFunctions::int_ClearInterruptPinState();
}

std::int32_t DevFunctions_M::GetAdcData(std::span<std::uint16_t> dataToWrite) {
    auto lock = LockApi();
    std::array<std::uint16_t, 5> readings{};
    const std::int32_t result = DevFunctions::int_GetAdcData(readings.data());
    if (result != 0) return result;  // the caller's array is left alone, even a missing one
    if (dataToWrite.data() == nullptr) RequireElements(dataToWrite, readings.size(), "dataToWrite");
    const std::size_t fits = std::min(dataToWrite.size(), readings.size());
    std::copy_n(readings.begin(), fits, dataToWrite.begin());
    RequireElements(dataToWrite, readings.size(), "dataToWrite");
    return result;
}

std::int32_t DevFunctions_M::ReadGpioPinValue(std::uint8_t pinNumber) {
    auto lock = LockApi();
    return DevFunctions::int_ReadGpioPinValue(pinNumber);
}

std::int32_t DevFunctions_M::WriteGpioPinValue(std::uint8_t pinNumber, std::uint8_t pinValue) {
    auto lock = LockApi();
    return DevFunctions::int_WriteGpioPinValue(pinNumber, pinValue);
}

}  // namespace Corvane

// SPDX-License-Identifier: MIT
#include "corvane/DevFunctions_M.hpp"

#include <algorithm>
#include <array>
#include <vector>

#include "corvane/ResultCodes.hpp"
#include "functions/DevFunctions.hpp"
#include "interface/ApiLock.hpp"
#include "interface/CallerArrays.hpp"

namespace Corvane {

DevFunctions_M::DevFunctions_M() : Functions_UM(new DevFunctions()) {}

DevFunctions_M::~DevFunctions_M() {
    Dispose(true);
}

void DevFunctions_M::Dispose() {
    Dispose(true);
}

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

namespace {

// Checks a caller's array for a bus transfer: a missing or empty one raises
// the host's error; a byte count beyond its end would make the transfer read
// or write past the caller's memory, so it is refused before anything is sent.
template <typename T>
bool CountFits(std::span<T> array, std::uint32_t count, const char* what) {
    RequireElements(array, 1, what);
    return count <= array.size();
}

}  // namespace

std::int32_t DevFunctions_M::WriteI2cData(std::uint8_t i2cAddress,
                                          std::span<const std::uint8_t> dataToWrite,
                                          std::uint32_t numberOfBytesToWrite,
                                          std::uint32_t i2cSpeed) {
    auto lock = LockApi();
    if (!CountFits(dataToWrite, numberOfBytesToWrite, "dataToWrite")) return INVALID_ARG_3;
    const std::vector<std::uint8_t> copy(dataToWrite.begin(), dataToWrite.end());
    return DevFunctions::int_WriteI2cData(i2cAddress, copy.data(), numberOfBytesToWrite, i2cSpeed);
}

std::int32_t DevFunctions_M::ReadI2cData(std::uint8_t i2cAddress,
                                         std::span<std::uint8_t> i2cDataReceived,
                                         std::uint32_t numberOfBytesToRead,
                                         std::uint32_t i2cSpeed) {
    auto lock = LockApi();
    if (!CountFits(i2cDataReceived, numberOfBytesToRead, "i2cDataReceived")) return INVALID_ARG_3;
    return DevFunctions::int_ReadI2cData(i2cAddress, i2cDataReceived.data(), numberOfBytesToRead,
                                         i2cSpeed);
}

std::int32_t DevFunctions_M::WriteReadI2cData(std::uint8_t i2cAddress,
                                              std::span<const std::uint8_t> dataToWrite,
                                              std::uint32_t numberOfBytesToWrite,
                                              std::span<std::uint8_t> dataReceived,
                                              std::uint32_t numberOfBytesToRead,
                                              std::uint32_t i2cSpeed) {
    auto lock = LockApi();
    if (numberOfBytesToWrite > 0 && !CountFits(dataToWrite, numberOfBytesToWrite, "dataToWrite")) {
        return INVALID_ARG_3;
    }
    if (!CountFits(dataReceived, numberOfBytesToRead, "dataReceived")) return INVALID_ARG_3;
    const std::vector<std::uint8_t> copy(dataToWrite.begin(), dataToWrite.end());
    return DevFunctions::int_WriteReadI2cData(i2cAddress, copy.data(), numberOfBytesToWrite,
                                              dataReceived.data(), numberOfBytesToRead, i2cSpeed);
}

std::int32_t DevFunctions_M::StopI2cDataTransfer() {
    auto lock = LockApi();
    return DevFunctions::int_StopI2cDataTransfer();
}

std::int32_t DevFunctions_M::SmbWriteBlock(std::uint8_t smbAddress,
                                           std::span<const std::uint8_t> smbDataToSend,
                                           std::uint32_t numberOfBytesToWrite,
                                           std::uint32_t smbSpeed, std::uint8_t usesPEC) {
    auto lock = LockApi();
    if (!CountFits(smbDataToSend, numberOfBytesToWrite, "smbDataToSend")) return INVALID_ARG_3;
    const std::vector<std::uint8_t> copy(smbDataToSend.begin(), smbDataToSend.end());
    return DevFunctions::int_SmbWriteBlock(smbAddress, copy.data(), numberOfBytesToWrite, smbSpeed,
                                           usesPEC);
}

std::int32_t DevFunctions_M::SmbReadBlock(std::uint8_t smbAddress,
                                          std::span<std::uint8_t> smbReadData,
                                          std::uint32_t numberOfBytesToRead, std::uint32_t smbSpeed,
                                          std::uint8_t usesPEC, std::uint8_t readRegIndex) {
    auto lock = LockApi();
    if (!CountFits(smbReadData, numberOfBytesToRead, "smbReadData")) return INVALID_ARG_3;
    return DevFunctions::int_SmbReadBlock(smbAddress, smbReadData.data(), numberOfBytesToRead,
                                          smbSpeed, usesPEC, readRegIndex);
}

std::int32_t DevFunctions_M::SmbReadBlock(std::uint8_t smbAddress,
                                          std::span<std::uint8_t> smbReadData,
                                          std::uint32_t numberOfBytesToRead, std::uint32_t smbSpeed,
                                          std::uint8_t usesPEC, std::uint8_t readRegIndex,
                                          std::uint32_t& bytesReceived) {
    auto lock = LockApi();
    bytesReceived = 0;
    if (!CountFits(smbReadData, numberOfBytesToRead, "smbReadData")) return INVALID_ARG_3;
    return DevFunctions::int_SmbReadBlock(smbAddress, smbReadData.data(), numberOfBytesToRead,
                                          smbSpeed, usesPEC, readRegIndex, &bytesReceived);
}

std::int32_t DevFunctions_M::ResetDevice() {
    auto lock = LockApi();
    return DevFunctions::int_ResetDevice();
}

std::int32_t DevFunctions_M::ClearInterruptPinState() {
    auto lock = LockApi();
    return DevFunctions::int_ClearInterruptPinState();
}

std::int32_t DevFunctions_M::GetInterruptPinState() {
    auto lock = LockApi();
    return DevFunctions::int_GetInterruptPinState();
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

std::uint8_t SmbusPec(std::span<const std::uint8_t> bytes, std::uint8_t crc) noexcept {
    return DevFunctions::CRC_Over(crc, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
}

}  // namespace Corvane

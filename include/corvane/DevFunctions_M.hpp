// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "corvane/Export.hpp"

namespace Corvane {

class DevFunctions;
class VrelUsbI2c;

// Bus transfers and pin functions (VrelUsbI2c::Functions). Every operation
// returns the native result unchanged: 0 or a value on success, a negative
// code on failure (ResultCodes.hpp), or the device's non-zero status byte.
//
// Arrays: a span whose data() is null raises std::invalid_argument, an empty
// span std::out_of_range, both before anything is sent. A byte count larger
// than the span returns INVALID_ARG_3 before anything is sent, so no transfer
// reads or stores past the caller's array. (Below the facet, the SMBus
// transfers refuse a null buffer that bytes would move through with
// INVALID_ARG_2, also before anything is sent.)
//
// Bus speeds (i2cSpeed, smbSpeed) are in Hz, from 46,333 to 4,000,000: the
// chip takes its clock divider in one byte, and a divider that did not fit
// would run the bus at an unrelated speed. Any other speed returns
// INVALID_ARG_4 before anything is sent.
class CORVANE_API DevFunctions_M {
  public:
    virtual ~DevFunctions_M();
    DevFunctions_M(const DevFunctions_M&) = delete;
    DevFunctions_M& operator=(const DevFunctions_M&) = delete;

    // Presents the access password that unlocks flash writes. Only the first
    // 8 characters are sent; nullptr or fewer than 8 give INVALID_ARG_1.
    std::int32_t EnterAccessPassword(const char* accessPassword);

    // Writes numberOfBytesToWrite bytes (at most 65,535) to the target whose
    // 8-bit address byte is i2cAddress, at i2cSpeed Hz. The caller's array is
    // not written.
    std::int32_t WriteI2cData(std::uint8_t i2cAddress, std::span<const std::uint8_t> dataToWrite,
                              std::uint32_t numberOfBytesToWrite, std::uint32_t i2cSpeed);

    // Reads up to numberOfBytesToRead bytes straight into the caller's array;
    // bytes received before a failure stay there. A "data not ready" answer
    // is waited out 50 times in a row: the 51st gives READ_DATA_ERROR.
    // An answer that the target did not acknowledge gives
    // I2C_NOT_ACKNOWLEDGED even when it also says no more data follow.
    std::int32_t ReadI2cData(std::uint8_t i2cAddress, std::span<std::uint8_t> i2cDataReceived,
                             std::uint32_t numberOfBytesToRead, std::uint32_t i2cSpeed);

    // The combined transfer: writes numberOfBytesToWrite bytes without STOP,
    // waits for the repeated START, then reads numberOfBytesToRead bytes (1 to
    // 65,535) from the same target (i2cAddress is the write address byte; the
    // read sends it with bit 0 set). With no bytes to write it is the plain
    // read of ReadI2cData, and dataToWrite may then be empty. Returns the
    // number of bytes received, which is smaller than asked when the device
    // ended the read early, or a negative code. A read count of 0 returns
    // INVALID_ARG_3 before anything is sent.
    std::int32_t WriteReadI2cData(std::uint8_t i2cAddress,
                                  std::span<const std::uint8_t> dataToWrite,
                                  std::uint32_t numberOfBytesToWrite,
                                  std::span<std::uint8_t> dataReceived,
                                  std::uint32_t numberOfBytesToRead, std::uint32_t i2cSpeed);

    // Cancels the transfer in progress. Returns the device's cancellation
    // status (0 to 255) on success.
    std::int32_t StopI2cDataTransfer();

    // SMBus block write; usesPEC non-zero appends the packet error code. A
    // write the chip flags as failed (the target did not acknowledge a byte,
    // a wrong PEC for one) gives I2C_NOT_ACKNOWLEDGED, as for WriteI2cData.
    std::int32_t SmbWriteBlock(std::uint8_t smbAddress, std::span<const std::uint8_t> smbDataToSend,
                               std::uint32_t numberOfBytesToWrite, std::uint32_t smbSpeed,
                               std::uint8_t usesPEC);

    // SMBus block read of readRegIndex with a repeated start; usesPEC non-zero
    // checks the packet error code.
    std::int32_t SmbReadBlock(std::uint8_t smbAddress, std::span<std::uint8_t> smbReadData,
                              std::uint32_t numberOfBytesToRead, std::uint32_t smbSpeed,
                              std::uint8_t usesPEC, std::uint8_t readRegIndex);
    // The same, also telling how many data bytes arrived: a read the device
    // ends early still returns 0 (without PEC), with fewer bytes received.
    std::int32_t SmbReadBlock(std::uint8_t smbAddress, std::span<std::uint8_t> smbReadData,
                              std::uint32_t numberOfBytesToRead, std::uint32_t smbSpeed,
                              std::uint8_t usesPEC, std::uint8_t readRegIndex,
                              std::uint32_t& bytesReceived);

    // Restarts the device. 0 once the reset report was written.
    std::int32_t ResetDevice();

    std::int32_t ClearInterruptPinState();

    // The interrupt flag: 1 when the interrupt input saw an edge of the
    // interrupt mode since the flag was last cleared, else 0; or a failure
    // code, or the device's non-zero status (1 to 255) as other reads give it.
    std::int32_t GetInterruptPinState();

    // On 0, the three 10-bit readings followed by 0, 0 are copied to
    // dataToWrite[0..4]; a shorter array raises std::out_of_range after
    // copying what fits. On failure the array is not touched.
    std::int32_t GetAdcData(std::span<std::uint16_t> dataToWrite);

    // The level (0 or 1) of GP pin 0 to 3, or a failure code.
    std::int32_t ReadGpioPinValue(std::uint8_t pinNumber);

    std::int32_t WriteGpioPinValue(std::uint8_t pinNumber, std::uint8_t pinValue);

    // Frees the native counterpart; operations keep working afterwards.
    void Dispose();

  protected:
    virtual void Dispose(bool disposing);

  private:
    friend class VrelUsbI2c;
    DevFunctions_M();

    DevFunctions* Functions_UM = nullptr;
};

// The SMBus packet error code (CRC-8, polynomial 0x07) of `bytes`, continuing
// from `crc` (0 starts a new one). Address bytes count with their R/W bit.
CORVANE_API std::uint8_t SmbusPec(std::span<const std::uint8_t> bytes,
                                  std::uint8_t crc = 0) noexcept;

}  // namespace Corvane

// SPDX-License-Identifier: MIT
// I2C and SMBus transfers of DevFunctions.
#include <algorithm>

#include "corvane/ResultCodes.hpp"
#include "functions/BusTransfer.hpp"
#include "functions/DevFunctions.hpp"
#include "protocol/DevCom.hpp"

namespace Corvane {

namespace {

// What sets the I2C transfers and the SMBus block transfers apart.
struct BusFlavour {
    std::int32_t speedRefused;  // result when the first speed request is refused
    bool nackFails;             // whether the restart wait tests the write-failed flag
    // I2C transfers test for a missing buffer only after the speed set-up;
    // SMBus transfers test it with the other arguments, and only when bytes
    // would be read from or stored into it.
    bool bufferCheckedFirst;
};

constexpr BusFlavour kI2c{SPEED_CMD_FAILED, true, false};
constexpr BusFlavour kSmbus{SMB_SPEED_CMD_FAILED, false, true};

// The checks and the speed set-up that open every transfer. On 0, `timing`
// holds the divider and D.
std::int32_t Open(const BusFlavour& flavour, const void* buffer, std::uint32_t count,
                  std::uint32_t speed, bool pec, BusTiming& timing) {
    // The PEC travels as one more byte of the 16-bit count.
    if (count > BusTransfer::kMaxCount - (pec ? 1u : 0u)) return INVALID_ARG_3;
    const auto found = BusTransfer::TimingFor(speed);
    if (!found) return INVALID_ARG_4;
    timing = *found;
    if (flavour.bufferCheckedFirst && buffer == nullptr && count > 0) return INVALID_ARG_2;
    if (const std::int32_t rc = BusTransfer::SetUpSpeed(timing.divider, flavour.speedRefused);
        rc != SUCCESS) {
        return rc;
    }
    if (!flavour.bufferCheckedFirst && buffer == nullptr) return INVALID_ARG_2;
    return SUCCESS;
}

std::int32_t Write(const BusFlavour& flavour, std::uint8_t address, const std::uint8_t* data,
                   std::uint32_t count, std::uint32_t speed, bool pec) {
    BusTiming timing{};
    if (const std::int32_t rc = Open(flavour, data, count, speed, pec, timing); rc != SUCCESS) {
        return rc;
    }
    ByteStream stream{data, count, std::nullopt};
    if (pec)
        stream.trailer = DevFunctions::CRC_Over(DevFunctions::CRC_Update(address, 0), data, count);
    BusPacer pacer(timing.speedHz, timing.delayMs);
    if (const std::int32_t rc = BusTransfer::SendChunks(I2C_WRITE_DATA, address, stream, pacer);
        rc != SUCCESS) {
        return rc;
    }
    // The write-failed flag counts for block writes too: a target that did
    // not acknowledge (a wrong PEC, for one) has not taken the block.
    return BusTransfer::PollStatus(PollGoal{0x00, true}, pacer);
}

// Starts a read (0x91 or 0x93) and collects its bytes.
Collected Read(std::uint8_t command, std::uint8_t address, std::uint8_t* buffer,
               std::uint32_t total, std::optional<std::uint32_t> asidePosition, std::uint8_t& aside,
               BusPacer& pacer) {
    if (const std::int32_t rc = BusTransfer::StartRead(command, address, total, pacer);
        rc != SUCCESS) {
        return Collected{rc, 0};
    }
    return BusTransfer::CollectData(buffer, total, asidePosition, aside, pacer);
}

// The combined transfer: `out` without STOP, the wait for the repeated START,
// then the read of `total` bytes from the same target.
Collected WriteThenRead(const BusFlavour& flavour, std::uint8_t address, const ByteStream& out,
                        std::uint8_t* in, std::uint32_t total,
                        std::optional<std::uint32_t> asidePosition, std::uint8_t& aside,
                        BusPacer& pacer) {
    if (const std::int32_t rc =
            BusTransfer::SendChunks(I2C_WRITE_DATA_NO_STOP, address, out, pacer);
        rc != SUCCESS) {
        return Collected{rc, 0};
    }
    if (const std::int32_t rc = BusTransfer::PollStatus(
            PollGoal{BusTransfer::kWaitingForRestart, flavour.nackFails}, pacer);
        rc != SUCCESS) {
        return Collected{rc, 0};
    }
    const auto readAddress = static_cast<std::uint8_t>(address | 0x01);
    return Read(I2C_READ_DATA_REPEATED_START, readAddress, in, total, asidePosition, aside, pacer);
}

}  // namespace

std::uint8_t DevFunctions::CRC_Over(std::uint8_t crc, const std::uint8_t* data,
                                    std::uint32_t count) {
    for (std::uint32_t i = 0; i < count; ++i) crc = CRC_Update(data[i], crc);
    return crc;
}

std::uint8_t DevFunctions::CRC_Update(std::uint8_t data, std::uint8_t crc) {
    const auto c = static_cast<std::uint8_t>((crc << 4) ^ CRC_Table[(crc ^ data) >> 4]);
    return static_cast<std::uint8_t>((c << 4) ^ CRC_Table[((c >> 4) ^ data) & 0x0F]);
}

std::int32_t DevFunctions::int_WriteI2cData(std::uint8_t i2cAddress,
                                            const std::uint8_t* dataToWrite,
                                            std::uint32_t numberOfBytesToWrite,
                                            std::uint32_t i2cSpeed) {
    return Write(kI2c, i2cAddress, dataToWrite, numberOfBytesToWrite, i2cSpeed, false);
}

std::int32_t DevFunctions::int_SmbWriteBlock(std::uint8_t smbAddress,
                                             const std::uint8_t* smbDataToSend,
                                             std::uint32_t numberOfBytesToWrite,
                                             std::uint32_t smbSpeed, std::uint8_t usesPEC) {
    return Write(kSmbus, smbAddress, smbDataToSend, numberOfBytesToWrite, smbSpeed, usesPEC != 0);
}

std::int32_t DevFunctions::int_StopI2cDataTransfer() {
    StatusReply reply;
    const std::int32_t rc = DevCom::StatusSetParameters(1, 0, 0, reply, nullptr);
    return rc != SUCCESS ? rc : reply.cancelStatus;
}

std::int32_t DevFunctions::int_ReadI2cData(std::uint8_t i2cAddress, std::uint8_t* i2cDataReceived,
                                           std::uint32_t numberOfBytesToRead,
                                           std::uint32_t i2cSpeed) {
    BusTiming timing{};
    if (const std::int32_t rc =
            Open(kI2c, i2cDataReceived, numberOfBytesToRead, i2cSpeed, false, timing);
        rc != SUCCESS) {
        return rc;
    }
    std::uint8_t unused = 0;
    BusPacer pacer(timing.speedHz, timing.delayMs);
    return Read(I2C_READ_DATA, i2cAddress, i2cDataReceived, numberOfBytesToRead, std::nullopt,
                unused, pacer)
        .result;
}

std::int32_t DevFunctions::int_WriteReadI2cData(
    std::uint8_t i2cAddress, const std::uint8_t* dataToWrite, std::uint32_t numberOfBytesToWrite,
    std::uint8_t* dataReceived, std::uint32_t numberOfBytesToRead, std::uint32_t i2cSpeed) {
    if (numberOfBytesToWrite > 0 && dataToWrite == nullptr) return INVALID_ARG_2;
    if (numberOfBytesToWrite > BusTransfer::kMaxCount || numberOfBytesToRead == 0) {
        return INVALID_ARG_3;
    }
    BusTiming timing{};
    if (const std::int32_t rc =
            Open(kI2c, dataReceived, numberOfBytesToRead, i2cSpeed, false, timing);
        rc != SUCCESS) {
        return rc;
    }
    std::uint8_t unused = 0;
    const ByteStream out{dataToWrite, numberOfBytesToWrite, std::nullopt};
    BusPacer pacer(timing.speedHz, timing.delayMs);
    const Collected collected =
        numberOfBytesToWrite == 0
            ? Read(I2C_READ_DATA, static_cast<std::uint8_t>(i2cAddress | 0x01), dataReceived,
                   numberOfBytesToRead, std::nullopt, unused, pacer)
            : WriteThenRead(kI2c, i2cAddress, out, dataReceived, numberOfBytesToRead, std::nullopt,
                            unused, pacer);
    if (collected.result != SUCCESS) return collected.result;
    return static_cast<std::int32_t>(collected.received);
}

std::int32_t DevFunctions::int_SmbReadBlock(std::uint8_t smbAddress, std::uint8_t* smbReadData,
                                            std::uint32_t numberOfBytesToRead,
                                            std::uint32_t smbSpeed, std::uint8_t usesPEC,
                                            std::uint8_t readRegIndex,
                                            std::uint32_t* bytesReceived) {
    const bool pec = usesPEC != 0;
    BusTiming timing{};
    if (const std::int32_t rc =
            Open(kSmbus, smbReadData, numberOfBytesToRead, smbSpeed, pec, timing);
        rc != SUCCESS) {
        return rc;
    }

    // The register index without STOP, then the read after a repeated START.
    const ByteStream index{&readRegIndex, 1, std::nullopt};
    const std::uint32_t total = numberOfBytesToRead + (pec ? 1u : 0u);
    std::uint8_t receivedPec = 0;
    const auto pecPosition = pec ? std::optional<std::uint32_t>(total - 1) : std::nullopt;
    BusPacer pacer(timing.speedHz, timing.delayMs);
    const Collected collected = WriteThenRead(kSmbus, smbAddress, index, smbReadData, total,
                                              pecPosition, receivedPec, pacer);
    if (bytesReceived != nullptr) {
        *bytesReceived = std::min(collected.received, numberOfBytesToRead);
    }
    if (collected.result != SUCCESS || !pec) return collected.result;
    // A read that ended early never delivered its PEC, so nothing vouches for
    // the bytes that did arrive.
    if (collected.received < total) return PEC_MISMATCH;
    std::uint8_t crc = CRC_Update(smbAddress, 0);
    crc = CRC_Update(readRegIndex, crc);
    crc = CRC_Update(static_cast<std::uint8_t>(smbAddress | 0x01), crc);
    crc = CRC_Over(crc, smbReadData, numberOfBytesToRead);
    return crc == receivedPec ? SUCCESS : PEC_MISMATCH;
}

}  // namespace Corvane

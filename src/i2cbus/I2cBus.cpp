// The I2cBus layer: built on the public Functions facet only, like any user
// of the library, so every transfer runs through the library's one set of
// transfer procedures.
#include "corvane/I2cBus.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <vector>

#include "corvane/DevFunctions_M.hpp"
#include "corvane/ResultCodes.hpp"
#include "corvane/VrelUsbI2c.hpp"

namespace Corvane {

namespace {

constexpr std::uint8_t kMaxAddress7 = 0x7F;

std::uint8_t WriteAddress(std::uint8_t address7) {
    return static_cast<std::uint8_t>(address7 << 1);
}

std::uint8_t ReadAddress(std::uint8_t address7) {
    return static_cast<std::uint8_t>((address7 << 1) | 0x01);
}

std::uint32_t Count(std::size_t size) {
    return static_cast<std::uint32_t>(size);
}

// Whether `received` (the PEC last) carries the right PEC for a read from
// `address7`, after `out` was written without STOP when it is not empty.
bool PecMatches(std::uint8_t address7, std::span<const std::uint8_t> out,
                std::span<const std::uint8_t> received) {
    std::uint8_t crc = 0;
    if (!out.empty()) {
        const std::array<std::uint8_t, 1> writeAddress{WriteAddress(address7)};
        crc = SmbusPec(out, SmbusPec(writeAddress));
    }
    const std::array<std::uint8_t, 1> readAddress{ReadAddress(address7)};
    crc = SmbusPec(received.first(received.size() - 1), SmbusPec(readAddress, crc));
    return crc == received.back();
}

}  // namespace

I2cBus::I2cBus(VrelUsbI2c& bridge, std::uint32_t speedHz) : bridge_(&bridge), speedHz_(speedHz) {}

void I2cBus::SetSpeed(std::uint32_t speedHz) {
    speedHz_ = speedHz;
}

std::uint32_t I2cBus::Speed() const {
    return speedHz_;
}

void I2cBus::SetPec(bool on) {
    pec_ = on;
}

bool I2cBus::Pec() const {
    return pec_;
}

// ---- plain transfers ------------------------------------------------------------

std::int32_t I2cBus::Write(std::uint8_t address7, std::span<const std::uint8_t> data) {
    if (address7 > kMaxAddress7) return I2CBUS_INVALID_ARGUMENT;
    // The facet wants an array even for a zero-length write.
    const std::array<std::uint8_t, 1> none{};
    const auto bytes = data.empty() ? std::span<const std::uint8_t>(none) : data;
    return bridge_->Functions->WriteI2cData(WriteAddress(address7), bytes, Count(data.size()),
                                            speedHz_);
}

std::int32_t I2cBus::Read(std::uint8_t address7, std::span<std::uint8_t> data) {
    return WriteRead(address7, {}, data);
}

std::int32_t I2cBus::WriteRead(std::uint8_t address7, std::span<const std::uint8_t> out,
                               std::span<std::uint8_t> in) {
    if (address7 > kMaxAddress7 || in.empty()) return I2CBUS_INVALID_ARGUMENT;
    // An empty `out` makes the facet's combined call a plain read, which is
    // how Read gets the count of bytes received.
    const std::int32_t rc = bridge_->Functions->WriteReadI2cData(
        WriteAddress(address7), out, Count(out.size()), in, Count(in.size()), speedHz_);
    if (rc < 0) return rc;
    return rc < static_cast<std::int32_t>(in.size()) ? I2CBUS_SHORT_READ : rc;
}

std::int32_t I2cBus::Transfer(std::span<I2cMessage> messages) {
    const bool single = messages.size() == 1;
    const bool writeThenRead = messages.size() == 2 && !messages[0].read && messages[1].read &&
                               messages[0].address7 == messages[1].address7;
    if (!single && !writeThenRead) return I2CBUS_NOT_SUPPORTED;
    std::int32_t rc = 0;
    if (writeThenRead) {
        if (messages[0].data.empty()) return I2CBUS_NOT_SUPPORTED;
        rc = WriteRead(messages[0].address7, messages[0].data, messages[1].data);
    } else if (messages[0].read) {
        rc = Read(messages[0].address7, messages[0].data);
    } else {
        rc = Write(messages[0].address7, messages[0].data);
    }
    return rc < 0 ? rc : static_cast<std::int32_t>(messages.size());
}

// ---- SMBus protocol calls ---------------------------------------------------------

std::int32_t I2cBus::SmbusWrite(std::uint8_t address7, std::span<const std::uint8_t> bytes,
                                bool pec) {
    if (!pec) return Write(address7, bytes);
    std::vector<std::uint8_t> withPec(bytes.begin(), bytes.end());
    const std::array<std::uint8_t, 1> address{WriteAddress(address7)};
    withPec.push_back(SmbusPec(bytes, SmbusPec(address)));
    return Write(address7, withPec);
}

std::int32_t I2cBus::SmbusRead(std::uint8_t address7, std::span<const std::uint8_t> out,
                               std::span<std::uint8_t> in, bool pec) {
    if (!pec) return WriteRead(address7, out, in);
    std::vector<std::uint8_t> received(in.size() + 1);
    if (const std::int32_t rc = WriteRead(address7, out, received); rc < 0) return rc;
    if (!PecMatches(address7, out, received)) return PEC_MISMATCH;
    std::copy(received.begin(), received.end() - 1, in.begin());
    return static_cast<std::int32_t>(in.size());
}

std::int32_t I2cBus::Quick(std::uint8_t address7) {
    return Write(address7, {});
}

std::int32_t I2cBus::ReadByte(std::uint8_t address7) {
    std::array<std::uint8_t, 1> value{};
    const std::int32_t rc = SmbusRead(address7, {}, value, pec_);
    return rc < 0 ? rc : value[0];
}

std::int32_t I2cBus::WriteByte(std::uint8_t address7, std::uint8_t value) {
    const std::array<std::uint8_t, 1> bytes{value};
    return SmbusWrite(address7, bytes, pec_);
}

std::int32_t I2cBus::ReadByteData(std::uint8_t address7, std::uint8_t command) {
    const std::array<std::uint8_t, 1> out{command};
    std::array<std::uint8_t, 1> value{};
    const std::int32_t rc = SmbusRead(address7, out, value, pec_);
    return rc < 0 ? rc : value[0];
}

std::int32_t I2cBus::WriteByteData(std::uint8_t address7, std::uint8_t command,
                                   std::uint8_t value) {
    const std::array<std::uint8_t, 2> bytes{command, value};
    return SmbusWrite(address7, bytes, pec_);
}

std::int32_t I2cBus::ReadWordData(std::uint8_t address7, std::uint8_t command) {
    const std::array<std::uint8_t, 1> out{command};
    std::array<std::uint8_t, 2> word{};
    const std::int32_t rc = SmbusRead(address7, out, word, pec_);
    return rc < 0 ? rc : word[0] | (word[1] << 8);
}

std::int32_t I2cBus::WriteWordData(std::uint8_t address7, std::uint8_t command,
                                   std::uint16_t value) {
    const std::array<std::uint8_t, 3> bytes{command, static_cast<std::uint8_t>(value & 0xFF),
                                            static_cast<std::uint8_t>(value >> 8)};
    return SmbusWrite(address7, bytes, pec_);
}

std::int32_t I2cBus::ProcessCall(std::uint8_t address7, std::uint8_t command, std::uint16_t value) {
    const std::array<std::uint8_t, 3> out{command, static_cast<std::uint8_t>(value & 0xFF),
                                          static_cast<std::uint8_t>(value >> 8)};
    std::array<std::uint8_t, 2> word{};
    const std::int32_t rc = SmbusRead(address7, out, word, pec_);
    return rc < 0 ? rc : word[0] | (word[1] << 8);
}

std::int32_t I2cBus::ReadBlockData(std::uint8_t address7, std::uint8_t command,
                                   std::span<std::uint8_t> out) {
    if (out.empty()) return I2CBUS_INVALID_ARGUMENT;
    // Count byte, the longest block, and the PEC when on; the PEC follows the
    // block, wherever the count puts its end.
    const std::array<std::uint8_t, 1> index{command};
    std::vector<std::uint8_t> received(1 + kMaxBlock + (pec_ ? 1 : 0));
    if (const std::int32_t rc = WriteRead(address7, index, received); rc < 0) return rc;
    const std::size_t count = received[0];
    if (count == 0 || count > kMaxBlock) return I2CBUS_BLOCK_COUNT_INVALID;
    if (pec_ && !PecMatches(address7, index, std::span(received).first(1 + count + 1))) {
        return PEC_MISMATCH;
    }
    if (count > out.size()) return READ_OVERRUN;
    std::copy_n(received.begin() + 1, count, out.begin());
    return static_cast<std::int32_t>(count);
}

std::int32_t I2cBus::WriteBlockData(std::uint8_t address7, std::uint8_t command,
                                    std::span<const std::uint8_t> data) {
    if (data.empty() || data.size() > kMaxBlock) return I2CBUS_INVALID_ARGUMENT;
    std::vector<std::uint8_t> bytes{command, static_cast<std::uint8_t>(data.size())};
    bytes.insert(bytes.end(), data.begin(), data.end());
    return SmbusWrite(address7, bytes, pec_);
}

std::int32_t I2cBus::ReadI2cBlockData(std::uint8_t address7, std::uint8_t command,
                                      std::span<std::uint8_t> out) {
    if (out.size() > kMaxBlock) return I2CBUS_INVALID_ARGUMENT;
    const std::array<std::uint8_t, 1> index{command};
    return WriteRead(address7, index, out);
}

std::int32_t I2cBus::WriteI2cBlockData(std::uint8_t address7, std::uint8_t command,
                                       std::span<const std::uint8_t> data) {
    if (data.empty() || data.size() > kMaxBlock) return I2CBUS_INVALID_ARGUMENT;
    std::vector<std::uint8_t> bytes{command};
    bytes.insert(bytes.end(), data.begin(), data.end());
    return Write(address7, bytes);
}

// ---- errno ----------------------------------------------------------------------

int ResultCodeErrno(std::int32_t code) noexcept {
    if (code >= 0) return 0;
    switch (code) {
        case I2C_NOT_ACKNOWLEDGED:
            return ENXIO;
        case PEC_MISMATCH:
            return EBADMSG;
        case I2C_RETRIES_EXHAUSTED:
        case READ_DATA_ERROR:
        case REPORT_READ_FAILED:
            return ETIMEDOUT;
        case I2CBUS_NOT_SUPPORTED:
            return EOPNOTSUPP;
        case INVALID_ARG_1:
        case INVALID_ARG_2:
        case INVALID_ARG_3:
        case INVALID_ARG_4:
        case I2CBUS_INVALID_ARGUMENT:
        case NULL_HANDLE:
            return EINVAL;
        case OUT_OF_MEMORY:
            return ENOMEM;
        case I2CBUS_BLOCK_COUNT_INVALID:
            return EPROTO;
        case DEVICE_INDEX_ERROR:
        case REPORT_WRITE_FAILED:
        case BRIDGE_UNPLUGGED:
            return ENODEV;
        case BRIDGE_NOT_FOUND:
            return ENOENT;
        case BRIDGE_BUSY:
            return EBUSY;
        default:
            return EIO;
    }
}

}  // namespace Corvane

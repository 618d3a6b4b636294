// SPDX-License-Identifier: MIT
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

// One call's view of the bus: the library object with the handle's bridge
// selected, and the speed the call started with.
struct Wire {
    VrelUsbI2c& bridge;
    std::uint32_t speed;

    std::int32_t Write(std::uint8_t address7, std::span<const std::uint8_t> data) const {
        // The facet wants an array even for a zero-length write.
        const std::array<std::uint8_t, 1> none{};
        const auto bytes = data.empty() ? std::span<const std::uint8_t>(none) : data;
        return bridge.Functions->WriteI2cData(WriteAddress(address7), bytes, Count(data.size()),
                                              speed);
    }

    // An empty `out` makes the facet's combined call a plain read, which is
    // how a read gets the count of bytes received.
    std::int32_t WriteRead(std::uint8_t address7, std::span<const std::uint8_t> out,
                           std::span<std::uint8_t> in) const {
        const std::int32_t rc = bridge.Functions->WriteReadI2cData(
            WriteAddress(address7), out, Count(out.size()), in, Count(in.size()), speed);
        if (rc < 0) return rc;
        return rc < static_cast<std::int32_t>(in.size()) ? I2CBUS_SHORT_READ : rc;
    }

    std::int32_t SmbusWrite(std::uint8_t address7, std::span<const std::uint8_t> bytes,
                            bool pec) const {
        if (!pec) return Write(address7, bytes);
        std::vector<std::uint8_t> withPec(bytes.begin(), bytes.end());
        const std::array<std::uint8_t, 1> address{WriteAddress(address7)};
        withPec.push_back(SmbusPec(bytes, SmbusPec(address)));
        return Write(address7, withPec);
    }

    std::int32_t SmbusRead(std::uint8_t address7, std::span<const std::uint8_t> out,
                           std::span<std::uint8_t> in, bool pec) const {
        if (!pec) return WriteRead(address7, out, in);
        std::vector<std::uint8_t> received(in.size() + 1);
        if (const std::int32_t rc = WriteRead(address7, out, received); rc < 0) return rc;
        if (!PecMatches(address7, out, received)) return PEC_MISMATCH;
        std::copy(received.begin(), received.end() - 1, in.begin());
        return static_cast<std::int32_t>(in.size());
    }

    // `out` without STOP, then a block whose count byte comes first; returns
    // the count. The bridge must know a read's length before it starts, so
    // this reads the count byte and 32 bytes (and the PEC behind them) and
    // then uses the count byte: the target is clocked past its block, as any
    // master that cannot stop early does.
    std::int32_t ReadCountedBlock(std::uint8_t address7, std::span<const std::uint8_t> out,
                                  std::span<std::uint8_t> block, bool pec) const {
        std::vector<std::uint8_t> received(1 + I2cBus::kMaxBlock + (pec ? 1 : 0));
        if (const std::int32_t rc = WriteRead(address7, out, received); rc < 0) return rc;
        const std::size_t count = received[0];
        if (count == 0 || count > I2cBus::kMaxBlock) return I2CBUS_BLOCK_COUNT_INVALID;
        // The PEC follows the block, wherever the count puts its end.
        if (pec && !PecMatches(address7, out, std::span(received).first(1 + count + 1))) {
            return PEC_MISMATCH;
        }
        if (count > block.size()) return READ_OVERRUN;
        std::copy_n(received.begin() + 1, count, block.begin());
        return static_cast<std::int32_t>(count);
    }
};

bool BadAddress(std::uint8_t address7) {
    return address7 > kMaxAddress7;
}

bool TooLong(std::span<const std::uint8_t> bytes) {
    return bytes.size() > I2cBus::kMaxTransfer;
}

}  // namespace

I2cBus::I2cBus(VrelUsbI2c& bridge, std::uint32_t speedHz)
    : I2cBus(std::make_shared<BridgeHandle>(bridge), speedHz) {}

I2cBus::I2cBus(std::shared_ptr<BridgeHandle> bridge, std::uint32_t speedHz)
    : bridge_(std::move(bridge)), speedHz_(speedHz) {}

I2cBus::I2cBus(const I2cBus& other)
    : bridge_(other.bridge_), speedHz_(other.speedHz_.load()), pec_(other.pec_.load()) {}

I2cBus& I2cBus::operator=(const I2cBus& other) {
    bridge_ = other.bridge_;
    speedHz_ = other.speedHz_.load();
    pec_ = other.pec_.load();
    return *this;
}

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

namespace {

// Runs `call` with a Wire on the bus's bridge; the settings are read once.
template <typename Call>
std::int32_t OnWire(BridgeHandle& bridge, std::uint32_t speed, Call&& call) {
    return bridge.Run([&](VrelUsbI2c& object) { return call(Wire{object, speed}); });
}

}  // namespace

// ---- plain transfers ------------------------------------------------------------

std::int32_t I2cBus::Write(std::uint8_t address7, std::span<const std::uint8_t> data) {
    if (BadAddress(address7) || TooLong(data)) return I2CBUS_INVALID_ARGUMENT;
    return OnWire(*bridge_, speedHz_, [&](const Wire& w) { return w.Write(address7, data); });
}

std::int32_t I2cBus::Read(std::uint8_t address7, std::span<std::uint8_t> data) {
    return WriteRead(address7, {}, data);
}

std::int32_t I2cBus::WriteRead(std::uint8_t address7, std::span<const std::uint8_t> out,
                               std::span<std::uint8_t> in) {
    if (BadAddress(address7) || in.empty() || TooLong(out) || TooLong(in)) {
        return I2CBUS_INVALID_ARGUMENT;
    }
    return OnWire(*bridge_, speedHz_,
                  [&](const Wire& w) { return w.WriteRead(address7, out, in); });
}

bool I2cBus::Carries(std::span<const MessageShape> shapes) {
    for (const MessageShape& shape : shapes) {
        if (shape.read && shape.length == 0) return false;
    }
    if (shapes.size() == 1) return true;
    return shapes.size() == 2 && !shapes[0].read && shapes[1].read &&
           shapes[0].address == shapes[1].address && shapes[0].length > 0;
}

std::int32_t I2cBus::Transfer(std::span<I2cMessage> messages) {
    if (messages.size() > 2) return I2CBUS_NOT_SUPPORTED;
    std::array<MessageShape, 2> shapes{};
    for (std::size_t i = 0; i < messages.size(); ++i) {
        shapes[i] = {messages[i].address7, messages[i].read, messages[i].data.size()};
    }
    if (!Carries(std::span(shapes).first(messages.size()))) return I2CBUS_NOT_SUPPORTED;
    std::int32_t rc = 0;
    if (messages.size() == 2) {
        rc = WriteRead(messages[0].address7, messages[0].data, messages[1].data);
    } else if (messages[0].read) {
        rc = Read(messages[0].address7, messages[0].data);
    } else {
        rc = Write(messages[0].address7, messages[0].data);
    }
    return rc < 0 ? rc : static_cast<std::int32_t>(messages.size());
}

// ---- SMBus protocol calls ---------------------------------------------------------

std::int32_t I2cBus::Quick(std::uint8_t address7) {
    return Write(address7, {});
}

std::int32_t I2cBus::ReadByte(std::uint8_t address7) {
    if (BadAddress(address7)) return I2CBUS_INVALID_ARGUMENT;
    const bool pec = pec_;
    return OnWire(*bridge_, speedHz_, [&](const Wire& w) {
        std::array<std::uint8_t, 1> value{};
        const std::int32_t rc = w.SmbusRead(address7, {}, value, pec);
        return rc < 0 ? rc : value[0];
    });
}

std::int32_t I2cBus::WriteByte(std::uint8_t address7, std::uint8_t value) {
    const std::array<std::uint8_t, 1> bytes{value};
    return SmbusWrite(address7, bytes);
}

std::int32_t I2cBus::ReadByteData(std::uint8_t address7, std::uint8_t command) {
    const std::array<std::uint8_t, 1> out{command};
    std::array<std::uint8_t, 1> value{};
    const std::int32_t rc = SmbusRead(address7, out, value);
    return rc < 0 ? rc : value[0];
}

std::int32_t I2cBus::WriteByteData(std::uint8_t address7, std::uint8_t command,
                                   std::uint8_t value) {
    const std::array<std::uint8_t, 2> bytes{command, value};
    return SmbusWrite(address7, bytes);
}

std::int32_t I2cBus::ReadWordData(std::uint8_t address7, std::uint8_t command) {
    const std::array<std::uint8_t, 1> out{command};
    std::array<std::uint8_t, 2> word{};
    const std::int32_t rc = SmbusRead(address7, out, word);
    return rc < 0 ? rc : word[0] | (word[1] << 8);
}

std::int32_t I2cBus::WriteWordData(std::uint8_t address7, std::uint8_t command,
                                   std::uint16_t value) {
    const std::array<std::uint8_t, 3> bytes{command, static_cast<std::uint8_t>(value & 0xFF),
                                            static_cast<std::uint8_t>(value >> 8)};
    return SmbusWrite(address7, bytes);
}

std::int32_t I2cBus::ProcessCall(std::uint8_t address7, std::uint8_t command, std::uint16_t value) {
    const std::array<std::uint8_t, 3> out{command, static_cast<std::uint8_t>(value & 0xFF),
                                          static_cast<std::uint8_t>(value >> 8)};
    std::array<std::uint8_t, 2> word{};
    const std::int32_t rc = SmbusRead(address7, out, word);
    return rc < 0 ? rc : word[0] | (word[1] << 8);
}

std::int32_t I2cBus::ReadBlockData(std::uint8_t address7, std::uint8_t command,
                                   std::span<std::uint8_t> out) {
    if (BadAddress(address7) || out.empty()) return I2CBUS_INVALID_ARGUMENT;
    const std::array<std::uint8_t, 1> index{command};
    const bool pec = pec_;
    return OnWire(*bridge_, speedHz_,
                  [&](const Wire& w) { return w.ReadCountedBlock(address7, index, out, pec); });
}

std::int32_t I2cBus::WriteBlockData(std::uint8_t address7, std::uint8_t command,
                                    std::span<const std::uint8_t> data) {
    if (data.empty() || data.size() > kMaxBlock) return I2CBUS_INVALID_ARGUMENT;
    std::vector<std::uint8_t> bytes{command, static_cast<std::uint8_t>(data.size())};
    bytes.insert(bytes.end(), data.begin(), data.end());
    return SmbusWrite(address7, bytes);
}

std::int32_t I2cBus::BlockProcessCall(std::uint8_t address7, std::uint8_t command,
                                      std::span<const std::uint8_t> data,
                                      std::span<std::uint8_t> out) {
    if (BadAddress(address7) || data.empty() || data.size() > kMaxBlock || out.empty()) {
        return I2CBUS_INVALID_ARGUMENT;
    }
    std::vector<std::uint8_t> bytes{command, static_cast<std::uint8_t>(data.size())};
    bytes.insert(bytes.end(), data.begin(), data.end());
    const bool pec = pec_;
    return OnWire(*bridge_, speedHz_,
                  [&](const Wire& w) { return w.ReadCountedBlock(address7, bytes, out, pec); });
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

std::int32_t I2cBus::SmbusWrite(std::uint8_t address7, std::span<const std::uint8_t> bytes) {
    if (BadAddress(address7)) return I2CBUS_INVALID_ARGUMENT;
    const bool pec = pec_;
    return OnWire(*bridge_, speedHz_,
                  [&](const Wire& w) { return w.SmbusWrite(address7, bytes, pec); });
}

std::int32_t I2cBus::SmbusRead(std::uint8_t address7, std::span<const std::uint8_t> out,
                               std::span<std::uint8_t> in) {
    if (BadAddress(address7)) return I2CBUS_INVALID_ARGUMENT;
    const bool pec = pec_;
    return OnWire(*bridge_, speedHz_,
                  [&](const Wire& w) { return w.SmbusRead(address7, out, in, pec); });
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

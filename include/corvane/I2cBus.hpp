// SPDX-License-Identifier: MIT
#pragma once

// The bridge's bus the way Linux programs speak it: 7-bit addresses, combined
// write-then-read transfers and the SMBus protocol calls of i2c_smbus_*.
//
//   Corvane::VrelUsbI2c bridge;
//   Corvane::I2cBus bus(*bridge, 400'000);
//   std::array<std::uint8_t, 2> offset{0x01, 0x00};
//   std::array<std::uint8_t, 16> bytes{};
//   bus.WriteRead(0x50, offset, bytes);        // EEPROM read at offset 0x0100
//   std::int32_t word = bus.ReadWordData(0x0B, 0x09);
//
// Every call returns a negative result code (ResultCodes.hpp) on failure;
// ResultCodeErrno gives the errno an i2c-dev adapter would report for it.
// Arguments are checked before anything is sent: an address above 0x7F,
// an empty span where bytes are needed, more than 65,535 bytes in one
// transfer, or an SMBus block above 32 bytes gives I2CBUS_INVALID_ARGUMENT.
//
// PEC, when on, covers every byte on the wire including the address bytes with
// their R/W bit; it is appended to writes and checked on reads (PEC_MISMATCH).
// As in Linux, Quick and the I2C block calls never carry a PEC; the plain
// transfers (Write, Read, WriteRead, Transfer) never do either.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "corvane/BridgeHandle.hpp"
#include "corvane/Export.hpp"

namespace Corvane {

class VrelUsbI2c;

struct I2cMessage {  // one message of a combined transfer, as Linux's struct i2c_msg
    std::uint8_t address7;
    bool read;                     // true: the bytes are received into data
    std::span<std::uint8_t> data;  // for a write, the bytes sent (not changed)
};

// A bus is bound to one bridge through its BridgeHandle: it reaches that
// bridge whatever other buses, handles or library objects select meanwhile,
// and fails with BRIDGE_UNPLUGGED while the bridge is not attached. Calls are
// serialised by the library's lock; a bus may be shared between threads, and
// its speed and PEC may be changed from any thread (a call in progress keeps
// the values it started with).
class CORVANE_API I2cBus {
  public:
    // Largest block of the SMBus block calls and the I2C block calls.
    static constexpr std::size_t kMaxBlock = 32;
    // Largest count of bytes one transfer carries.
    static constexpr std::size_t kMaxTransfer = 65'535;

    // A bus on the device `bridge` has selected now (BridgeHandle's
    // constructor); `bridge` must outlive the I2cBus.
    explicit I2cBus(VrelUsbI2c& bridge, std::uint32_t speedHz = 100'000);
    // A bus on the handle's bridge; the handle is shared, not copied.
    explicit I2cBus(std::shared_ptr<BridgeHandle> bridge, std::uint32_t speedHz = 100'000);
    I2cBus(const I2cBus& other);
    I2cBus& operator=(const I2cBus& other);

    const std::shared_ptr<BridgeHandle>& Bridge() const { return bridge_; }

    // The speed is checked by each transfer, not here (INVALID_ARG_4).
    void SetSpeed(std::uint32_t speedHz);
    std::uint32_t Speed() const;
    void SetPec(bool on);
    bool Pec() const;

    // Plain transfers. Write: 0 or a negative result code. Read: the number of
    // bytes read (== data.size()) or a negative result code; a read that ends
    // with fewer bytes than asked is I2CBUS_SHORT_READ. An empty Write is Quick.
    std::int32_t Write(std::uint8_t address7, std::span<const std::uint8_t> data);
    std::int32_t Read(std::uint8_t address7, std::span<std::uint8_t> data);

    // Write without STOP, repeated START, read. Returns the number of bytes
    // read (== in.size()) or a negative code; an empty `out` makes it Read.
    std::int32_t WriteRead(std::uint8_t address7, std::span<const std::uint8_t> out,
                           std::span<std::uint8_t> in);

    // i2c_rdwr-style list: one write, one read, or a write followed by a read
    // of the same address. Returns the number of messages carried out; any
    // other shape returns I2CBUS_NOT_SUPPORTED before anything is sent.
    std::int32_t Transfer(std::span<I2cMessage> messages);

    // Whether Transfer carries out messages of these shapes: one write, one
    // read of at least one byte, or a write of at least one byte followed by
    // such a read of the same address. For callers that must refuse a list
    // before they have its bytes (an i2c-dev server fetching them from its
    // client).
    struct MessageShape {
        std::uint16_t address;
        bool read;
        std::size_t length;
    };
    static bool Carries(std::span<const MessageShape> shapes);

    // SMBus protocol calls, as Linux's i2c_smbus_* functions: values >= 0 are
    // results, negative values are result codes.
    std::int32_t Quick(std::uint8_t address7);  // write quick (zero-length write)
    std::int32_t ReadByte(std::uint8_t address7);
    std::int32_t WriteByte(std::uint8_t address7, std::uint8_t value);
    std::int32_t ReadByteData(std::uint8_t address7, std::uint8_t command);
    std::int32_t WriteByteData(std::uint8_t address7, std::uint8_t command, std::uint8_t value);
    std::int32_t ReadWordData(std::uint8_t address7, std::uint8_t command);  // little-endian word
    std::int32_t WriteWordData(std::uint8_t address7, std::uint8_t command, std::uint16_t value);
    std::int32_t ProcessCall(std::uint8_t address7, std::uint8_t command, std::uint16_t value);
    // Count byte first on the wire; returns the count. The bridge must know a
    // read's length before it starts, so this reads the count byte and 32
    // bytes (and the PEC behind them) and then uses the count byte: the target
    // is clocked past its block, as any master that cannot stop early does.
    // A count of 0 or above 32 gives I2CBUS_BLOCK_COUNT_INVALID, a count
    // above out.size() READ_OVERRUN; out is then left alone.
    std::int32_t ReadBlockData(std::uint8_t address7, std::uint8_t command,
                               std::span<std::uint8_t> out);
    // Sends the count byte; data holds 1 to 32 bytes.
    std::int32_t WriteBlockData(std::uint8_t address7, std::uint8_t command,
                                std::span<const std::uint8_t> data);
    // SMBus block write-block read process call: sends the count byte and
    // data (1 to 32 bytes), then after a repeated START reads a counted
    // block as ReadBlockData does; returns its count.
    std::int32_t BlockProcessCall(std::uint8_t address7, std::uint8_t command,
                                  std::span<const std::uint8_t> data, std::span<std::uint8_t> out);
    // Reads out.size() (1 to 32) bytes; returns the bytes read.
    std::int32_t ReadI2cBlockData(std::uint8_t address7, std::uint8_t command,
                                  std::span<std::uint8_t> out);
    std::int32_t WriteI2cBlockData(std::uint8_t address7, std::uint8_t command,
                                   std::span<const std::uint8_t> data);

  private:
    // With the address checked and PEC read once, as every SMBus call does.
    std::int32_t SmbusWrite(std::uint8_t address7, std::span<const std::uint8_t> bytes);
    std::int32_t SmbusRead(std::uint8_t address7, std::span<const std::uint8_t> out,
                           std::span<std::uint8_t> in);

    std::shared_ptr<BridgeHandle> bridge_;
    std::atomic<std::uint32_t> speedHz_;
    std::atomic<bool> pec_{false};
};

// The errno a Linux i2c-dev adapter would give for a result code, following
// the kernel's I2C/SMBus fault codes: ENXIO for an address not acknowledged,
// EBADMSG for a wrong PEC, ETIMEDOUT for a bridge that did not finish,
// EOPNOTSUPP for a transfer the bridge cannot carry out, EINVAL for bad
// arguments, EPROTO for an SMBus block count out of range, ENODEV for no
// bridge or a handle's bridge unplugged, ENOENT when no bridge matches the one
// a handle is opened on, EBUSY when another program kept the bridge busy,
// ENOMEM when out of memory, EIO otherwise. 0 for 0 and other
// non-negative values (results).
CORVANE_API int ResultCodeErrno(std::int32_t code) noexcept;

}  // namespace Corvane

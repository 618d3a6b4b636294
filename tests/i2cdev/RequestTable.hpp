// SPDX-License-Identifier: MIT
#pragma once

// Requests a program could make of an i2c-dev node that the node must refuse,
// with the errno of each: the daemon's test runs them against its request
// handling, the VM test (i2cdev_probe, 64-bit and 32-bit) against the daemon's
// node and the kernel's i2c-stub side by side. Rows where the bridge
// legitimately answers otherwise than the kernel say why in their name.

#include <linux/i2c-dev.h>
#include <linux/i2c.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <functional>
#include <vector>

namespace I2cDevRequests {

constexpr std::uint8_t kEeprom = 0x50, kSmbusDevice = 0x0B, kAbsent = 0x33;

// The client's side: its memory and its ioctl. Structures are laid out with
// pointers of `pointerBytes` (8 for a 64-bit client, 4 for a 32-bit one).
class Client {
  public:
    explicit Client(std::size_t pointerBytes) : pointerBytes_(pointerBytes) {}
    virtual ~Client() = default;
    // The ioctl's result, or -errno.
    virtual long Ioctl(std::uint32_t command, std::uint64_t arg) = 0;
    // `size` bytes of the client's memory filled with `fill`.
    virtual std::uint8_t* New(std::size_t size, std::uint8_t fill = 0xEE) = 0;
    // Where the client sees a byte of its memory (0 for none).
    virtual std::uint64_t ClientAddress(const void* pointer) const {
        return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(pointer));
    }

    std::uint8_t* Copy(const std::vector<std::uint8_t>& contents) {
        std::uint8_t* bytes = New(contents.size());
        for (std::size_t i = 0; i < contents.size(); ++i) bytes[i] = contents[i];
        return bytes;
    }
    long Ioctl(std::uint32_t command, const void* pointer) {
        return Ioctl(command,
                     static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(pointer)));
    }
    long Smbus(std::uint8_t readWrite, std::uint8_t command, std::uint32_t size, const void* data) {
        Fields request(*this);
        request.Put(readWrite, 1).Put(command, 1).Put(0, 2).Put(size, 4).Pointer(data);
        return Ioctl(I2C_SMBUS, Copy(request.bytes));
    }
    struct Message {  // struct i2c_msg before it is laid out
        std::uint16_t address;
        std::uint16_t flags;
        std::uint16_t length;
        const std::uint8_t* buffer;
    };
    long Rdwr(const std::vector<Message>& messages) {
        Fields list(*this);
        for (const Message& m : messages) {
            list.Put(m.address, 2).Put(m.flags, 2).Put(m.length, 2).Put(0, 2).Pointer(m.buffer);
        }
        return Rdwr(messages.empty() ? nullptr : Copy(list.bytes),
                    static_cast<std::uint32_t>(messages.size()));
    }
    long Rdwr(const void* list, std::uint32_t count) {
        Fields request(*this);
        request.Pointer(list).Put(count, 4).Put(0, pointerBytes_ - 4);
        return Ioctl(I2C_RDWR, Copy(request.bytes));
    }

  private:
    struct Fields {  // little-endian fields, pointers aligned to their width
        const Client& client;
        std::vector<std::uint8_t> bytes;
        explicit Fields(const Client& c) : client(c) {}
        Fields& Put(std::uint64_t value, std::size_t size) {
            for (std::size_t i = 0; i < size; ++i)
                bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
            return *this;
        }
        Fields& Pointer(const void* pointer) {
            while (bytes.size() % client.pointerBytes_ != 0) bytes.push_back(0);
            return Put(client.ClientAddress(pointer), client.pointerBytes_);
        }
    };
    std::size_t pointerBytes_;
};

// i2c-stub has no plain I2C: i2c-dev answers EOPNOTSUPP to every I2C_RDWR that
// passes its checks of the request itself, before it looks at the messages.
constexpr int kRdwrOnSmbusOnly = -1;

struct Row {
    const char* name;
    std::function<long(Client&)> request;
    int kernel;  // i2c-dev's errno on an adapter with plain I2C
    int bridge;  // the daemon's
    int stub;    // i2c-dev's on i2c-stub (kRdwrOnSmbusOnly: EOPNOTSUPP)
};

inline std::vector<Row> Rows() {
    using M = Client::Message;
    const std::uint16_t R = I2C_M_RD;
    const std::uint8_t SR = I2C_SMBUS_READ, SW = I2C_SMBUS_WRITE;
    const std::uint64_t aboveInt = std::uint64_t{INT_MAX} + 1;
    const auto ioctl = [](std::uint32_t command, std::uint64_t arg) {
        return [=](Client& c) { return c.Ioctl(command, arg); };
    };
    // An SMBus call at the node's address, its data's first byte `count`.
    const auto smbus = [](std::uint8_t readWrite, std::uint32_t size, std::uint8_t count = 0,
                          bool noData = false) {
        return [=](Client& c) {
            std::uint8_t* data = c.New(sizeof(i2c_smbus_data));
            data[0] = count;
            return c.Smbus(readWrite, 0, size, noData ? nullptr : data);
        };
    };
    // Messages of `length` bytes (the first `extra`, for RECV_LEN).
    const auto rdwr = [](std::vector<std::vector<int>> shape) {
        return [=](Client& c) {
            std::vector<M> list;
            for (const auto& m : shape) {  // flags, length, address, first byte
                std::uint8_t* buffer = c.New(static_cast<std::size_t>(m[1]) + 1);
                buffer[0] = static_cast<std::uint8_t>(m.size() > 3 ? m[3] : 0);
                list.push_back({static_cast<std::uint16_t>(m.size() > 2 ? m[2] : kEeprom),
                                static_cast<std::uint16_t>(m[0]), static_cast<std::uint16_t>(m[1]),
                                buffer});
            }
            return c.Rdwr(list);
        };
    };
    const int RL = I2C_M_RD | I2C_M_RECV_LEN, B = kSmbusDevice;
    const std::vector<std::vector<int>> fortyTwo(42, {0, 1}), fortyThree(43, {0, 1}),
        big(42, {0, 8192});
    const int S = kRdwrOnSmbusOnly;
    return {
        {"SMBus: read_write 2", smbus(2, I2C_SMBUS_BYTE_DATA), EINVAL, EINVAL, EINVAL},
        {"SMBus: unknown size", smbus(SR, 99), EINVAL, EINVAL, EINVAL},
        {"SMBus: no data", smbus(SR, I2C_SMBUS_BYTE_DATA, 0, true), EINVAL, EINVAL, EINVAL},
        {"SMBus: no request", ioctl(I2C_SMBUS, 0), EFAULT, EFAULT, EFAULT},
        {"SMBus: block write of 33", smbus(SW, I2C_SMBUS_BLOCK_DATA, 33), EINVAL, EINVAL, EINVAL},
        {"SMBus: I2C block read of 33", smbus(SR, I2C_SMBUS_I2C_BLOCK_DATA, 33), EINVAL, EINVAL,
         EINVAL},
        {"SMBus: block process call of 33", smbus(SW, I2C_SMBUS_BLOCK_PROC_CALL, 33), EINVAL,
         EINVAL, EINVAL},
        {"SMBus: quick read, a read of zero bytes, which the bridge cannot",
         smbus(SR, I2C_SMBUS_QUICK), 0, EOPNOTSUPP, 0},
        {"I2C_SLAVE 0x80", ioctl(I2C_SLAVE, 0x80), EINVAL, EINVAL, EINVAL},
        {"I2C_TENBIT 1: the bridge has no ten-bit addresses", ioctl(I2C_TENBIT, 1), 0, EINVAL, 0},
        {"unknown ioctl", ioctl(0x0799, 0), ENOTTY, ENOTTY, ENOTTY},
        {"TCGETS (isatty)", ioctl(0x5401, 0), ENOTTY, ENOTTY, ENOTTY},
        {"I2C_FUNCS: no pointer", ioctl(I2C_FUNCS, 0), EFAULT, EFAULT, EFAULT},
        {"I2C_RETRIES INT_MAX + 1", ioctl(I2C_RETRIES, aboveInt), EINVAL, EINVAL, EINVAL},
        {"I2C_TIMEOUT INT_MAX + 1", ioctl(I2C_TIMEOUT, aboveInt), EINVAL, EINVAL, EINVAL},
        {"I2C_RDWR: no request", ioctl(I2C_RDWR, 0), EFAULT, EFAULT, EFAULT},
        {"I2C_RDWR: no messages pointer", [](Client& c) { return c.Rdwr(nullptr, 1); }, EINVAL,
         EINVAL, EINVAL},
        {"I2C_RDWR: no messages", rdwr({}), EINVAL, EINVAL, EINVAL},
        {"I2C_RDWR: 43 messages", rdwr(fortyThree), EINVAL, EINVAL, EINVAL},
        {"I2C_RDWR: 42 messages, a shape the bridge cannot carry out", rdwr(fortyTwo), 0,
         EOPNOTSUPP, S},
        {"I2C_RDWR: 42 messages of 8 KiB, refused before their buffers are fetched", rdwr(big), 0,
         EOPNOTSUPP, S},
        {"I2C_RDWR: 8193 bytes", rdwr({{0, 8193}}), EINVAL, EINVAL, EINVAL},
        {"I2C_RDWR: null buffer",
         [](Client& c) {
             return c.Rdwr({M{kEeprom, 0, 1, nullptr}});
         },
         EFAULT, EFAULT, EFAULT},
        {"I2C_RDWR: a read of zero bytes, which the bridge cannot", rdwr({{R, 0}}), 0, EOPNOTSUPP,
         S},
        {"I2C_RDWR: address 0x80", rdwr({{0, 1, 0x80}}), ENXIO, ENXIO, S},
        {"I2C_RDWR: I2C_M_TEN, no ten-bit addresses on the bridge", rdwr({{I2C_M_TEN, 1}}), 0,
         EOPNOTSUPP, S},
        {"I2C_RDWR: I2C_M_NOSTART, which the bridge cannot", rdwr({{I2C_M_NOSTART, 1}}), 0,
         EOPNOTSUPP, S},
        {"I2C_RDWR: I2C_M_IGNORE_NAK, protocol mangling", rdwr({{I2C_M_IGNORE_NAK, 1}}), 0,
         EOPNOTSUPP, S},
        {"I2C_RDWR: I2C_M_STOP, protocol mangling", rdwr({{I2C_M_STOP, 1}}), 0, EOPNOTSUPP, S},
        {"I2C_RDWR: three messages, a shape the bridge cannot carry out",
         rdwr({{0, 1}, {0, 1}, {R, 1}}), 0, EOPNOTSUPP, S},
        {"I2C_RDWR: a read, then a write, a shape the bridge cannot carry out",
         rdwr({{R, 1}, {0, 1}}), 0, EOPNOTSUPP, S},
        {"I2C_RDWR: two addresses, a shape the bridge cannot carry out", rdwr({{0, 1}, {R, 1, B}}),
         0, EOPNOTSUPP, S},
        {"I2C_RDWR: RECV_LEN on a write", rdwr({{0, 1, B}, {I2C_M_RECV_LEN, 33, B, 1}}), EINVAL,
         EINVAL, EINVAL},
        {"I2C_RDWR: RECV_LEN of length 0", rdwr({{0, 1, B}, {RL, 0, B, 1}}), EINVAL, EINVAL,
         EINVAL},
        {"I2C_RDWR: RECV_LEN with no count byte", rdwr({{0, 1, B}, {RL, 33, B, 0}}), EINVAL, EINVAL,
         EINVAL},
        {"I2C_RDWR: RECV_LEN of 32 bytes", rdwr({{0, 1, B}, {RL, 32, B, 1}}), EINVAL, EINVAL,
         EINVAL},
        {"I2C_RDWR: RECV_LEN of 33 bytes with a PEC byte", rdwr({{0, 1, B}, {RL, 33, B, 2}}),
         EINVAL, EINVAL, EINVAL},
        {"I2C_RDWR: RECV_LEN among three messages", rdwr({{0, 1, B}, {0, 1, B}, {RL, 32, B, 1}}),
         EINVAL, EINVAL, EINVAL},
    };
}

}  // namespace I2cDevRequests

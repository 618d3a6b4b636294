// SPDX-License-Identifier: MIT
#pragma once

// The i2c-dev interface of a Linux I2C bus node answered with an I2cBus: the
// ioctls and read()/write() that i2c-tools, smbus2 and every i2c-dev program
// issue. Nothing here knows about CUSE, so it runs in tests as it runs behind
// /dev/i2c-N.
//
// Ioctls follow the kernel's "unrestricted ioctl" protocol: the i2c-dev
// commands carry no size, so the adapter names the regions of the client's
// memory it needs (Retry), the kernel fetches them and calls again with their
// bytes, until the adapter can answer (Done) with the bytes for the regions
// it asked to store into.
//
// A 32-bit program on a 64-bit kernel sends the same requests; only the
// structures that hold pointers (struct i2c_rdwr_ioctl_data, struct i2c_msg,
// struct i2c_smbus_ioctl_data) and the long of I2C_FUNCS are laid out with
// 4-byte pointers and longs, as the kernel's i2c-dev translates them.

#include <corvane/I2cBus.hpp>

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace CorvaneI2cDev {

// What the kernel keeps for each open file of an i2c-dev node.
struct OpenFile {
    std::uint16_t address = 0;  // I2C_SLAVE; read() and write() go there
    bool pec = false;           // I2C_PEC, for the SMBus calls
};

// How the client process lays out its structures.
enum class ClientAbi {
    Native,  // this program's own (a 64-bit client of a 64-bit daemon)
    Bits32,  // a 32-bit client on a 64-bit kernel (CUSE's compat ioctls)
};

// A region of the client process's memory.
struct ClientRegion {
    std::uint64_t address;
    std::size_t size;
};

struct IoctlReply {
    // Retry: fetch `fetch` (its bytes come back in order as `in`) and make
    // room for `store` (its size comes back as `outSize`), then call again.
    bool retry = false;
    std::vector<ClientRegion> fetch;
    std::vector<ClientRegion> store;
    // Done: the errno (> 0), or the ioctl's result and the bytes for the
    // store regions, in order.
    int error = 0;
    std::int32_t result = 0;
    std::vector<std::uint8_t> out;
};

class I2cDevAdapter {
  public:
    // What I2C_FUNCS reports: plain I2C (the shapes the bus carries), the SMBus
    // calls of I2cBus, and PEC.
    static const std::uint64_t kFunctionality;
    // i2c-dev's limits: bytes of one message and of one read() or write(), and
    // messages of one I2C_RDWR.
    static constexpr std::size_t kMaxMessage = 8192;
    static constexpr std::uint32_t kMaxMessages = 42;
    // The most a request fetches or stores: one message of each direction and
    // the message list. CUSE refuses more than 128 KiB either way.
    static constexpr std::size_t kMaxRegionBytes = 2 * kMaxMessage + 1024;

    explicit I2cDevAdapter(Corvane::I2cBus& bus);

    // One step of an ioctl. `in` holds the bytes of the regions the last Retry
    // asked to fetch, `outSize` the room of the regions it asked to store into
    // (both empty on the first call).
    IoctlReply Ioctl(OpenFile& file, std::uint32_t command, std::uint64_t arg, ClientAbi abi,
                     std::span<const std::uint8_t> in, std::size_t outSize);

    // read() and write() on the node: plain transfers to the file's address of
    // up to kMaxMessage bytes. Bytes transferred, or -errno.
    std::int32_t Read(const OpenFile& file, std::span<std::uint8_t> data);
    std::int32_t Write(const OpenFile& file, std::span<const std::uint8_t> data);

  private:
    IoctlReply Smbus(const OpenFile& file, std::uint64_t arg, ClientAbi abi,
                     std::span<const std::uint8_t> in, std::size_t outSize);
    IoctlReply ReadWrite(std::uint64_t arg, ClientAbi abi, std::span<const std::uint8_t> in,
                         std::size_t outSize);

    Corvane::I2cBus& bus_;
};

}  // namespace CorvaneI2cDev

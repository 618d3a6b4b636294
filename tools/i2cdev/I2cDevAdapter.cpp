#include "I2cDevAdapter.hpp"

#include <linux/i2c-dev.h>
#include <linux/i2c.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

namespace CorvaneI2cDev {

const std::uint64_t I2cDevAdapter::kFunctionality =
    I2C_FUNC_I2C | I2C_FUNC_SMBUS_PEC | I2C_FUNC_SMBUS_QUICK | I2C_FUNC_SMBUS_BYTE |
    I2C_FUNC_SMBUS_BYTE_DATA | I2C_FUNC_SMBUS_WORD_DATA | I2C_FUNC_SMBUS_PROC_CALL |
    I2C_FUNC_SMBUS_BLOCK_DATA | I2C_FUNC_SMBUS_I2C_BLOCK;

namespace {

IoctlReply Fail(int error) {
    IoctlReply reply;
    reply.error = error;
    return reply;
}

IoctlReply Done(std::int32_t result, std::vector<std::uint8_t> out = {}) {
    IoctlReply reply;
    reply.result = result;
    reply.out = std::move(out);
    return reply;
}

std::size_t Total(const std::vector<ClientRegion>& regions) {
    std::size_t total = 0;
    for (const ClientRegion& region : regions) total += region.size;
    return total;
}

// A request can be carried out once the kernel has fetched exactly `fetch`
// and made room for exactly `store`; until then the adapter asks for them.
// Asking again after every step keeps a client that changes its structures
// between steps from mixing old and new ones.
bool Ready(const std::vector<ClientRegion>& fetch, const std::vector<ClientRegion>& store,
           std::span<const std::uint8_t> in, std::size_t outSize) {
    return in.size() == Total(fetch) && outSize == Total(store);
}

IoctlReply Retry(std::vector<ClientRegion> fetch, std::vector<ClientRegion> store = {}) {
    IoctlReply reply;
    reply.retry = true;
    reply.fetch = std::move(fetch);
    reply.store = std::move(store);
    return reply;
}

template <typename T>
T Take(std::span<const std::uint8_t> in, std::size_t offset) {
    T value;
    std::memcpy(&value, in.data() + offset, sizeof value);
    return value;
}

template <typename T>
std::uint64_t Address(T* pointer) {
    return reinterpret_cast<std::uintptr_t>(pointer);
}

// The errno of a bus result (0 for a result >= 0).
int Errno(std::int32_t result) {
    if (result >= 0) return 0;
    const int error = Corvane::ResultCodeErrno(result);
    return error > 0 ? error : EIO;
}

}  // namespace

I2cDevAdapter::I2cDevAdapter(Corvane::I2cBus& bus) : bus_(bus) {}

IoctlReply I2cDevAdapter::Ioctl(OpenFile& file, std::uint32_t command, std::uint64_t arg,
                                std::span<const std::uint8_t> in, std::size_t outSize) {
    switch (command) {
        case I2C_SLAVE:
        case I2C_SLAVE_FORCE:
            // No kernel driver shares this bus, so no address is ever busy.
            if (arg > 0x7F) return Fail(EINVAL);
            file.address = static_cast<std::uint16_t>(arg);
            return Done(0);
        case I2C_TENBIT:
            return arg == 0 ? Done(0) : Fail(EINVAL);
        case I2C_PEC:
            file.pec = arg != 0;
            return Done(0);
        case I2C_RETRIES:
            return Done(0);
        case I2C_TIMEOUT:
            // The library's own time-outs apply; the value is checked as the kernel does.
            return arg > INT_MAX ? Fail(EINVAL) : Done(0);
        case I2C_FUNCS: {
            if (arg == 0) return Fail(EINVAL);
            const unsigned long functionality = kFunctionality;
            const std::vector<ClientRegion> store{{arg, sizeof functionality}};
            if (!Ready({}, store, in, outSize)) return Retry({}, store);
            std::vector<std::uint8_t> out(sizeof functionality);
            std::memcpy(out.data(), &functionality, sizeof functionality);
            return Done(0, std::move(out));
        }
        case I2C_RDWR:
            return ReadWrite(arg, in, outSize);
        case I2C_SMBUS:
            return Smbus(file, arg, in, outSize);
        default:
            return Fail(ENOTTY);
    }
}

IoctlReply I2cDevAdapter::Smbus(const OpenFile& file, std::uint64_t arg,
                                std::span<const std::uint8_t> in, std::size_t outSize) {
    if (arg == 0) return Fail(EINVAL);
    const ClientRegion header{arg, sizeof(i2c_smbus_ioctl_data)};
    if (in.size() < header.size) return Retry({header});
    const auto request = Take<i2c_smbus_ioctl_data>(in, 0);
    if (request.read_write != I2C_SMBUS_READ && request.read_write != I2C_SMBUS_WRITE) {
        return Fail(EINVAL);
    }
    const bool read = request.read_write == I2C_SMBUS_READ;
    std::uint32_t size = request.size;

    // Which part of the client's i2c_smbus_data goes in and out, as i2c-dev copies it.
    std::size_t dataSize = 0;
    switch (size) {
        case I2C_SMBUS_QUICK:
            if (read) return Fail(EOPNOTSUPP);  // the bridge cannot read zero bytes
            break;
        case I2C_SMBUS_BYTE:
            dataSize = read ? 1 : 0;
            break;
        case I2C_SMBUS_BYTE_DATA:
            dataSize = 1;
            break;
        case I2C_SMBUS_WORD_DATA:
        case I2C_SMBUS_PROC_CALL:
            dataSize = 2;
            break;
        case I2C_SMBUS_BLOCK_DATA:
        case I2C_SMBUS_I2C_BLOCK_BROKEN:
        case I2C_SMBUS_I2C_BLOCK_DATA:
            dataSize = sizeof(i2c_smbus_data);
            break;
        case I2C_SMBUS_BLOCK_PROC_CALL:
            return Fail(EOPNOTSUPP);
        default:
            return Fail(EINVAL);
    }
    if (dataSize > 0 && request.data == nullptr) return Fail(EINVAL);
    const bool proc = size == I2C_SMBUS_PROC_CALL;
    const bool copyIn = dataSize > 0 && (!read || proc || size == I2C_SMBUS_I2C_BLOCK_DATA);
    const bool copyOut = dataSize > 0 && (read || proc);
    std::vector<ClientRegion> fetch{header}, store;
    const ClientRegion data{Address(request.data), dataSize};
    if (copyIn) fetch.push_back(data);
    if (copyOut) store.push_back(data);
    if (!Ready(fetch, store, in, outSize)) return Retry(fetch, store);

    i2c_smbus_data value{};
    if (copyIn) std::memcpy(&value, in.data() + header.size, dataSize);
    if (size == I2C_SMBUS_I2C_BLOCK_BROKEN) {
        size = I2C_SMBUS_I2C_BLOCK_DATA;
        if (read) value.block[0] = I2C_SMBUS_BLOCK_MAX;
    }
    const auto address = static_cast<std::uint8_t>(file.address);
    const std::uint8_t command = request.command;
    const std::uint8_t count = value.block[0];
    const auto block = std::span<std::uint8_t>(value.block + 1, I2C_SMBUS_BLOCK_MAX);
    if ((size == I2C_SMBUS_I2C_BLOCK_DATA || (size == I2C_SMBUS_BLOCK_DATA && !read)) &&
        count > I2C_SMBUS_BLOCK_MAX) {
        return Fail(EINVAL);
    }
    bus_.SetPec(file.pec);
    std::int32_t result = 0;
    switch (size) {
        case I2C_SMBUS_QUICK:
            result = bus_.Quick(address);
            break;
        case I2C_SMBUS_BYTE:
            result = read ? bus_.ReadByte(address) : bus_.WriteByte(address, command);
            if (read && result >= 0) value.byte = static_cast<std::uint8_t>(result);
            break;
        case I2C_SMBUS_BYTE_DATA:
            result = read ? bus_.ReadByteData(address, command)
                          : bus_.WriteByteData(address, command, value.byte);
            if (read && result >= 0) value.byte = static_cast<std::uint8_t>(result);
            break;
        case I2C_SMBUS_WORD_DATA:
            result = read ? bus_.ReadWordData(address, command)
                          : bus_.WriteWordData(address, command, value.word);
            if (read && result >= 0) value.word = static_cast<std::uint16_t>(result);
            break;
        case I2C_SMBUS_PROC_CALL:
            result = bus_.ProcessCall(address, command, value.word);
            if (result >= 0) value.word = static_cast<std::uint16_t>(result);
            break;
        case I2C_SMBUS_BLOCK_DATA:
            result = read ? bus_.ReadBlockData(address, command, block)
                          : bus_.WriteBlockData(address, command, block.first(count));
            if (read && result >= 0) value.block[0] = static_cast<std::uint8_t>(result);
            break;
        case I2C_SMBUS_I2C_BLOCK_DATA:
            result = read ? bus_.ReadI2cBlockData(address, command, block.first(count))
                          : bus_.WriteI2cBlockData(address, command, block.first(count));
            if (read && result >= 0) value.block[0] = static_cast<std::uint8_t>(result);
            break;
    }
    if (const int error = Errno(result)) return Fail(error);
    std::vector<std::uint8_t> out;
    if (copyOut) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(&value);
        out.assign(bytes, bytes + dataSize);
    }
    return Done(0, std::move(out));
}

IoctlReply I2cDevAdapter::ReadWrite(std::uint64_t arg, std::span<const std::uint8_t> in,
                                    std::size_t outSize) {
    if (arg == 0) return Fail(EINVAL);
    const ClientRegion header{arg, sizeof(i2c_rdwr_ioctl_data)};
    if (in.size() < header.size) return Retry({header});
    const auto request = Take<i2c_rdwr_ioctl_data>(in, 0);
    if (request.msgs == nullptr || request.nmsgs == 0 || request.nmsgs > kMaxMessages) {
        return Fail(EINVAL);
    }
    const ClientRegion list{Address(request.msgs), request.nmsgs * sizeof(i2c_msg)};
    if (in.size() < header.size + list.size) return Retry({header, list});

    std::vector<i2c_msg> messages(request.nmsgs);
    std::memcpy(messages.data(), in.data() + header.size, list.size);
    std::vector<ClientRegion> fetch{header, list}, store;
    for (i2c_msg& message : messages) {
        if (message.len > kMaxMessage || (message.len > 0 && message.buf == nullptr)) {
            return Fail(EINVAL);
        }
        // Only the kernel may say that a buffer is DMA-safe; every other flag
        // asks for something the bridge cannot do on the wire.
        message.flags &= static_cast<std::uint16_t>(~I2C_M_DMA_SAFE);
        if ((message.flags & ~I2C_M_RD) != 0) return Fail(EOPNOTSUPP);
        if (message.addr > 0x7F) return Fail(EINVAL);
        const ClientRegion bytes{Address(message.buf), message.len};
        if (message.len == 0) continue;
        ((message.flags & I2C_M_RD) ? store : fetch).push_back(bytes);
    }
    if (!Ready(fetch, store, in, outSize)) return Retry(fetch, store);

    // The written bytes as fetched, then room for the read ones, message by message.
    std::vector<std::uint8_t> written(
        in.begin() + static_cast<std::ptrdiff_t>(Total({header, list})), in.end());
    std::vector<std::uint8_t> out(outSize);
    std::vector<Corvane::I2cMessage> transfer;
    std::size_t writeAt = 0, readAt = 0;
    for (const i2c_msg& message : messages) {
        const bool read = (message.flags & I2C_M_RD) != 0;
        std::size_t& at = read ? readAt : writeAt;
        std::uint8_t* base = (read ? out.data() : written.data()) + at;
        transfer.push_back({static_cast<std::uint8_t>(message.addr), read,
                            std::span<std::uint8_t>(base, message.len)});
        at += message.len;
    }
    const std::int32_t result = bus_.Transfer(transfer);
    if (const int error = Errno(result)) return Fail(error);
    return Done(result, std::move(out));
}

std::int32_t I2cDevAdapter::Read(const OpenFile& file, std::span<std::uint8_t> data) {
    data = data.first(std::min(data.size(), kMaxMessage));
    const std::int32_t result = bus_.Read(static_cast<std::uint8_t>(file.address), data);
    if (const int error = Errno(result)) return -error;
    return static_cast<std::int32_t>(data.size());
}

std::int32_t I2cDevAdapter::Write(const OpenFile& file, std::span<const std::uint8_t> data) {
    data = data.first(std::min(data.size(), kMaxMessage));
    const std::int32_t result = bus_.Write(static_cast<std::uint8_t>(file.address), data);
    if (const int error = Errno(result)) return -error;
    return static_cast<std::int32_t>(data.size());
}

}  // namespace CorvaneI2cDev

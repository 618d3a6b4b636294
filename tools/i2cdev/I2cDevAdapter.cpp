// SPDX-License-Identifier: MIT
#include "I2cDevAdapter.hpp"

#include <linux/i2c-dev.h>
#include <linux/i2c.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstring>

namespace CorvaneI2cDev {

const std::uint64_t I2cDevAdapter::kFunctionality =
    I2C_FUNC_I2C | I2C_FUNC_SMBUS_PEC | I2C_FUNC_SMBUS_QUICK | I2C_FUNC_SMBUS_BYTE |
    I2C_FUNC_SMBUS_BYTE_DATA | I2C_FUNC_SMBUS_WORD_DATA | I2C_FUNC_SMBUS_PROC_CALL |
    I2C_FUNC_SMBUS_BLOCK_DATA | I2C_FUNC_SMBUS_I2C_BLOCK | I2C_FUNC_SMBUS_BLOCK_PROC_CALL;

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

// Callers check that `in` holds the bytes.
template <typename T>
T Take(std::span<const std::uint8_t> in, std::size_t offset) {
    T value;
    std::memcpy(&value, in.data() + offset, sizeof value);
    return value;
}

// The structures that hold pointers, in the client's layout: the fields
// before the pointer sit where they sit in every layout, the pointer (and
// the long of I2C_FUNCS) takes 8 or 4 bytes.
struct Layout {
    std::size_t pointer;

    explicit Layout(ClientAbi abi) : pointer(abi == ClientAbi::Bits32 ? 4 : sizeof(void*)) {}
    std::size_t Rdwr() const { return 2 * pointer; }     // msgs, nmsgs
    std::size_t Message() const { return 8 + pointer; }  // addr, flags, len, buf
    std::size_t Smbus() const { return 8 + pointer; }    // read_write, command, size, data
    std::uint64_t Pointer(std::span<const std::uint8_t> in, std::size_t at) const {
        return pointer == 4 ? Take<std::uint32_t>(in, at) : Take<std::uint64_t>(in, at);
    }
};
static_assert(sizeof(i2c_rdwr_ioctl_data) == 2 * sizeof(void*) &&
              offsetof(i2c_rdwr_ioctl_data, nmsgs) == sizeof(void*));
static_assert(sizeof(i2c_msg) == 8 + sizeof(void*) && offsetof(i2c_msg, len) == 4 &&
              offsetof(i2c_msg, buf) == 8);
static_assert(sizeof(i2c_smbus_ioctl_data) == 8 + sizeof(void*) &&
              offsetof(i2c_smbus_ioctl_data, size) == 4 &&
              offsetof(i2c_smbus_ioctl_data, data) == 8);

struct Message {
    std::uint16_t address;
    std::uint16_t flags;
    std::uint16_t length;
    std::uint64_t buffer;
    std::uint8_t extra = 0;  // I2C_M_RECV_LEN: bytes beyond the block (count byte, PEC)

    bool Read() const { return (flags & I2C_M_RD) != 0; }
    bool LengthFromTarget() const { return (flags & I2C_M_RECV_LEN) != 0; }
    // Bytes on the wire: a block read takes its longest block, the bridge
    // needing a read's length before it starts.
    std::size_t WireLength() const {
        return LengthFromTarget() ? extra + Corvane::I2cBus::kMaxBlock : length;
    }
};

// The flags the bridge can honour. Only the kernel may say that a buffer is
// DMA-safe; every other flag asks for something the bridge cannot do on the wire.
constexpr std::uint16_t kCarriedFlags = I2C_M_RD | I2C_M_RECV_LEN;

bool Carries(const std::vector<Message>& messages) {
    std::vector<Corvane::I2cBus::MessageShape> shapes;
    for (const Message& message : messages) {
        shapes.push_back({message.address, message.Read(), message.length});
    }
    return Corvane::I2cBus::Carries(shapes);
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
                                ClientAbi abi, std::span<const std::uint8_t> in,
                                std::size_t outSize) {
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
        case I2C_TIMEOUT:
            // The library's own time-outs and retries apply; the value is
            // checked as the kernel checks it.
            return arg > INT_MAX ? Fail(EINVAL) : Done(0);
        case I2C_FUNCS: {
            if (arg == 0) return Fail(EFAULT);
            const std::vector<ClientRegion> store{{arg, Layout(abi).pointer}};
            if (!Ready({}, store, in, outSize)) return Retry({}, store);
            std::vector<std::uint8_t> out(store[0].size);
            std::memcpy(out.data(), &kFunctionality, out.size());  // little-endian: the low bytes
            return Done(0, std::move(out));
        }
        case I2C_RDWR:
            return ReadWrite(arg, abi, in, outSize);
        case I2C_SMBUS:
            return Smbus(file, arg, abi, in, outSize);
        default:
            return Fail(ENOTTY);
    }
}

IoctlReply I2cDevAdapter::Smbus(const OpenFile& file, std::uint64_t arg, ClientAbi abi,
                                std::span<const std::uint8_t> in, std::size_t outSize) {
    const Layout layout(abi);
    if (arg == 0) return Fail(EFAULT);
    const ClientRegion header{arg, layout.Smbus()};
    if (in.size() < header.size) return Retry({header});
    const std::uint8_t readWrite = in[0];
    const std::uint8_t command = in[1];
    std::uint32_t size = Take<std::uint32_t>(in, offsetof(i2c_smbus_ioctl_data, size));
    const std::uint64_t dataAddress = layout.Pointer(in, offsetof(i2c_smbus_ioctl_data, data));
    const bool read = readWrite == I2C_SMBUS_READ;

    // Which part of the client's i2c_smbus_data goes in and out, as i2c-dev copies it.
    std::size_t dataSize = 0;
    switch (size) {
        case I2C_SMBUS_QUICK:
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
        case I2C_SMBUS_BLOCK_PROC_CALL:
            dataSize = sizeof(i2c_smbus_data);
            break;
        default:
            return Fail(EINVAL);
    }
    if (readWrite != I2C_SMBUS_READ && readWrite != I2C_SMBUS_WRITE) return Fail(EINVAL);
    if (dataSize > 0 && dataAddress == 0) return Fail(EINVAL);
    // The bridge cannot read zero bytes.
    if (size == I2C_SMBUS_QUICK && read) return Fail(EOPNOTSUPP);
    const bool proc = size == I2C_SMBUS_PROC_CALL || size == I2C_SMBUS_BLOCK_PROC_CALL;
    const bool copyIn = dataSize > 0 && (!read || proc || size == I2C_SMBUS_I2C_BLOCK_DATA);
    const bool copyOut = dataSize > 0 && (read || proc);
    std::vector<ClientRegion> fetch{header}, store;
    const ClientRegion data{dataAddress, dataSize};
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
    const std::uint8_t count = value.block[0];
    const auto block = std::span<std::uint8_t>(value.block + 1, I2C_SMBUS_BLOCK_MAX);
    if ((size == I2C_SMBUS_I2C_BLOCK_DATA || size == I2C_SMBUS_BLOCK_PROC_CALL ||
         (size == I2C_SMBUS_BLOCK_DATA && !read)) &&
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
        case I2C_SMBUS_BLOCK_PROC_CALL:
            // The block sent is copied before the answer lands in the same place.
            result = bus_.BlockProcessCall(address, command, block.first(count), block);
            if (result >= 0) value.block[0] = static_cast<std::uint8_t>(result);
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

IoctlReply I2cDevAdapter::ReadWrite(std::uint64_t arg, ClientAbi abi,
                                    std::span<const std::uint8_t> in, std::size_t outSize) {
    const Layout layout(abi);
    if (arg == 0) return Fail(EFAULT);
    const ClientRegion header{arg, layout.Rdwr()};
    if (in.size() < header.size) return Retry({header});
    const std::uint64_t listAddress = layout.Pointer(in, 0);
    const auto count = Take<std::uint32_t>(in, layout.pointer);
    if (listAddress == 0 || count == 0 || count > kMaxMessages) return Fail(EINVAL);
    const ClientRegion list{listAddress, count * layout.Message()};
    if (in.size() < header.size + list.size) return Retry({header, list});

    // i2c-dev's own checks, message by message, as the kernel makes them
    // before an adapter sees the transfer. A block read's buffer starts with
    // the number of bytes beyond the block, so that byte is fetched too.
    std::vector<Message> messages;
    std::vector<ClientRegion> fetch{header, list};
    for (std::size_t at = header.size; at < header.size + list.size; at += layout.Message()) {
        Message message{Take<std::uint16_t>(in, at), Take<std::uint16_t>(in, at + 2),
                        Take<std::uint16_t>(in, at + 4), layout.Pointer(in, at + 8)};
        if (message.length > kMaxMessage) return Fail(EINVAL);
        if (message.buffer == 0 && message.length > 0) return Fail(EFAULT);
        if (message.LengthFromTarget()) {
            if (!message.Read() || message.length == 0) return Fail(EINVAL);
            fetch.push_back({message.buffer, 1});
        }
        messages.push_back(message);
    }
    if (in.size() < Total(fetch)) return Retry(fetch);
    std::size_t extraAt = header.size + list.size;
    for (Message& message : messages) {
        if (!message.LengthFromTarget()) continue;
        message.extra = in[extraAt++];
        if (message.extra < 1 || message.length < message.extra + I2C_SMBUS_BLOCK_MAX) {
            return Fail(EINVAL);
        }
    }

    // What the bridge cannot do is refused before any buffer is fetched.
    for (Message& message : messages) {
        message.flags &= static_cast<std::uint16_t>(~I2C_M_DMA_SAFE);
        if ((message.flags & ~kCarriedFlags) != 0) return Fail(EOPNOTSUPP);
    }
    if (!Carries(messages)) return Fail(EOPNOTSUPP);
    // Nobody can acknowledge an address that does not fit in seven bits.
    for (const Message& message : messages) {
        if (message.address > 0x7F) return Fail(ENXIO);
    }
    const std::size_t writtenAt = Total(fetch);
    std::vector<ClientRegion> store;
    for (const Message& message : messages) {
        if (message.length == 0) continue;
        (message.Read() ? store : fetch).push_back({message.buffer, message.length});
    }
    if (!Ready(fetch, store, in, outSize)) return Retry(fetch, store);

    // The written bytes as fetched, then room for the read ones, message by message.
    std::vector<std::uint8_t> written(in.begin() + static_cast<std::ptrdiff_t>(writtenAt),
                                      in.end());
    std::vector<std::uint8_t> out(outSize);
    std::vector<Corvane::I2cMessage> transfer;
    std::size_t writeAt = 0, readAt = 0;
    for (const Message& message : messages) {
        const bool read = message.Read();
        std::uint8_t* base = (read ? out.data() : written.data()) + (read ? readAt : writeAt);
        transfer.push_back({static_cast<std::uint8_t>(message.address), read,
                            std::span<std::uint8_t>(base, message.WireLength())});
        (read ? readAt : writeAt) += message.length;
    }
    const std::int32_t result = bus_.Transfer(transfer);
    if (const int error = Errno(result)) return Fail(error);
    // A block read hands back its count byte, the block and the bytes beyond
    // it; the read is the last message, so the reply just ends there.
    const Message& last = messages.back();
    if (last.LengthFromTarget()) {
        const std::size_t blockAt = out.size() - last.length;
        const std::uint8_t blockCount = out[blockAt];
        if (blockCount < 1 || blockCount > I2C_SMBUS_BLOCK_MAX) return Fail(EPROTO);
        out.resize(blockAt + last.extra + blockCount);
    }
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

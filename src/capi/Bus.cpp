// SPDX-License-Identifier: MIT
// The C interface of the I2cBus layer.

#include <span>
#include <vector>

#include "capi/Handles.hpp"
#include "corvane/detail/CInterface.hpp"

using namespace Corvane;
using Detail::OnHandle;

namespace {

// The caller's bytes; nothing when they are missing although counted.
template <typename Byte>
bool Span(Byte* data, std::size_t count, std::span<Byte>& span) {
    if (data == nullptr && count > 0) return false;
    span = data == nullptr ? std::span<Byte>() : std::span<Byte>(data, count);
    return true;
}

// Runs `call(bus, span)` on the caller's bytes.
template <typename Byte, typename Call>
std::int32_t WithBytes(corvane_bus* bus, Byte* data, std::size_t count, Call&& call) noexcept {
    return OnHandle(bus, [&](I2cBus& b) {
        std::span<Byte> bytes;
        if (!Span(data, count, bytes)) return I2CBUS_INVALID_ARGUMENT;
        return call(b, bytes);
    });
}

}  // namespace

extern "C" {

int32_t corvane_bus_new(corvane_bridge* bridge, uint32_t speed, corvane_bus** bus) {
    if (bridge == nullptr) return NULL_HANDLE;
    if (bus == nullptr) return INVALID_ARG_2;
    return Detail::Guard([&] {
        *bus = new corvane_bus{I2cBus(bridge->object, speed)};
        return SUCCESS;
    });
}

void corvane_bus_free(corvane_bus* bus) {
    delete bus;
}

int32_t corvane_bus_set_speed(corvane_bus* bus, uint32_t speed) {
    return OnHandle(bus, [&](I2cBus& b) {
        b.SetSpeed(speed);
        return SUCCESS;
    });
}

int64_t corvane_bus_speed(corvane_bus* bus) {
    return OnHandle(bus, [](I2cBus& b) -> std::int64_t { return b.Speed(); });
}

int32_t corvane_bus_set_pec(corvane_bus* bus, int32_t on) {
    return OnHandle(bus, [&](I2cBus& b) {
        b.SetPec(on != 0);
        return SUCCESS;
    });
}

int32_t corvane_bus_pec(corvane_bus* bus) {
    return OnHandle(bus, [](I2cBus& b) -> std::int32_t { return b.Pec() ? 1 : 0; });
}

int32_t corvane_bus_write(corvane_bus* bus, uint8_t address7, const uint8_t* data, size_t count) {
    return WithBytes(bus, data, count,
                     [&](I2cBus& b, auto bytes) { return b.Write(address7, bytes); });
}

int32_t corvane_bus_read(corvane_bus* bus, uint8_t address7, uint8_t* data, size_t count) {
    return WithBytes(bus, data, count,
                     [&](I2cBus& b, auto bytes) { return b.Read(address7, bytes); });
}

int32_t corvane_bus_write_read(corvane_bus* bus, uint8_t address7, const uint8_t* out,
                               size_t out_count, uint8_t* in, size_t in_count) {
    return WithBytes(bus, out, out_count, [&](I2cBus& b, auto outBytes) {
        std::span<std::uint8_t> inBytes;
        if (!Span(in, in_count, inBytes)) return I2CBUS_INVALID_ARGUMENT;
        return b.WriteRead(address7, outBytes, inBytes);
    });
}

int32_t corvane_bus_transfer(corvane_bus* bus, corvane_i2c_message* messages, size_t count) {
    return OnHandle(bus, [&](I2cBus& b) {
        if (messages == nullptr && count > 0) return I2CBUS_INVALID_ARGUMENT;
        std::vector<I2cMessage> list;
        for (std::size_t i = 0; i < count; ++i) {
            std::span<std::uint8_t> data;
            if (!Span(messages[i].data, messages[i].length, data)) return I2CBUS_INVALID_ARGUMENT;
            list.push_back({messages[i].address7, messages[i].read != 0, data});
        }
        return b.Transfer(list);
    });
}

int32_t corvane_bus_quick(corvane_bus* bus, uint8_t address7) {
    return OnHandle(bus, [&](I2cBus& b) { return b.Quick(address7); });
}

int32_t corvane_bus_read_byte(corvane_bus* bus, uint8_t address7) {
    return OnHandle(bus, [&](I2cBus& b) { return b.ReadByte(address7); });
}

int32_t corvane_bus_write_byte(corvane_bus* bus, uint8_t address7, uint8_t value) {
    return OnHandle(bus, [&](I2cBus& b) { return b.WriteByte(address7, value); });
}

int32_t corvane_bus_read_byte_data(corvane_bus* bus, uint8_t address7, uint8_t command) {
    return OnHandle(bus, [&](I2cBus& b) { return b.ReadByteData(address7, command); });
}

int32_t corvane_bus_write_byte_data(corvane_bus* bus, uint8_t address7, uint8_t command,
                                    uint8_t value) {
    return OnHandle(bus, [&](I2cBus& b) { return b.WriteByteData(address7, command, value); });
}

int32_t corvane_bus_read_word_data(corvane_bus* bus, uint8_t address7, uint8_t command) {
    return OnHandle(bus, [&](I2cBus& b) { return b.ReadWordData(address7, command); });
}

int32_t corvane_bus_write_word_data(corvane_bus* bus, uint8_t address7, uint8_t command,
                                    uint16_t value) {
    return OnHandle(bus, [&](I2cBus& b) { return b.WriteWordData(address7, command, value); });
}

int32_t corvane_bus_process_call(corvane_bus* bus, uint8_t address7, uint8_t command,
                                 uint16_t value) {
    return OnHandle(bus, [&](I2cBus& b) { return b.ProcessCall(address7, command, value); });
}

int32_t corvane_bus_read_block_data(corvane_bus* bus, uint8_t address7, uint8_t command,
                                    uint8_t* out, size_t capacity) {
    return WithBytes(bus, out, capacity, [&](I2cBus& b, auto bytes) {
        return b.ReadBlockData(address7, command, bytes);
    });
}

int32_t corvane_bus_write_block_data(corvane_bus* bus, uint8_t address7, uint8_t command,
                                     const uint8_t* data, size_t count) {
    return WithBytes(bus, data, count, [&](I2cBus& b, auto bytes) {
        return b.WriteBlockData(address7, command, bytes);
    });
}

int32_t corvane_bus_block_process_call(corvane_bus* bus, uint8_t address7, uint8_t command,
                                       const uint8_t* data, size_t count, uint8_t* out,
                                       size_t capacity) {
    return WithBytes(bus, data, count, [&](I2cBus& b, auto bytes) {
        std::span<std::uint8_t> outBytes;
        if (!Span(out, capacity, outBytes)) return I2CBUS_INVALID_ARGUMENT;
        return b.BlockProcessCall(address7, command, bytes, outBytes);
    });
}

int32_t corvane_bus_read_i2c_block_data(corvane_bus* bus, uint8_t address7, uint8_t command,
                                        uint8_t* out, size_t count) {
    return WithBytes(bus, out, count, [&](I2cBus& b, auto bytes) {
        return b.ReadI2cBlockData(address7, command, bytes);
    });
}

int32_t corvane_bus_write_i2c_block_data(corvane_bus* bus, uint8_t address7, uint8_t command,
                                         const uint8_t* data, size_t count) {
    return WithBytes(bus, data, count, [&](I2cBus& b, auto bytes) {
        return b.WriteI2cBlockData(address7, command, bytes);
    });
}

}  // extern "C"

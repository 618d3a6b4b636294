// SPDX-License-Identifier: MIT
// The register transactions of Registers.hpp.
#include "Registers.hpp"

#include <fmt/format.h>

#include "Bus.hpp"
#include "Numbers.hpp"

namespace CorvaneTool {

namespace {

constexpr std::size_t kMaxBlock = Corvane::I2cBus::kMaxBlock;

// "b, w, s or i".
std::string Letters(std::string_view allowed) {
    std::string text;
    for (std::size_t i = 0; i < allowed.size(); ++i) {
        if (i > 0) text += i + 1 == allowed.size() ? " or " : ", ";
        text += allowed[i];
    }
    return text;
}

}  // namespace

std::optional<Mode> AsMode(std::string_view text) {
    if (text.empty() || text.size() > 2 || (text.size() == 2 && text[1] != 'p')) {
        return std::nullopt;
    }
    if (std::string_view("bwWcsi").find(text[0]) == std::string_view::npos) return std::nullopt;
    return Mode{text[0], text.size() == 2};
}

Mode ParseMode(std::string_view text, std::string_view allowed, bool pec) {
    auto mode = AsMode(text);
    if (!mode || allowed.find(mode->kind) == std::string_view::npos) {
        throw UsageError(
            fmt::format("MODE must be {} (p appended for PEC), not '{}'", Letters(allowed), text));
    }
    mode->pec = mode->pec || pec;
    if (mode->pec && mode->kind == 'i') {
        throw UsageError("I2C block transfers (mode i) carry no PEC");
    }
    return *mode;
}

std::string ModeName(const Mode& mode) {
    return std::string(1, mode.kind) + (mode.pec ? "p" : "");
}

RegisterRead ParseRegisterRead(const std::string& address, const std::string& reg,
                               const std::string& mode, const std::string& count, bool pec,
                               bool allAddresses) {
    RegisterRead read;
    read.address7 = ParseAddress(address, allAddresses);
    if (!reg.empty()) read.reg = ParseByte(reg, "REG");
    read.mode = ParseMode(mode.empty() ? "b" : mode, "bwcsi", pec);
    if (!count.empty()) {
        if (read.mode.kind != 'i') {
            throw UsageError(
                "N goes with mode i; an SMBus block's length is the device's count byte");
        }
        read.count = ParseNumber(count, "N", 1, kMaxBlock);
    }
    return read;
}

Json ReadRegister(Corvane::I2cBus& bus, const RegisterRead& read) {
    const std::uint8_t address7 = read.address7;
    std::optional<std::int32_t> value;
    std::vector<std::uint8_t> block;
    if (!read.reg) {
        value = BusValue(bus.ReadByte(address7), address7);
    } else if (read.mode.kind == 'b') {
        value = BusValue(bus.ReadByteData(address7, *read.reg), address7);
    } else if (read.mode.kind == 'w') {
        value = BusValue(bus.ReadWordData(address7, *read.reg), address7);
    } else if (read.mode.kind == 'c') {
        BusValue(bus.WriteByte(address7, *read.reg), address7);
        value = BusValue(bus.ReadByte(address7), address7);
    } else if (read.mode.kind == 's') {
        block.resize(kMaxBlock);
        block.resize(static_cast<std::size_t>(
            BusValue(bus.ReadBlockData(address7, *read.reg, block), address7)));
    } else {
        block.resize(read.count);
        BusValue(bus.ReadI2cBlockData(address7, *read.reg, block), address7);
    }
    Json result{{"address", address7},
                {"register", read.reg ? Json(*read.reg) : Json()},
                {"mode", read.reg ? ModeName(read.mode) : "receive"}};
    if (value) {
        result["value"] = *value;
    } else {
        result["data"] = block;
    }
    return result;
}

RegisterWrite ParseRegisterWrite(const std::string& address, const std::string& reg,
                                 std::vector<std::string> values, const std::string& mask, bool pec,
                                 bool readBack) {
    RegisterWrite write;
    write.address7 = ParseAddress(address);
    write.reg = ParseByte(reg, "REG");
    std::string modeText = values.empty() ? "c" : "b";
    if (!values.empty() && AsMode(values.back())) {
        modeText = values.back();
        values.pop_back();
    }
    const Mode mode = ParseMode(modeText, "bwcsi", pec);
    write.mode = mode;
    if (mode.kind == 'c' && !values.empty()) throw UsageError("mode c writes no VALUE");
    if (mode.kind != 'c' && values.empty()) {
        throw UsageError(fmt::format("mode {} needs a VALUE", mode.kind));
    }
    if ((mode.kind == 'b' || mode.kind == 'w') && values.size() > 1) {
        throw UsageError("several VALUEs need mode s or i");
    }
    if (values.size() > kMaxBlock) throw UsageError("a block holds at most 32 VALUEs");
    const unsigned widest = mode.kind == 'w' ? 0xFFFF : 0xFF;
    if (!mask.empty()) {
        if (mode.kind != 'b' && mode.kind != 'w') throw UsageError("-m goes with modes b and w");
        write.mask = ParseNumber(mask, "MASK", 1, widest);
    }
    if (readBack && mode.kind != 'b' && mode.kind != 'w' && mode.kind != 'c') {
        throw UsageError("-r reads back modes b, w and c");
    }
    if (mode.kind == 'b' || mode.kind == 'w') {
        write.value = ParseNumber(values[0], "VALUE", 0, widest);
    } else {
        write.bytes = ParseBytes(values, "VALUE");
    }
    return write;
}

Json WriteRegister(Corvane::I2cBus& bus, RegisterWrite& write) {
    const std::uint8_t address7 = write.address7;
    const std::uint8_t reg = write.reg;
    const char kind = write.mode.kind;
    if (write.mask) {  // i2cset -m: only the mask's bits change
        const unsigned widest = kind == 'w' ? 0xFFFF : 0xFF;
        const std::int32_t old =
            kind == 'w' ? bus.ReadWordData(address7, reg) : bus.ReadByteData(address7, reg);
        if (old < 0) {
            throw Failure(old, fmt::format("cannot read the old value of {} for -m: {}", Hex(reg),
                                           Corvane::ResultCodeDescription(old)));
        }
        write.value =
            (write.value & *write.mask) | (static_cast<unsigned>(old) & ~*write.mask & widest);
    }
    if (kind == 'w') {
        write.bytes = {static_cast<std::uint8_t>(write.value & 0xFF),
                       static_cast<std::uint8_t>(write.value >> 8)};
    } else if (kind == 'b') {
        write.bytes = {static_cast<std::uint8_t>(write.value)};
    }
    std::int32_t result = 0;
    switch (kind) {
        case 'c':
            result = bus.WriteByte(address7, reg);
            break;
        case 'b':
            result = bus.WriteByteData(address7, reg, write.bytes[0]);
            break;
        case 'w':
            result = bus.WriteWordData(address7, reg, static_cast<std::uint16_t>(write.value));
            break;
        case 's':
            result = bus.WriteBlockData(address7, reg, write.bytes);
            break;
        default:
            result = bus.WriteI2cBlockData(address7, reg, write.bytes);
            break;
    }
    BusValue(result, address7);
    return {{"address", address7},
            {"register", reg},
            {"mode", ModeName(write.mode)},
            {"written", write.bytes}};
}

}  // namespace CorvaneTool

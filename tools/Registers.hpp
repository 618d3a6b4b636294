// SPDX-License-Identifier: MIT
#pragma once

// Register access in i2c-tools' modes (i2cget, i2cset): the arguments as
// typed, checked before anything is sent, and the transactions on a bus.
// `get`, `set`, `dump` and the web interface's bus page share them.

#include <corvane/I2cBus.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Tool.hpp"

namespace CorvaneTool {

// An i2c-tools transaction mode: b byte, w word, W word at even registers
// (i2cdump), c write byte / read byte (i2cdump: consecutive bytes), s SMBus
// block, i I2C block; a trailing p asks for PEC as in i2c-tools.
struct Mode {
    char kind = 'b';
    bool pec = false;
};

std::optional<Mode> AsMode(std::string_view text);
// UsageError for a mode not among `allowed` ("bwcsi").
Mode ParseMode(std::string_view text, std::string_view allowed, bool pec);
std::string ModeName(const Mode& mode);

// An i2cget: ADDR [REG [MODE [N]]].
struct RegisterRead {
    std::uint8_t address7 = 0;
    std::optional<std::uint8_t> reg;  // none: a receive byte
    Mode mode;
    std::size_t count = Corvane::I2cBus::kMaxBlock;  // mode i
};

RegisterRead ParseRegisterRead(const std::string& address, const std::string& reg,
                               const std::string& mode, const std::string& count, bool pec,
                               bool allAddresses);
// {"address", "register", "mode", and "value" or "data"}.
Json ReadRegister(Corvane::I2cBus& bus, const RegisterRead& read);

// An i2cset: ADDR REG [VALUE...] [MODE], with -m MASK.
struct RegisterWrite {
    std::uint8_t address7 = 0;
    std::uint8_t reg = 0;
    Mode mode;
    unsigned value = 0;  // modes b and w; after the mask once written
    std::vector<std::uint8_t> bytes;
    std::optional<unsigned> mask;
};

// `values` as i2cset takes them: the mode, when given, last.
RegisterWrite ParseRegisterWrite(const std::string& address, const std::string& reg,
                                 std::vector<std::string> values, const std::string& mask, bool pec,
                                 bool readBack);
// {"address", "register", "mode", "written": the bytes sent after REG}.
Json WriteRegister(Corvane::I2cBus& bus, RegisterWrite& write);

}  // namespace CorvaneTool

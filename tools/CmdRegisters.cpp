// get, set, dump: register access with i2cget's, i2cset's and i2cdump's
// argument order, modes and output, so that their users' habits and scripts
// carry over.

#include <fmt/format.h>
#include <CLI/CLI.hpp>

#include <algorithm>
#include <array>
#include <cctype>
#include <optional>
#include <utility>

#include "Bus.hpp"
#include "Numbers.hpp"
#include "Tool.hpp"

namespace CorvaneTool {

namespace {

constexpr std::size_t kMaxBlock = Corvane::I2cBus::kMaxBlock;
constexpr unsigned kRegisters = 256;

// An i2c-tools transaction mode: b byte, w word, c write byte / read byte,
// s SMBus block, i I2C block; a trailing p asks for PEC as in i2c-tools.
struct Mode {
    char kind = 'b';
    bool pec = false;
};

std::optional<Mode> AsMode(std::string_view text) {
    if (text.empty() || text.size() > 2 || (text.size() == 2 && text[1] != 'p')) {
        return std::nullopt;
    }
    if (std::string_view("bwcsi").find(text[0]) == std::string_view::npos) return std::nullopt;
    return Mode{text[0], text.size() == 2};
}

// "b, w, s or i".
std::string Letters(std::string_view allowed) {
    std::string text;
    for (std::size_t i = 0; i < allowed.size(); ++i) {
        if (i > 0) text += i + 1 == allowed.size() ? " or " : ", ";
        text += allowed[i];
    }
    return text;
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

// ---- get -------------------------------------------------------------------

struct GetArgs {
    std::string address;
    std::string reg;
    std::string mode;
    std::string count;
    bool pec = false;
};

void Get(Tool& tool, const GetArgs& args) {
    const std::uint8_t address7 = ParseAddress(args.address);
    std::optional<std::uint8_t> reg;
    if (!args.reg.empty()) reg = ParseByte(args.reg, "REG");
    const Mode mode = ParseMode(args.mode.empty() ? "b" : args.mode, "bwcsi", args.pec);
    std::size_t count = kMaxBlock;
    if (!args.count.empty()) {
        if (mode.kind != 'i') {
            throw UsageError(
                "N goes with mode i; an SMBus block's length is the device's count byte");
        }
        count = ParseNumber(args.count, "N", 1, kMaxBlock);
    }

    Corvane::I2cBus bus = OpenBus(tool, mode.pec, Use::Read);
    std::optional<std::int32_t> value;
    std::vector<std::uint8_t> block;
    if (!reg) {
        value = BusValue(bus.ReadByte(address7), address7);
    } else if (mode.kind == 'b') {
        value = BusValue(bus.ReadByteData(address7, *reg), address7);
    } else if (mode.kind == 'w') {
        value = BusValue(bus.ReadWordData(address7, *reg), address7);
    } else if (mode.kind == 'c') {
        BusValue(bus.WriteByte(address7, *reg), address7);
        value = BusValue(bus.ReadByte(address7), address7);
    } else if (mode.kind == 's') {
        block.resize(kMaxBlock);
        block.resize(
            static_cast<std::size_t>(BusValue(bus.ReadBlockData(address7, *reg, block), address7)));
    } else {
        block.resize(count);
        BusValue(bus.ReadI2cBlockData(address7, *reg, block), address7);
    }

    if (tool.WantsJson()) {
        Json result{{"address", address7},
                    {"register", reg ? Json(*reg) : Json()},
                    {"mode", reg ? ModeName(mode) : "receive"}};
        if (value) {
            result["value"] = *value;
        } else {
            result["data"] = block;
        }
        Tool::PrintJson(result);
    } else if (value) {
        fmt::print("{}\n", Hex(static_cast<unsigned>(*value), mode.kind == 'w' ? 4 : 2));
    } else {
        fmt::print("{}\n", ByteList(block));
    }
}

// ---- set -------------------------------------------------------------------

struct SetArgs {
    std::string address;
    std::string reg;
    std::vector<std::string> values;  // the mode, when given, last
    bool pec = false;
};

void Set(Tool& tool, const SetArgs& args) {
    const std::uint8_t address7 = ParseAddress(args.address);
    const std::uint8_t reg = ParseByte(args.reg, "REG");
    std::vector<std::string> texts = args.values;
    std::string modeText = texts.empty() ? "c" : "b";
    if (!texts.empty() && AsMode(texts.back())) {
        modeText = texts.back();
        texts.pop_back();
    }
    const Mode mode = ParseMode(modeText, "bwcsi", args.pec);
    if (mode.kind == 'c' && !texts.empty()) throw UsageError("mode c writes no VALUE");
    if (mode.kind != 'c' && texts.empty()) {
        throw UsageError(fmt::format("mode {} needs a VALUE", mode.kind));
    }
    if ((mode.kind == 'b' || mode.kind == 'w') && texts.size() > 1) {
        throw UsageError("several VALUEs need mode s or i");
    }
    if (texts.size() > kMaxBlock) throw UsageError("a block holds at most 32 VALUEs");
    std::vector<std::uint8_t> bytes;
    std::uint16_t word = 0;
    if (mode.kind == 'w') {
        word = static_cast<std::uint16_t>(ParseNumber(texts[0], "VALUE", 0, 0xFFFF));
        bytes = {static_cast<std::uint8_t>(word & 0xFF), static_cast<std::uint8_t>(word >> 8)};
    } else {
        bytes = ParseBytes(texts, "VALUE");
    }

    Corvane::I2cBus bus = OpenBus(tool, mode.pec);
    std::int32_t result = 0;
    switch (mode.kind) {
        case 'c':
            result = bus.WriteByte(address7, reg);
            break;
        case 'b':
            result = bus.WriteByteData(address7, reg, bytes[0]);
            break;
        case 'w':
            result = bus.WriteWordData(address7, reg, word);
            break;
        case 's':
            result = bus.WriteBlockData(address7, reg, bytes);
            break;
        default:
            result = bus.WriteI2cBlockData(address7, reg, bytes);
            break;
    }
    BusValue(result, address7);
    if (tool.WantsJson()) {
        Tool::PrintJson({{"address", address7},
                         {"register", reg},
                         {"mode", ModeName(mode)},
                         {"written", bytes}});
    }
}

// ---- dump ------------------------------------------------------------------

struct DumpArgs {
    std::string address;
    std::string mode;
    std::string first;
    std::string last;
    std::string range;
    bool pec = false;
};

// A register's value, or nothing when it could not be read (XX).
using Cell = std::optional<std::uint16_t>;

char AsciiCell(const Cell& cell) {
    if (!cell) return 'X';
    const unsigned byte = *cell & 0xFF;
    if (byte == 0x00 || byte == 0xFF) return '.';
    return byte < 0x20 || byte >= 0x7F ? '?' : static_cast<char>(byte);
}

// i2cdump's byte table: 16 registers a row with their characters; blanks
// outside FIRST..LAST. An SMBus block (`block`) ends at its length instead.
std::string ByteTable(const std::vector<Cell>& cells, unsigned first, unsigned last, bool block) {
    std::string table = "     0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f    0123456789abcdef\n";
    for (unsigned row = first / 16 * 16; row <= last; row += 16) {
        std::string hex = fmt::format("{:02x}: ", row);
        std::string ascii;
        for (unsigned r = row; r < row + 16; ++r) {
            const bool outside = r < first || r > last;
            hex += outside ? "   " : cells[r] ? fmt::format("{:02x} ", *cells[r]) : "XX ";
            if (outside && block) continue;
            ascii += outside ? ' ' : AsciiCell(cells[r]);
        }
        table += hex + "   " + ascii + "\n";
    }
    return table;
}

// i2cdump's word table: the word at each register, eight a row.
std::string WordTable(const std::vector<Cell>& cells, unsigned first, unsigned last) {
    std::string table = "     0,8  1,9  2,a  3,b  4,c  5,d  6,e  7,f\n";
    for (unsigned row = first / 8 * 8; row <= last; row += 8) {
        table += fmt::format("{:02x}: ", row);
        for (unsigned r = row; r < row + 8; ++r) {
            table += r < first || r > last ? "     "
                     : cells[r]            ? fmt::format("{:04x} ", *cells[r])
                                           : "XXXX ";
        }
        table += "\n";
    }
    return table;
}

// The failures a register may give while others answer: XX in the table.
// Anything else (the bridge gone, time-outs) ends the dump.
bool RegisterFailure(std::int32_t result) {
    return result == Corvane::I2C_NOT_ACKNOWLEDGED || result == Corvane::PEC_MISMATCH ||
           result == Corvane::I2CBUS_BLOCK_COUNT_INVALID || result == Corvane::I2CBUS_SHORT_READ;
}

void Dump(Tool& tool, DumpArgs args) {
    const std::uint8_t address7 = ParseAddress(args.address);
    // MODE may be left out: "dump 0x48 0x10 0x1f".
    if (!args.mode.empty() && !AsMode(args.mode) &&
        std::isdigit(static_cast<unsigned char>(args.mode[0]))) {
        if (!args.last.empty())
            throw UsageError(fmt::format("MODE must be b, w, s or i, not '{}'", args.mode));
        args.last = std::exchange(args.first, std::exchange(args.mode, ""));
    }
    const Mode mode = ParseMode(args.mode.empty() ? "b" : args.mode, "bwsi", args.pec);
    if (!args.range.empty()) {
        const std::size_t dash = args.range.find('-');
        if (!args.first.empty() || dash == std::string::npos) {
            throw UsageError("-r takes FIRST-LAST, instead of FIRST and LAST");
        }
        args.first = args.range.substr(0, dash);
        args.last = args.range.substr(dash + 1);
    }
    unsigned first = args.first.empty() ? 0 : ParseByte(args.first, "FIRST");
    unsigned last = args.last.empty() ? 0xFF : ParseByte(args.last, "LAST");
    if (mode.kind == 's' && !args.last.empty()) {
        throw UsageError("mode s reads one block: give its REG as FIRST, and no LAST");
    }
    if (mode.kind != 's' && first > last) throw UsageError("FIRST must not be above LAST");

    Corvane::I2cBus bus = OpenBus(tool, mode.pec, Use::Read);
    const Work work = Tool::TerminalWork();
    const auto stopAt = [&](unsigned reg) {
        work.StopPoint([&] {
            return fmt::format("interrupted at register {} of {} to {}; nothing shown", Hex(reg),
                               Hex(first), Hex(last));
        });
    };
    std::vector<Cell> cells(kRegisters);
    std::size_t failed = 0;
    std::int32_t firstError = 0;
    const auto take = [&](std::int32_t result) {
        if (result >= 0) return true;
        if (!RegisterFailure(result)) BusValue(result, address7);
        ++failed;
        if (firstError == 0) firstError = result;
        return false;
    };
    if (mode.kind == 's') {
        std::array<std::uint8_t, kMaxBlock> block{};
        const std::int32_t length =
            bus.ReadBlockData(address7, static_cast<std::uint8_t>(first), block);
        if (length < 0) BusValue(length, address7);
        for (std::int32_t i = 0; i < length; ++i)
            cells[static_cast<std::size_t>(i)] = block[static_cast<std::size_t>(i)];
        first = 0;
        last = static_cast<unsigned>(length) - 1;
    } else if (mode.kind == 'i') {
        for (unsigned at = first; at <= last; at += kMaxBlock) {
            stopAt(at);
            std::vector<std::uint8_t> block(std::min<std::size_t>(kMaxBlock, last + 1 - at));
            if (!take(bus.ReadI2cBlockData(address7, static_cast<std::uint8_t>(at), block)))
                continue;
            for (std::size_t i = 0; i < block.size(); ++i) cells[at + i] = block[i];
        }
    } else {
        for (unsigned r = first; r <= last; ++r) {
            stopAt(r);
            const auto reg = static_cast<std::uint8_t>(r);
            const std::int32_t value = mode.kind == 'w' ? bus.ReadWordData(address7, reg)
                                                        : bus.ReadByteData(address7, reg);
            if (take(value)) cells[r] = static_cast<std::uint16_t>(value);
        }
    }
    const std::size_t asked =
        mode.kind == 'i' ? (last - first + kMaxBlock) / kMaxBlock : last - first + 1;
    if (failed == asked) BusValue(firstError, address7);

    if (tool.WantsJson()) {
        Json values = Json::array();
        for (unsigned r = first; r <= last; ++r)
            values.push_back(cells[r] ? Json(*cells[r]) : Json());
        Tool::PrintJson({{"address", address7},
                         {"mode", ModeName(mode)},
                         {"first", first},
                         {"last", last},
                         {mode.kind == 'w' ? "words" : "data", values}});
    } else {
        fmt::print("{}", mode.kind == 'w' ? WordTable(cells, first, last)
                                          : ByteTable(cells, first, last, mode.kind == 's'));
    }
    if (failed > 0) {
        fmt::print(stderr, "corvane: {} read{} failed (XX): {}\n", failed, failed == 1 ? "" : "s",
                   Corvane::ResultCodeDescription(firstError));
    }
}

}  // namespace

void AddRegisterCommands(CLI::App& app, Tool& tool, Handlers& handlers) {
    const char* modes =
        "MODE: b byte data, w word data (little-endian, as SMBus sends it), c write byte then "
        "read byte, s SMBus block (the device's count byte gives the length), i I2C block; "
        "p appended (bp, wp, ...) or --pec asks for packet error checking.";

    auto getArgs = std::make_shared<GetArgs>();
    auto* get = app.add_subcommand(
        "get", "Read a register as i2cget does: ADDR alone reads a byte without a register");
    get->add_option("ADDR", getArgs->address, "7-bit target address")->required();
    get->add_option("REG", getArgs->reg, "register (command) byte");
    get->add_option("MODE", getArgs->mode, "b (default), w, c, s or i");
    get->add_option("N", getArgs->count, "mode i: bytes to read, 1 to 32 (default 32)");
    get->add_flag("--pec", getArgs->pec, "packet error checking");
    get->footer(modes);
    handlers[get] = [&tool, getArgs] { Get(tool, *getArgs); };

    auto setArgs = std::make_shared<SetArgs>();
    auto* set = app.add_subcommand(
        "set",
        "Write a register as i2cset does: VALUE... [MODE], MODE last (default b; without a "
        "VALUE only REG is sent)");
    set->add_option("ADDR", setArgs->address, "7-bit target address")->required();
    set->add_option("REG", setArgs->reg, "register (command) byte")->required();
    set->add_option("VALUE", setArgs->values,
                    "byte, word (mode w) or block bytes (modes s and i), then MODE");
    set->add_flag("--pec", setArgs->pec, "packet error checking");
    set->footer(modes);
    handlers[set] = [&tool, setArgs] { Set(tool, *setArgs); };

    auto dumpArgs = std::make_shared<DumpArgs>();
    auto* dump = app.add_subcommand(
        "dump", "Show registers FIRST to LAST (0x00 to 0xff) in i2cdump's table");
    dump->add_option("ADDR", dumpArgs->address, "7-bit target address")->required();
    dump->add_option("MODE", dumpArgs->mode, "b (default), w, s or i");
    dump->add_option("FIRST", dumpArgs->first, "first register; for mode s the block's register");
    dump->add_option("LAST", dumpArgs->last, "last register");
    dump->add_option("-r", dumpArgs->range, "FIRST-LAST, as i2cdump takes it")->type_name("RANGE");
    dump->add_flag("--pec", dumpArgs->pec, "packet error checking");
    dump->footer(
        "XX marks a register that could not be read. In the characters . is 0x00 or 0xff, ? "
        "another unprintable byte. Mode w shows the word read at each register; mode i reads "
        "32-byte blocks.");
    handlers[dump] = [&tool, dumpArgs] { Dump(tool, *dumpArgs); };
}

}  // namespace CorvaneTool

// SPDX-License-Identifier: MIT
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
#include "Registers.hpp"
#include "Tool.hpp"

namespace CorvaneTool {

namespace {

constexpr std::size_t kMaxBlock = Corvane::I2cBus::kMaxBlock;
constexpr unsigned kRegisters = 256;

// ---- get -------------------------------------------------------------------

// i2c-tools' -y (never ask), -f (force access to an address a kernel driver
// holds: no driver holds one on a bridge) and -a (every address).
struct I2cToolsFlags {
    bool yes = false;
    bool force = false;
    bool all = false;
};

void AddI2cToolsFlags(CLI::App* command, I2cToolsFlags& flags, bool force, bool all) {
    command->add_flag("-y", flags.yes, "accepted as i2c-tools take it; the tool never asks");
    if (force) {
        command->add_flag("-f", flags.force,
                          "accepted as i2c-tools take it; no kernel driver holds an address on "
                          "the bridge");
    }
    if (all) command->add_flag("-a", flags.all, "allow every address, 0x00 to 0x7f");
}

struct GetArgs {
    std::string address;
    std::string reg;
    std::string mode;
    std::string count;
    bool pec = false;
    I2cToolsFlags flags;
};

void Get(Tool& tool, const GetArgs& args) {
    const RegisterRead read =
        ParseRegisterRead(args.address, args.reg, args.mode, args.count, args.pec, args.flags.all);
    Corvane::I2cBus bus = OpenBus(tool, read.mode.pec, Use::Read);
    const Json result = ReadRegister(bus, read);
    if (tool.WantsJson()) {
        Tool::PrintJson(result);
    } else if (result.contains("value")) {
        fmt::print("{}\n", Hex(result["value"].get<unsigned>(), read.mode.kind == 'w' ? 4 : 2));
    } else {
        fmt::print("{}\n", ByteList(result["data"].get<std::vector<std::uint8_t>>()));
    }
}

// ---- set -------------------------------------------------------------------

struct SetArgs {
    std::string address;
    std::string reg;
    std::vector<std::string> values;  // the mode, when given, last
    std::string mask;
    bool readBack = false;
    bool pec = false;
    I2cToolsFlags flags;
};

// i2cset -r: what the register holds now, against what was written. i2cset's
// lines on stdout; a mismatch or a failed read exits with 1, as from i2cset.
void ReadBack(Tool& tool, Corvane::I2cBus& bus, std::uint8_t address7, std::uint8_t reg,
              const Mode& mode, unsigned written) {
    const std::int32_t read = mode.kind == 'w'   ? bus.ReadWordData(address7, reg)
                              : mode.kind == 'c' ? bus.ReadByte(address7)
                                                 : bus.ReadByteData(address7, reg);
    const int digits = mode.kind == 'w' ? 4 : 2;
    const bool matched = read >= 0 && static_cast<unsigned>(read) == written;
    if (tool.WantsJson()) {
        if (matched) {
            Tool::PrintJson({{"address", address7},
                             {"register", reg},
                             {"mode", ModeName(mode)},
                             {"written", written},
                             {"readback", read}});
        }
    } else if (read < 0) {
        fmt::print("Warning - readback failed\n");
    } else if (!matched) {
        fmt::print("Warning - data mismatch - wrote {}, read back {}\n", Hex(written, digits),
                   Hex(static_cast<unsigned>(read), digits));
    } else {
        fmt::print("Value {} written, readback matched\n", Hex(written, digits));
    }
    if (read < 0) BusValue(read, address7);
    if (!matched) {
        throw Failure(fmt::format("{} holds {}, not the {} written", Hex(reg),
                                  Hex(static_cast<unsigned>(read), digits), Hex(written, digits)));
    }
}

void Set(Tool& tool, const SetArgs& args) {
    RegisterWrite write =
        ParseRegisterWrite(args.address, args.reg, args.values, args.mask, args.pec, args.readBack);
    Corvane::I2cBus bus = OpenBus(tool, write.mode.pec);
    const Json result = WriteRegister(bus, write);
    if (args.readBack) {
        ReadBack(tool, bus, write.address7, write.reg, write.mode,
                 write.mode.kind == 'c' ? write.reg : write.value);
    } else if (tool.WantsJson()) {
        Tool::PrintJson(result);
    }
}

// ---- dump ------------------------------------------------------------------

struct DumpArgs {
    std::string address;
    std::string mode;
    std::string bank;
    std::string bankRegister;
    std::string range;
    bool pec = false;
    I2cToolsFlags flags;
};

// A register's value, or nothing when it could not be read (XX).
using Cell = std::optional<std::uint16_t>;

// A byte of the table, -1 for XX.
char AsciiCell(int byte) {
    if (byte < 0) return 'X';
    if (byte == 0x00 || byte == 0xFF) return '.';
    return byte < 0x20 || byte >= 0x7F ? '?' : static_cast<char>(byte);
}

// i2cdump's byte table: 16 registers a row with their characters; blanks
// outside FIRST..LAST. An SMBus block (`block`) ends at its length instead.
// Mode W (`pairs`) reads a word at each even register: its two bytes fill
// two cells, or both are XX.
std::string ByteTable(const std::vector<Cell>& cells, unsigned first, unsigned last, bool block,
                      bool pairs) {
    std::string table = "     0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f    0123456789abcdef\n";
    for (unsigned row = first / 16 * 16; row <= last; row += 16) {
        std::string hex = fmt::format("{:02x}: ", row);
        std::string ascii;
        for (unsigned r = row; r < row + 16; ++r) {
            const bool outside = r < first || r > last;
            const Cell& cell = pairs ? cells[r & ~1u] : cells[r];
            const int byte = !cell ? -1 : pairs && (r & 1) ? *cell >> 8 : *cell & 0xFF;
            hex += outside ? "   " : byte >= 0 ? fmt::format("{:02x} ", byte) : "XX ";
            if (outside && block) continue;
            ascii += outside ? ' ' : AsciiCell(byte);
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

// The registers FIRST-LAST of -r, as i2cdump takes them.
std::pair<unsigned, unsigned> DumpRange(const std::string& range, const Mode& mode) {
    const std::size_t dash = range.find('-');
    if (dash == std::string::npos) throw UsageError("-r takes FIRST-LAST: -r 0x10-0x1f");
    const unsigned first = ParseByte(range.substr(0, dash), "FIRST");
    const unsigned last = ParseByte(range.substr(dash + 1), "LAST");
    if (first > last) throw UsageError("FIRST must not be above LAST");
    if (mode.kind == 's') throw UsageError("mode s reads one block: no -r");
    if (mode.kind == 'W' && (first % 2 != 0 || last % 2 == 0)) {
        throw UsageError("mode W reads words at even registers: FIRST even, LAST odd");
    }
    return {first, last};
}

void Dump(Tool& tool, const DumpArgs& args) {
    const std::uint8_t address7 = ParseAddress(args.address, args.flags.all);
    const Mode mode = ParseMode(args.mode.empty() ? "b" : args.mode, "bwWsic", args.pec);
    // BANK: for mode s the block's register, for the others a register bank
    // selected through BANKREG (0x4e) while the dump runs; bank 0 selects none.
    const unsigned bank = args.bank.empty()  ? 0
                          : mode.kind == 's' ? ParseByte(args.bank, "BANK")
                                             : ParseNumber(args.bank, "BANK", 0, 15);
    if (mode.kind == 's' && !args.bankRegister.empty()) {
        throw UsageError("mode s takes its block's register as BANK, and no BANKREG");
    }
    const std::uint8_t bankRegister =
        args.bankRegister.empty() ? 0x4E : ParseByte(args.bankRegister, "BANKREG");
    // Named variables, not a structured binding: the lambdas below capture them.
    const auto range = args.range.empty() ? std::pair<unsigned, unsigned>(0x00, 0xFF)
                                          : DumpRange(args.range, mode);
    unsigned first = range.first;
    unsigned last = range.second;

    Corvane::I2cBus bus = OpenBus(tool, mode.pec, Use::Read);
    const Work work = Tool::TerminalWork();
    const auto stopAt = [&](unsigned reg) {
        work.StopPoint([&] {
            return fmt::format("interrupted at register {} of {} to {}; nothing shown", Hex(reg),
                               Hex(first), Hex(last));
        });
    };
    std::optional<std::uint8_t> oldBank;
    if (bank != 0 && mode.kind != 's') {
        const std::int32_t old = bus.ReadByteData(address7, bankRegister);
        const std::int32_t set =
            old < 0 ? old
                    : bus.WriteByteData(address7, bankRegister,
                                        static_cast<std::uint8_t>(bank | (old & 0xF0)));
        if (set < 0) {
            throw Failure(set, fmt::format("cannot select bank {} through register {}: {}", bank,
                                           Hex(bankRegister), Corvane::ResultCodeDescription(set)));
        }
        oldBank = static_cast<std::uint8_t>(old);
    }
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
    std::size_t asked = 0;
    if (mode.kind == 's') {
        std::array<std::uint8_t, kMaxBlock> block{};
        const std::int32_t length =
            BusValue(bus.ReadBlockData(address7, static_cast<std::uint8_t>(bank), block), address7);
        for (std::int32_t i = 0; i < length; ++i)
            cells[static_cast<std::size_t>(i)] = block[static_cast<std::size_t>(i)];
        first = 0;
        last = static_cast<unsigned>(length) - 1;
    } else if (mode.kind == 'i') {
        for (unsigned at = first; at <= last; at += kMaxBlock, ++asked) {
            stopAt(at);
            std::vector<std::uint8_t> block(std::min<std::size_t>(kMaxBlock, last + 1 - at));
            if (!take(bus.ReadI2cBlockData(address7, static_cast<std::uint8_t>(at), block)))
                continue;
            for (std::size_t i = 0; i < block.size(); ++i) cells[at + i] = block[i];
        }
    } else {
        // Mode c reads on from FIRST, which one written byte selects.
        if (mode.kind == 'c') {
            BusValue(bus.WriteByte(address7, static_cast<std::uint8_t>(first)), address7);
        }
        for (unsigned r = first; r <= last; r += mode.kind == 'W' ? 2 : 1, ++asked) {
            stopAt(r);
            const auto reg = static_cast<std::uint8_t>(r);
            const std::int32_t value = mode.kind == 'c'   ? bus.ReadByte(address7)
                                       : mode.kind == 'b' ? bus.ReadByteData(address7, reg)
                                                          : bus.ReadWordData(address7, reg);
            if (take(value)) cells[r] = static_cast<std::uint16_t>(value);
        }
    }
    if (oldBank) BusValue(bus.WriteByteData(address7, bankRegister, *oldBank), address7);

    if (tool.WantsJson()) {
        if (failed == asked && asked > 0) BusValue(firstError, address7);
        Json values = Json::array();
        for (unsigned r = first; r <= last; r += mode.kind == 'W' ? 2 : 1)
            values.push_back(cells[r] ? Json(*cells[r]) : Json());
        Tool::PrintJson({{"address", address7},
                         {"mode", ModeName(mode)},
                         {"first", first},
                         {"last", last},
                         {mode.kind == 'w' || mode.kind == 'W' ? "words" : "data", values}});
    } else {
        fmt::print("{}", mode.kind == 'w'
                             ? WordTable(cells, first, last)
                             : ByteTable(cells, first, last, mode.kind == 's', mode.kind == 'W'));
    }
    // What i2cdump prints is on stdout; that nothing answered is a failure here.
    if (failed == asked && asked > 0) BusValue(firstError, address7);
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
    AddI2cToolsFlags(get, getArgs->flags, true, true);
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
    AddI2cToolsFlags(set, setArgs->flags, false, false);
    set->add_option("-m", setArgs->mask,
                    "modes b and w: change only the bits of MASK (the others are read first)")
        ->type_name("MASK");
    set->add_flag("-r", setArgs->readBack,
                  "read the register back and compare, as i2cset -r (exit 1 on a mismatch)");
    set->add_option("ADDR", setArgs->address, "7-bit target address")->required();
    set->add_option("REG", setArgs->reg, "register (command) byte")->required();
    set->add_option("VALUE", setArgs->values,
                    "byte, word (mode w) or block bytes (modes s and i), then MODE");
    set->add_flag("--pec", setArgs->pec, "packet error checking");
    set->footer(modes);
    handlers[set] = [&tool, setArgs] { Set(tool, *setArgs); };

    auto dumpArgs = std::make_shared<DumpArgs>();
    auto* dump = app.add_subcommand(
        "dump", "Show a target's registers in i2cdump's table, as i2cdump takes its arguments");
    AddI2cToolsFlags(dump, dumpArgs->flags, false, true);
    dump->add_option("-r", dumpArgs->range, "only registers FIRST to LAST (0x00-0xff)")
        ->type_name("FIRST-LAST");
    dump->add_option("ADDR", dumpArgs->address, "7-bit target address")->required();
    dump->add_option("MODE", dumpArgs->mode, "b (default), w, W, s, i or c");
    dump->add_option("BANK", dumpArgs->bank,
                     "register bank 0 to 15 to select first (0: none); mode s: the block's "
                     "register");
    dump->add_option("BANKREG", dumpArgs->bankRegister,
                     "the register that selects the bank (default 0x4e)");
    dump->add_flag("--pec", dumpArgs->pec, "packet error checking");
    dump->footer(
        "MODE: b byte data, w word data (a word at each register), W word data at the even "
        "registers, s SMBus block, i I2C block (32-byte blocks), c consecutive bytes (one byte "
        "written selects FIRST, then bytes read on). XX marks a register that could not be "
        "read; when none could, the table is printed and the tool exits with 1. In the "
        "characters . is 0x00 or 0xff, ? another unprintable byte.");
    handlers[dump] = [&tool, dumpArgs] { Dump(tool, *dumpArgs); };
}

}  // namespace CorvaneTool

// SPDX-License-Identifier: MIT
// eeprom read, write, verify, fill: whole 24-series serial EEPROMs.

#include <fmt/format.h>
#include <CLI/CLI.hpp>

#include "Bus.hpp"
#include "Eeprom.hpp"
#include "Numbers.hpp"
#include "Tool.hpp"

namespace CorvaneTool {

namespace {

// 16 bytes a line from `offset` on; as hexdump does, a line equal to the one
// before becomes one "*" and the end's address closes the dump.
void HexDump(const std::vector<std::uint8_t>& data, std::size_t offset) {
    std::string previous;
    bool folded = false;
    for (std::size_t line = 0; line < data.size(); line += 16) {
        std::string hex;
        std::string text;
        for (std::size_t i = line; i < line + 16; ++i) {
            if (i < data.size()) {
                hex += fmt::format(" {:02x}", data[i]);
                text += data[i] >= 0x20 && data[i] < 0x7F ? static_cast<char>(data[i]) : '.';
            } else {
                hex += "   ";
            }
        }
        const std::string body = fmt::format("{}  |{}|", hex, text);
        if (body == previous && line + 16 <= data.size()) {
            if (!folded) fmt::print("*\n");
            folded = true;
            continue;
        }
        fmt::print("{:04x}:{}\n", offset + line, body);
        previous = body;
        folded = false;
    }
    fmt::print("{:04x}\n", offset + data.size());
}

// What the commands that take a file to or from standard output refuse.
void CheckStandardStream(const Tool& tool, const std::string& path) {
    if (path == "-" && tool.WantsJson()) {
        throw UsageError("with --json standard output carries the JSON document: give a FILE");
    }
}

struct ReadArgs {
    std::string address;
    std::string size;
    std::string offset;
    std::string length;
    std::string output;
};

void Read(Tool& tool, const ReadArgs& args) {
    const Eeprom eeprom = ParseEeprom(args.address, args.size, "64", "SIZE");
    const std::uint8_t address7 = eeprom.Address();
    const std::size_t offset = ParseEepromOffset(args.offset, eeprom);
    const std::size_t length = ParseEepromLength(args.length, eeprom, offset);
    CheckStandardStream(tool, args.output);
    // Before a read that takes seconds: a file that cannot be written fails now.
    std::optional<OutputFile> output;
    if (!args.output.empty()) output.emplace(args.output, "the output file");

    Corvane::I2cBus bus = OpenBus(tool, false, Use::Read);
    const std::vector<std::uint8_t> data =
        ReadEeprom(bus, eeprom, offset, length, Tool::TerminalWork());
    Json result{{"address", address7}, {"offset", offset}, {"size", data.size()}};
    if (output) {
        output->Commit(data);
        if (tool.WantsJson()) {
            result["file"] = args.output;
            Tool::PrintJson(result);
        } else if (!output->IsStandardOutput()) {
            fmt::print("read {} bytes from the EEPROM at {}{} into {}\n", data.size(),
                       Hex(address7), offset ? " from " + MemoryAddress(offset) : "", args.output);
        }
        return;
    }
    if (tool.WantsJson()) {
        result["data"] = data;
        Tool::PrintJson(result);
    } else {
        HexDump(data, offset);
    }
}

struct WriteArgs {
    std::string address;
    std::string input;
    std::string byte;
    std::string offset;
    std::string length;
    std::string page = "64";
    std::string size = "32K";
    bool noVerify = false;
};

Eeprom Part(const WriteArgs& args) {
    return ParseEeprom(args.address, args.size, args.page, "--size");
}

// The file's bytes, checked against the room from --offset on.
std::vector<std::uint8_t> Image(const WriteArgs& args, const Eeprom& eeprom, std::size_t start) {
    std::vector<std::uint8_t> data = ReadFileBytes(args.input, "the input file");
    CheckImageFits(data.size(), args.input, eeprom, start);
    return data;
}

void PrintWritten(const Tool& tool, const Json& result, const char* what) {
    if (tool.WantsJson()) {
        Tool::PrintJson(result);
        return;
    }
    const std::size_t pages = result["pages"];
    const std::size_t start = result["offset"];
    fmt::print("{} {} bytes {} the EEPROM at {}{} in {} page write{}{}\n", what,
               result["written"].get<std::size_t>(), std::string(what) == "wrote" ? "to" : "of",
               Hex(result["address"].get<unsigned>()), start ? " from " + MemoryAddress(start) : "",
               pages, pages == 1 ? "" : "s",
               result["verified"].get<bool>() ? ", read back and verified" : "");
}

void Write(Tool& tool, const WriteArgs& args) {
    const Eeprom eeprom = Part(args);
    const std::size_t start = ParseEepromOffset(args.offset, eeprom);
    const std::vector<std::uint8_t> data = Image(args, eeprom, start);
    Corvane::I2cBus bus = OpenBus(tool);
    PrintWritten(tool, WriteEeprom(bus, eeprom, start, data, !args.noVerify, Tool::TerminalWork()),
                 "wrote");
}

void Fill(Tool& tool, const WriteArgs& args) {
    const Eeprom eeprom = Part(args);
    const std::uint8_t byte = ParseByte(args.byte, "BYTE");
    const std::size_t start = ParseEepromOffset(args.offset, eeprom);
    const std::size_t length = ParseEepromLength(args.length, eeprom, start);
    const std::vector<std::uint8_t> data(length, byte);
    Corvane::I2cBus bus = OpenBus(tool);
    Json result =
        WriteEeprom(bus, eeprom, start, data, !args.noVerify, Tool::TerminalWork(), "eeprom fill");
    result["byte"] = byte;
    PrintWritten(tool, result, "filled");
}

void Verify(Tool& tool, const WriteArgs& args) {
    const Eeprom eeprom = Part(args);
    const std::size_t start = ParseEepromOffset(args.offset, eeprom);
    const std::vector<std::uint8_t> data = Image(args, eeprom, start);
    Corvane::I2cBus bus = OpenBus(tool, false, Use::Read);
    const Json result = VerifyEeprom(bus, eeprom, start, data, Tool::TerminalWork());
    const std::size_t differences = result["differences"];
    if (differences > 0) {
        throw Failure(
            fmt::format("the EEPROM at {} differs from {} in {} of {} bytes, first at {} ({} in "
                        "the file, {} in the EEPROM)",
                        Hex(eeprom.Address()), args.input, differences, data.size(),
                        MemoryAddress(result["first-difference"].get<std::size_t>()),
                        Hex(result["expected"].get<unsigned>()),
                        Hex(result["found"].get<unsigned>())),
            "DIFFERENT");
    }
    if (tool.WantsJson()) {
        Tool::PrintJson(result);
    } else {
        fmt::print("the EEPROM at {} holds the {} bytes of {}{}\n", Hex(eeprom.Address()),
                   data.size(), args.input, start ? " from " + MemoryAddress(start) : "");
    }
}

// The options `eeprom write`, `verify` and `fill` share.
void AddPartOptions(CLI::App& command, WriteArgs& args, bool writes) {
    command.add_option("ADDR", args.address, "7-bit address of the EEPROM")->required();
    command
        .add_option(
            "--offset", args.offset,
            writes ? "memory address to start at" : "memory address of the file's first byte")
        ->type_name("OFFSET");
    command.add_option("--size", args.size, "EEPROM size in bytes")
        ->type_name("SIZE")
        ->capture_default_str();
    if (!writes) return;
    command.add_option("--page", args.page, "page size of the EEPROM in bytes")
        ->type_name("BYTES")
        ->capture_default_str();
    command.add_flag("--no-verify", args.noVerify, "do not read back and compare");
}

}  // namespace

void AddEepromCommands(CLI::App& app, Tool& tool, Handlers& handlers) {
    auto* eeprom =
        app.add_subcommand("eeprom", "Read, program, compare or fill a 24-series serial EEPROM");
    eeprom->require_subcommand(1);
    eeprom->footer(
        "Up to 2 KiB the memory address is one byte and the block number is part of the I2C "
        "address (24C01 to 24C16); larger EEPROMs take a two-byte address (24C32 to 24C512). "
        "The hex dump shows a run of equal lines as one *, as hexdump does. Ctrl-C stops a "
        "long command between pages and says how far it got (exit status 130).");

    auto readArgs = std::make_shared<ReadArgs>();
    auto* read = eeprom->add_subcommand(
        "read", "Read an EEPROM of SIZE bytes, from --offset (default 0) to its end or --length");
    read->add_option("ADDR", readArgs->address, "7-bit address of the EEPROM")->required();
    read->add_option("SIZE", readArgs->size, "EEPROM size in bytes, e.g. 32768 or 32K")->required();
    read->add_option("--offset", readArgs->offset, "memory address to start at")
        ->type_name("OFFSET");
    read->add_option("--length", readArgs->length, "number of bytes to read")->type_name("BYTES");
    read->add_option("-o,--output", readArgs->output,
                     "write the bytes to FILE, - for standard output (default: hex dump)")
        ->type_name("FILE");
    handlers[read] = [&tool, readArgs] { Read(tool, *readArgs); };

    auto writeArgs = std::make_shared<WriteArgs>();
    auto* write = eeprom->add_subcommand(
        "write",
        "Program the EEPROM with the bytes of FILE from --offset (default 0) on, page by "
        "page, waiting for the acknowledge after each page; then read back and compare");
    AddPartOptions(*write, *writeArgs, true);
    write->add_option("-i,--input", writeArgs->input, "the bytes to write, - for standard input")
        ->type_name("FILE")
        ->required();
    handlers[write] = [&tool, writeArgs] { Write(tool, *writeArgs); };

    auto verifyArgs = std::make_shared<WriteArgs>();
    auto* verify = eeprom->add_subcommand(
        "verify",
        "Compare the EEPROM from --offset (default 0) on with the bytes of FILE, writing "
        "nothing; exit status 1 when they differ");
    AddPartOptions(*verify, *verifyArgs, false);
    verify
        ->add_option("-i,--input", verifyArgs->input, "the bytes to compare, - for standard input")
        ->type_name("FILE")
        ->required();
    handlers[verify] = [&tool, verifyArgs] { Verify(tool, *verifyArgs); };

    auto fillArgs = std::make_shared<WriteArgs>();
    auto* fill = eeprom->add_subcommand(
        "fill",
        "Write BYTE to every byte of the EEPROM from --offset (default 0) to its end or "
        "--length, page by page; then read back and compare");
    AddPartOptions(*fill, *fillArgs, true);
    fill->add_option("BYTE", fillArgs->byte, "the value, e.g. 0xff")->required();
    fill->add_option("--length", fillArgs->length, "number of bytes to fill")->type_name("BYTES");
    handlers[fill] = [&tool, fillArgs] { Fill(tool, *fillArgs); };
}

}  // namespace CorvaneTool

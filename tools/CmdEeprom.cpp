// eeprom read, eeprom write: whole 24-series serial EEPROMs.

#include <fmt/format.h>
#include <CLI/CLI.hpp>

#include <algorithm>
#include <array>
#include <fstream>
#include <iterator>

#include "Bus.hpp"
#include "Numbers.hpp"
#include "Terminal.hpp"
#include "Tool.hpp"

namespace CorvaneTool {

namespace {

constexpr std::size_t kLargestEeprom = 64 * 1024;
// Up to 2 KiB (24C16) the memory address is one byte and the 256-byte block
// number sits in the low bits of the I2C address; larger parts take two bytes.
constexpr std::size_t kLargestOneByteAddressing = 2048;
constexpr std::size_t kBlock = 256;
constexpr std::size_t kReadChunk = 1024;
constexpr std::size_t kLargestPage = 256;
// Polls for the acknowledge that ends a page's write cycle. A write cycle
// takes 5 to 10 ms and each poll a few USB frames.
constexpr int kAcknowledgePolls = 100;

// How one EEPROM is addressed.
class Eeprom {
  public:
    Eeprom(std::uint8_t address7, std::size_t size) : address7_(address7), size_(size) {
        const std::size_t blocks = (size + kBlock - 1) / kBlock;
        if (OneByte() && address7 + blocks - 1 > kLastAddress) {
            throw UsageError(fmt::format("an EEPROM of {} bytes at {} would reach past address {}",
                                         size, Hex(address7), Hex(kLastAddress)));
        }
    }

    std::size_t Size() const { return size_; }
    std::uint8_t Address() const { return address7_; }

    // The I2C address and memory address bytes for `offset`.
    std::uint8_t TargetFor(std::size_t offset) const {
        return OneByte() ? static_cast<std::uint8_t>(address7_ + offset / kBlock) : address7_;
    }
    std::vector<std::uint8_t> AddressBytes(std::size_t offset) const {
        if (OneByte()) return {static_cast<std::uint8_t>(offset % kBlock)};
        return {static_cast<std::uint8_t>(offset >> 8), static_cast<std::uint8_t>(offset & 0xFF)};
    }
    // Reads stay within one block where the block is part of the address.
    std::size_t ReadChunk(std::size_t offset) const {
        const std::size_t limit = OneByte() ? kBlock - offset % kBlock : kReadChunk;
        return std::min(limit, size_ - offset);
    }

    void Read(Tool& tool, std::size_t offset, std::span<std::uint8_t> into,
              Progress* progress = nullptr) const {
        Corvane::I2cBus bus = OpenBus(tool);
        for (std::size_t done = 0; done < into.size();) {
            const std::size_t at = offset + done;
            const std::size_t chunk = std::min(ReadChunk(at), into.size() - done);
            // A random read: the memory address, then a repeated START.
            BusValue(bus.WriteRead(TargetFor(at), AddressBytes(at), into.subspan(done, chunk)),
                     TargetFor(at));
            done += chunk;
            if (progress) progress->Update(done);
        }
    }

  private:
    bool OneByte() const { return size_ <= kLargestOneByteAddressing; }

    std::uint8_t address7_;
    std::size_t size_;
};

void WaitForWriteCycle(Tool& tool, std::uint8_t target) {
    for (int poll = 0; poll < kAcknowledgePolls; ++poll) {
        const std::int32_t result = BusProbe(tool.Bridge(), target, tool.Speed());
        if (result == 0) return;
        if (result != Corvane::I2C_NOT_ACKNOWLEDGED) BusCheck(result, target);
    }
    throw Failure(
        fmt::format("the EEPROM at {} did not acknowledge again after a page write "
                    "({} polls)",
                    Hex(target), kAcknowledgePolls));
}

// --offset: a memory address of the EEPROM.
std::size_t ParseOffset(const std::string& text, const Eeprom& eeprom) {
    return text.empty() ? 0 : ParseSize(text, "--offset", 0, eeprom.Size() - 1);
}

// "0x0040" for memory addresses.
std::string MemoryAddress(std::size_t offset) {
    return Hex(static_cast<unsigned>(offset), 4);
}

struct ReadArgs {
    std::string address;
    std::string size;
    std::string offset;
    std::string length;
    std::string output;
};

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

void ReadEeprom(Tool& tool, const ReadArgs& args) {
    const std::uint8_t address7 = ParseAddress(args.address);
    const Eeprom eeprom(address7, ParseSize(args.size, "SIZE", 1, kLargestEeprom));
    const std::size_t offset = ParseOffset(args.offset, eeprom);
    const std::size_t length = args.length.empty()
                                   ? eeprom.Size() - offset
                                   : ParseSize(args.length, "--length", 1, eeprom.Size() - offset);
    std::vector<std::uint8_t> data(length);
    {
        Progress progress("eeprom read", data.size());
        eeprom.Read(tool, offset, data, &progress);
    }
    Json result{{"address", address7}, {"offset", offset}, {"size", data.size()}};
    if (!args.output.empty()) {
        WriteFileBytes(args.output, data, "the output file");
        if (tool.WantsJson()) {
            result["file"] = args.output;
            Tool::PrintJson(result);
        } else {
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
    std::string offset;
    std::string page = "64";
    std::string size = "32K";
    bool noVerify = false;
};

void WriteEeprom(Tool& tool, const WriteArgs& args) {
    const std::uint8_t address7 = ParseAddress(args.address);
    const Eeprom eeprom(address7, ParseSize(args.size, "--size", 1, kLargestEeprom));
    const std::size_t page = ParseSize(args.page, "--page", 1, kLargestPage);
    if ((page & (page - 1)) != 0) throw UsageError("--page must be a power of two");

    const std::size_t start = ParseOffset(args.offset, eeprom);

    const std::vector<std::uint8_t> data = ReadFileBytes(args.input, "the input file");
    if (data.empty()) throw UsageError(fmt::format("{} is empty", args.input));
    if (data.size() > eeprom.Size() - start) {
        if (start == 0) {
            throw UsageError(fmt::format("{} has {} bytes, more than the EEPROM's {} (--size)",
                                         args.input, data.size(), eeprom.Size()));
        }
        throw UsageError(fmt::format(
            "{} has {} bytes; from {} (--offset) on, the EEPROM's {} bytes (--size) leave room "
            "for {}",
            args.input, data.size(), MemoryAddress(start), eeprom.Size(), eeprom.Size() - start));
    }

    Corvane::VrelUsbI2c& bridge = tool.Bridge();
    std::size_t pages = 0;
    {
        Progress progress("eeprom write", data.size());
        // A page write wraps around within its page: each ends at a page boundary.
        for (std::size_t done = 0; done < data.size(); ++pages) {
            const std::size_t at = start + done;
            const std::size_t length = std::min(page - at % page, data.size() - done);
            std::vector<std::uint8_t> bytes = eeprom.AddressBytes(at);
            bytes.insert(bytes.end(), data.begin() + static_cast<std::ptrdiff_t>(done),
                         data.begin() + static_cast<std::ptrdiff_t>(done + length));
            const std::uint8_t target = eeprom.TargetFor(at);
            BusWrite(bridge, target, bytes, tool.Speed());
            WaitForWriteCycle(tool, target);
            done += length;
            progress.Update(done);
        }
    }

    const bool verify = !args.noVerify;
    if (verify) {
        std::vector<std::uint8_t> back(data.size());
        {
            Progress progress("eeprom verify", back.size());
            eeprom.Read(tool, start, back, &progress);
        }
        const auto [wrote, read] = std::mismatch(data.begin(), data.end(), back.begin());
        if (wrote != data.end()) {
            const auto at = start + static_cast<std::size_t>(wrote - data.begin());
            throw Failure(fmt::format(
                "verification failed at byte {}: wrote {}, read back {} (is --page right for "
                "this EEPROM?)",
                MemoryAddress(at), Hex(*wrote), Hex(*read)));
        }
    }
    if (tool.WantsJson()) {
        Tool::PrintJson({{"address", address7},
                         {"offset", start},
                         {"written", data.size()},
                         {"pages", pages},
                         {"verified", verify}});
    } else {
        fmt::print("wrote {} bytes to the EEPROM at {}{} in {} page write{}{}\n", data.size(),
                   Hex(address7), start ? " from " + MemoryAddress(start) : "", pages,
                   pages == 1 ? "" : "s", verify ? ", read back and verified" : "");
    }
}

}  // namespace

void AddEepromCommands(CLI::App& app, Tool& tool, Handlers& handlers) {
    auto* eeprom = app.add_subcommand("eeprom", "Read or program a 24-series serial EEPROM");
    eeprom->require_subcommand(1);
    eeprom->footer(
        "Up to 2 KiB the memory address is one byte and the block number is part of the I2C "
        "address (24C01 to 24C16); larger EEPROMs take a two-byte address (24C32 to 24C512). "
        "The hex dump shows a run of equal lines as one *, as hexdump does.");

    auto readArgs = std::make_shared<ReadArgs>();
    auto* read = eeprom->add_subcommand(
        "read", "Read an EEPROM of SIZE bytes, from --offset (default 0) to its end or --length");
    read->add_option("ADDR", readArgs->address, "7-bit address of the EEPROM")->required();
    read->add_option("SIZE", readArgs->size, "EEPROM size in bytes, e.g. 32768 or 32K")->required();
    read->add_option("--offset", readArgs->offset, "memory address to start at")
        ->type_name("OFFSET");
    read->add_option("--length", readArgs->length, "number of bytes to read")->type_name("BYTES");
    read->add_option("-o,--output", readArgs->output, "write the bytes to FILE (default: hex dump)")
        ->type_name("FILE");
    handlers[read] = [&tool, readArgs] { ReadEeprom(tool, *readArgs); };

    auto writeArgs = std::make_shared<WriteArgs>();
    auto* write = eeprom->add_subcommand(
        "write",
        "Program the EEPROM with the bytes of FILE from --offset (default 0) on, page by "
        "page, waiting for the acknowledge after each page; then read back and compare");
    write->add_option("ADDR", writeArgs->address, "7-bit address of the EEPROM")->required();
    write->add_option("-i,--input", writeArgs->input, "the bytes to write")
        ->type_name("FILE")
        ->required();
    write->add_option("--offset", writeArgs->offset, "memory address of the file's first byte")
        ->type_name("OFFSET");
    write->add_option("--page", writeArgs->page, "page size of the EEPROM in bytes")
        ->type_name("BYTES")
        ->capture_default_str();
    write->add_option("--size", writeArgs->size, "EEPROM size in bytes; larger files are refused")
        ->type_name("SIZE")
        ->capture_default_str();
    write->add_flag("--no-verify", writeArgs->noVerify, "do not read back and compare");
    handlers[write] = [&tool, writeArgs] { WriteEeprom(tool, *writeArgs); };
}

}  // namespace CorvaneTool

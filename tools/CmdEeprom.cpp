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
        Corvane::VrelUsbI2c& bridge = tool.Bridge();
        for (std::size_t done = 0; done < into.size();) {
            const std::size_t at = offset + done;
            const std::size_t chunk = std::min(ReadChunk(at), into.size() - done);
            BusWrite(bridge, TargetFor(at), AddressBytes(at), tool.Speed());
            BusRead(bridge, TargetFor(at), into.subspan(done, chunk), tool.Speed());
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

struct ReadArgs {
    std::string address;
    std::string size;
    std::string output;
};

void HexDump(const std::vector<std::uint8_t>& data) {
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
        fmt::print("{:04x}:{}  |{}|\n", line, hex, text);
    }
}

void ReadEeprom(Tool& tool, const ReadArgs& args) {
    const std::uint8_t address7 = ParseAddress(args.address);
    const Eeprom eeprom(address7, ParseSize(args.size, "SIZE", 1, kLargestEeprom));
    std::vector<std::uint8_t> data(eeprom.Size());
    {
        Progress progress("eeprom read", data.size());
        eeprom.Read(tool, 0, data, &progress);
    }
    if (!args.output.empty()) {
        WriteFileBytes(args.output, data, "the output file");
        if (tool.WantsJson()) {
            Tool::PrintJson({{"address", address7}, {"size", data.size()}, {"file", args.output}});
        } else {
            fmt::print("read {} bytes from the EEPROM at {} into {}\n", data.size(), Hex(address7),
                       args.output);
        }
        return;
    }
    if (tool.WantsJson()) {
        Tool::PrintJson({{"address", address7}, {"size", data.size()}, {"data", data}});
    } else {
        HexDump(data);
    }
}

struct WriteArgs {
    std::string address;
    std::string input;
    std::string page = "64";
    std::string size = "32K";
    bool noVerify = false;
};

void WriteEeprom(Tool& tool, const WriteArgs& args) {
    const std::uint8_t address7 = ParseAddress(args.address);
    const Eeprom eeprom(address7, ParseSize(args.size, "--size", 1, kLargestEeprom));
    const std::size_t page = ParseSize(args.page, "--page", 1, kLargestPage);
    if ((page & (page - 1)) != 0) throw UsageError("--page must be a power of two");

    const std::vector<std::uint8_t> data = ReadFileBytes(args.input, "the input file");
    if (data.empty()) throw UsageError(fmt::format("{} is empty", args.input));
    if (data.size() > eeprom.Size()) {
        throw UsageError(fmt::format("{} has {} bytes, more than the EEPROM's {} (--size)",
                                     args.input, data.size(), eeprom.Size()));
    }

    Corvane::VrelUsbI2c& bridge = tool.Bridge();
    std::size_t pages = 0;
    {
        Progress progress("eeprom write", data.size());
        for (std::size_t offset = 0; offset < data.size(); ++pages) {
            const std::size_t length = std::min(page - offset % page, data.size() - offset);
            std::vector<std::uint8_t> report = eeprom.AddressBytes(offset);
            report.insert(report.end(), data.begin() + static_cast<std::ptrdiff_t>(offset),
                          data.begin() + static_cast<std::ptrdiff_t>(offset + length));
            const std::uint8_t target = eeprom.TargetFor(offset);
            BusWrite(bridge, target, report, tool.Speed());
            WaitForWriteCycle(tool, target);
            offset += length;
            progress.Update(offset);
        }
    }

    const bool verify = !args.noVerify;
    if (verify) {
        std::vector<std::uint8_t> back(data.size());
        {
            Progress progress("eeprom verify", back.size());
            eeprom.Read(tool, 0, back, &progress);
        }
        const auto [wrote, read] = std::mismatch(data.begin(), data.end(), back.begin());
        if (wrote != data.end()) {
            const auto at = static_cast<std::size_t>(wrote - data.begin());
            throw Failure(fmt::format(
                "verification failed at byte {}: wrote {}, read back {} (is --page right for "
                "this EEPROM?)",
                Hex(static_cast<unsigned>(at), 4), Hex(*wrote), Hex(*read)));
        }
    }
    if (tool.WantsJson()) {
        Tool::PrintJson({{"address", address7},
                         {"written", data.size()},
                         {"pages", pages},
                         {"verified", verify}});
    } else {
        fmt::print("wrote {} bytes to the EEPROM at {} in {} page writes{}\n", data.size(),
                   Hex(address7), pages, verify ? ", read back and verified" : "");
    }
}

}  // namespace

void AddEepromCommands(CLI::App& app, Tool& tool, Handlers& handlers) {
    auto* eeprom = app.add_subcommand("eeprom", "Read or program a whole 24-series serial EEPROM");
    eeprom->require_subcommand(1);
    eeprom->footer(
        "Up to 2 KiB the memory address is one byte and the block number is part of the I2C "
        "address (24C01 to 24C16); larger EEPROMs take a two-byte address (24C32 to 24C512).");

    auto readArgs = std::make_shared<ReadArgs>();
    auto* read = eeprom->add_subcommand("read", "Read SIZE bytes from address 0 on");
    read->add_option("ADDR", readArgs->address, "7-bit address of the EEPROM")->required();
    read->add_option("SIZE", readArgs->size, "EEPROM size in bytes, e.g. 32768 or 32K")->required();
    read->add_option("-o,--output", readArgs->output, "write the bytes to FILE (default: hex dump)")
        ->type_name("FILE");
    handlers[read] = [&tool, readArgs] { ReadEeprom(tool, *readArgs); };

    auto writeArgs = std::make_shared<WriteArgs>();
    auto* write = eeprom->add_subcommand(
        "write",
        "Program the EEPROM from address 0 with the bytes of FILE, page by page, "
        "waiting for the acknowledge after each page; then read back and compare");
    write->add_option("ADDR", writeArgs->address, "7-bit address of the EEPROM")->required();
    write->add_option("-i,--input", writeArgs->input, "the bytes to write")
        ->type_name("FILE")
        ->required();
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

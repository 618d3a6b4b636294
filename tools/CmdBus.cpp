// SPDX-License-Identifier: MIT
// scan, read, write, smbus read, smbus write.

#include <fmt/format.h>
#include <CLI/CLI.hpp>

#include <array>

#include "Bus.hpp"
#include "Numbers.hpp"
#include "Tool.hpp"

namespace CorvaneTool {

namespace {

constexpr std::uint32_t kMaxTransfer = 65'535;

struct ScanArgs {
    std::string first;
    std::string last;
    bool yes = false;  // i2cdetect's -y; the tool never asks
    bool read = false;
    bool quick = false;
    bool all = false;
};

void Scan(Tool& tool, const ScanArgs& args) {
    const ScanPlan plan = ParseScan(args.first, args.last, args.all, args.read, args.quick);
    Corvane::I2cBus bus = OpenBus(tool, false, Use::Read);
    const Json result = ScanBus(bus, plan);
    if (tool.WantsJson()) {
        Tool::PrintJson(result);
        return;
    }
    const std::vector<int> found = result["found"];
    // i2cdetect's table to the byte, trailing blanks included: all eight rows,
    // blank cells outside the range.
    fmt::print("     0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f\n");
    for (unsigned row = 0; row < 0x80; row += 16) {
        std::string line = fmt::format("{:02x}: ", row);
        for (unsigned address = row; address < row + 16; ++address) {
            if (address < plan.first || address > plan.last) {
                line += "   ";
            } else if (std::find(found.begin(), found.end(), static_cast<int>(address)) !=
                       found.end()) {
                line += fmt::format("{:02x} ", address);
            } else {
                line += "-- ";
            }
        }
        fmt::print("{}\n", line);
    }
}

void PrintData(const Tool& tool, std::uint8_t address7, const std::vector<std::uint8_t>& data) {
    if (tool.WantsJson()) {
        Tool::PrintJson({{"address", address7}, {"data", data}});
    } else {
        fmt::print("{}\n", ByteList(data));
    }
}

void PrintWritten(const Tool& tool, std::uint8_t address7, std::size_t count) {
    if (tool.WantsJson()) Tool::PrintJson({{"address", address7}, {"written", count}});
}

struct TransferArgs {
    std::string address;
    std::string reg;
    std::string count;
    std::vector<std::string> bytes;
    bool pec = false;
    bool addCount = false;
};

void Read(Tool& tool, const TransferArgs& args) {
    const std::uint8_t address7 = ParseAddress(args.address);
    std::vector<std::uint8_t> data(ParseNumber(args.count, "N", 1, kMaxTransfer));
    BusValue(OpenBus(tool, false, Use::Read).Read(address7, data), address7);
    PrintData(tool, address7, data);
}

void Write(Tool& tool, const TransferArgs& args) {
    const std::uint8_t address7 = ParseAddress(args.address);
    if (args.bytes.size() > kMaxTransfer) throw UsageError("at most 65535 bytes");
    const std::vector<std::uint8_t> data = ParseBytes(args.bytes, "BYTE");
    BusValue(OpenBus(tool).Write(address7, data), address7);
    PrintWritten(tool, address7, data.size());
}

void SmbusRead(Tool& tool, const TransferArgs& args) {
    const std::uint8_t address7 = ParseAddress(args.address);
    const std::uint8_t reg = ParseByte(args.reg, "REG");
    std::vector<std::uint8_t> data(
        args.count.empty() ? Corvane::I2cBus::kMaxBlock
                           : ParseNumber(args.count, "N", 1, Corvane::I2cBus::kMaxBlock));
    const std::int32_t count =
        OpenBus(tool, args.pec, Use::Read).ReadBlockData(address7, reg, data);
    if (count == Corvane::READ_OVERRUN) {
        throw Failure(count, fmt::format("the block from {} is longer than N ({} bytes)",
                                         Hex(address7), data.size()));
    }
    data.resize(static_cast<std::size_t>(BusValue(count, address7)));
    PrintData(tool, address7, data);
}

void SmbusWrite(Tool& tool, const TransferArgs& args) {
    const std::uint8_t address7 = ParseAddress(args.address);
    const std::uint8_t reg = ParseByte(args.reg, "REG");
    std::vector<std::uint8_t> data = ParseBytes(args.bytes, "BYTE");
    if (!args.addCount) {
        // The count byte as typed must say how many bytes follow it.
        const std::size_t follow = data.size() - 1;
        if (data.front() != follow) {
            throw UsageError(fmt::format(
                "the count byte says {}, but {} data byte{} follow{}; leave the count out and "
                "add --add-count to have it computed",
                data.front(), follow, follow == 1 ? "" : "s", follow == 1 ? "s" : ""));
        }
        data.erase(data.begin());
    }
    if (data.empty() || data.size() > Corvane::I2cBus::kMaxBlock) {
        throw UsageError(fmt::format("a block holds 1 to {} data bytes, not {}",
                                     Corvane::I2cBus::kMaxBlock, data.size()));
    }
    BusValue(OpenBus(tool, args.pec).WriteBlockData(address7, reg, data), address7);
    PrintWritten(tool, address7, data.size());
}

}  // namespace

void AddBusCommands(CLI::App& app, Tool& tool, Handlers& handlers) {
    auto scanArgs = std::make_shared<ScanArgs>();
    auto* scan = app.add_subcommand(
        "scan",
        "Show which addresses answer on the I2C bus, as i2cdetect does (0x08 to 0x77 "
        "unless FIRST and LAST are given)");
    scan->add_flag("-y", scanArgs->yes, "accepted for i2cdetect's sake; the tool never asks");
    auto* byRead = scan->add_flag("-r", scanArgs->read, "probe by a one-byte read everywhere");
    auto* byWrite =
        scan->add_flag("-q", scanArgs->quick, "probe by a zero-length write everywhere");
    byRead->excludes(byWrite);
    scan->add_flag("-a", scanArgs->all, "all addresses, 0x00 to 0x7f");
    scan->add_option("FIRST", scanArgs->first, "first address to probe");
    scan->add_option("LAST", scanArgs->last, "last address to probe");
    scan->footer(
        "Probes by a zero-length write; by a one-byte read at 0x30-0x37 and 0x50-0x5f, where a "
        "write could change an EEPROM or a latch.");
    handlers[scan] = [&tool, scanArgs] { Scan(tool, *scanArgs); };

    auto args = std::make_shared<TransferArgs>();
    auto* read = app.add_subcommand("read", "Read N bytes from the target at ADDR");
    read->add_option("ADDR", args->address, "7-bit target address")->required();
    read->add_option("N", args->count, "number of bytes, 1 to 65535")->required();
    handlers[read] = [&tool, args] { Read(tool, *args); };

    auto* write = app.add_subcommand("write", "Write bytes to the target at ADDR");
    write->add_option("ADDR", args->address, "7-bit target address")->required();
    write->add_option("BYTE", args->bytes, "bytes to write, e.g. 0x00 0x10 0xab")->required();
    handlers[write] = [&tool, args] { Write(tool, *args); };

    auto* smbus = app.add_subcommand("smbus", "SMBus block transfers, with packet error checking");
    smbus->require_subcommand(1);
    auto* smbusRead = smbus->add_subcommand(
        "read",
        "Block read: write register REG, then after a repeated start read the count byte and "
        "as many bytes as it says; prints those bytes");
    smbusRead->add_option("ADDR", args->address, "7-bit target address")->required();
    smbusRead->add_option("REG", args->reg, "register (command) byte")->required();
    smbusRead->add_option("N", args->count, "most bytes expected, 1 to 32 (default 32)");
    smbusRead->add_flag("--pec", args->pec, "check the packet error code");
    handlers[smbusRead] = [&tool, args] { SmbusRead(tool, *args); };

    auto* smbusWrite = smbus->add_subcommand(
        "write",
        "Block write: REG, the count byte (checked against the data, or computed with "
        "--add-count), 1 to 32 data bytes");
    smbusWrite->add_option("ADDR", args->address, "7-bit target address")->required();
    smbusWrite->add_option("REG", args->reg, "register (command) byte")->required();
    smbusWrite->add_option("BYTE", args->bytes, "the count byte, then the data")->required();
    smbusWrite->add_flag("--add-count", args->addCount,
                         "the BYTEs are the data only; the tool sends their count first");
    smbusWrite->add_flag("--pec", args->pec, "append the packet error code");
    handlers[smbusWrite] = [&tool, args] { SmbusWrite(tool, *args); };
}

}  // namespace CorvaneTool

// SPDX-License-Identifier: MIT
#include "Eeprom.hpp"

#include <fmt/format.h>

#include <algorithm>

#include "Bus.hpp"
#include "Numbers.hpp"

namespace CorvaneTool {

namespace {

constexpr std::size_t kLargestOneByteAddressing = 2048;
constexpr std::size_t kBlock = 256;
constexpr std::size_t kReadChunk = 1024;
// Polls for the acknowledge that ends a page's write cycle. A write cycle
// takes 5 to 10 ms and each poll a few USB frames.
constexpr int kAcknowledgePolls = 100;

void WaitForWriteCycle(Corvane::I2cBus& bus, std::uint8_t target) {
    for (int poll = 0; poll < kAcknowledgePolls; ++poll) {
        const std::int32_t result = bus.Quick(target);
        if (result == 0) return;
        if (result != Corvane::I2C_NOT_ACKNOWLEDGED) BusCheck(result, target);
    }
    throw Failure(
        fmt::format("the EEPROM at {} did not acknowledge again after a page write ({} polls)",
                    Hex(target), kAcknowledgePolls));
}

// Reads [offset, offset + into.size()), chunk by chunk, with `stopped` saying
// what a stop means after `done` bytes.
void ReadInto(Corvane::I2cBus& bus, const Eeprom& eeprom, std::size_t offset,
              std::span<std::uint8_t> into, const Work& work, std::string_view stage,
              const std::function<std::string(std::size_t)>& stopped) {
    for (std::size_t done = 0; done < into.size();) {
        work.StopPoint([&] { return stopped(done); });
        const std::size_t at = offset + done;
        const std::size_t chunk = std::min(eeprom.ReadChunk(at), into.size() - done);
        const std::uint8_t target = eeprom.TargetFor(at);
        // A random read: the memory address, then a repeated START.
        BusValue(bus.WriteRead(target, eeprom.AddressBytes(at), into.subspan(done, chunk)), target);
        done += chunk;
        work.Report(stage, done, into.size());
    }
}

// "0x1c00 of 0x8000 bytes" and where they start when not at 0.
std::string HowFar(std::size_t done, std::size_t total, std::size_t offset) {
    return fmt::format("{} of {} bytes{}", MemoryAddress(done), MemoryAddress(total),
                       offset ? " from " + MemoryAddress(offset) : "");
}

}  // namespace

Eeprom::Eeprom(std::uint8_t address7, std::size_t size, std::size_t page)
    : address7_(address7), size_(size), page_(page) {
    if (size_ == 0 || size_ > kLargest) {
        throw UsageError(fmt::format("an EEPROM holds 1 to {} bytes, not {}", kLargest, size_));
    }
    if (page_ == 0 || page_ > kLargestPage || (page_ & (page_ - 1)) != 0) {
        throw UsageError("--page must be a power of two up to 256");
    }
    const std::size_t blocks = (size + kBlock - 1) / kBlock;
    if (OneByte() && address7 + blocks - 1 > kLastAddress) {
        throw UsageError(fmt::format("an EEPROM of {} bytes at {} would reach past address {}",
                                     size, Hex(address7), Hex(kLastAddress)));
    }
}

bool Eeprom::OneByte() const {
    return size_ <= kLargestOneByteAddressing;
}

std::uint8_t Eeprom::TargetFor(std::size_t offset) const {
    return OneByte() ? static_cast<std::uint8_t>(address7_ + offset / kBlock) : address7_;
}

std::vector<std::uint8_t> Eeprom::AddressBytes(std::size_t offset) const {
    if (OneByte()) return {static_cast<std::uint8_t>(offset % kBlock)};
    return {static_cast<std::uint8_t>(offset >> 8), static_cast<std::uint8_t>(offset & 0xFF)};
}

std::size_t Eeprom::ReadChunk(std::size_t offset) const {
    // Reads stay within one block where the block is part of the address.
    const std::size_t limit = OneByte() ? kBlock - offset % kBlock : kReadChunk;
    return std::min(limit, size_ - offset);
}

Eeprom ParseEeprom(const std::string& address, const std::string& size, const std::string& page,
                   std::string_view sizeName) {
    const std::uint8_t address7 = ParseAddress(address);
    const std::size_t bytes = ParseSize(size, sizeName, 1, Eeprom::kLargest);
    return Eeprom(address7, bytes, ParseSize(page, "--page", 1, Eeprom::kLargestPage));
}

std::size_t ParseEepromOffset(const std::string& text, const Eeprom& eeprom) {
    return text.empty() ? 0 : ParseSize(text, "--offset", 0, eeprom.Size() - 1);
}

std::size_t ParseEepromLength(const std::string& text, const Eeprom& eeprom, std::size_t offset) {
    return text.empty() ? eeprom.Size() - offset
                        : ParseSize(text, "--length", 1, eeprom.Size() - offset);
}

void CheckImageFits(std::size_t size, const std::string& name, const Eeprom& eeprom,
                    std::size_t start) {
    if (size == 0) throw UsageError(fmt::format("{} is empty", name));
    if (size <= eeprom.Size() - start) return;
    if (start == 0) {
        throw UsageError(fmt::format("{} has {} bytes, more than the EEPROM's {} (--size)", name,
                                     size, eeprom.Size()));
    }
    throw UsageError(fmt::format(
        "{} has {} bytes; from {} (--offset) on, the EEPROM's {} bytes (--size) leave room for {}",
        name, size, MemoryAddress(start), eeprom.Size(), eeprom.Size() - start));
}

std::string MemoryAddress(std::size_t offset) {
    return Hex(static_cast<unsigned>(offset), 4);
}

std::vector<std::uint8_t> ReadEeprom(Corvane::I2cBus& bus, const Eeprom& eeprom, std::size_t offset,
                                     std::size_t length, const Work& work) {
    std::vector<std::uint8_t> data(length);
    ReadInto(bus, eeprom, offset, data, work, "eeprom read", [&](std::size_t done) {
        return fmt::format("interrupted after {}; nothing was kept", HowFar(done, length, offset));
    });
    return data;
}

Json WriteEeprom(Corvane::I2cBus& bus, const Eeprom& eeprom, std::size_t offset,
                 std::span<const std::uint8_t> data, bool verify, const Work& work,
                 std::string_view stage) {
    const std::size_t page = eeprom.Page();
    std::size_t pages = 0;
    for (std::size_t done = 0; done < data.size(); ++pages) {
        work.StopPoint([&] {
            return fmt::format("interrupted after {}; the EEPROM holds the new data up to {}",
                               HowFar(done, data.size(), offset),
                               offset ? MemoryAddress(offset + done) : "there");
        });
        const std::size_t at = offset + done;
        const std::size_t length = std::min(page - at % page, data.size() - done);
        std::vector<std::uint8_t> bytes = eeprom.AddressBytes(at);
        bytes.insert(bytes.end(), data.begin() + static_cast<std::ptrdiff_t>(done),
                     data.begin() + static_cast<std::ptrdiff_t>(done + length));
        const std::uint8_t target = eeprom.TargetFor(at);
        BusValue(bus.Write(target, bytes), target);
        WaitForWriteCycle(bus, target);
        done += length;
        work.Report(stage, done, data.size());
    }
    if (verify) {
        std::vector<std::uint8_t> back(data.size());
        ReadInto(bus, eeprom, offset, back, work, "eeprom verify", [&](std::size_t done) {
            return fmt::format("interrupted while reading back after {}; all was written",
                               HowFar(done, data.size(), offset));
        });
        const auto [wrote, read] = std::mismatch(data.begin(), data.end(), back.begin());
        if (wrote != data.end()) {
            const auto at = offset + static_cast<std::size_t>(wrote - data.begin());
            throw Failure(fmt::format(
                "verification failed at byte {}: wrote {}, read back {} (is --page right for "
                "this EEPROM?)",
                MemoryAddress(at), Hex(*wrote), Hex(*read)));
        }
    }
    return {{"address", eeprom.Address()},
            {"offset", offset},
            {"written", data.size()},
            {"pages", pages},
            {"verified", verify}};
}

Json VerifyEeprom(Corvane::I2cBus& bus, const Eeprom& eeprom, std::size_t offset,
                  std::span<const std::uint8_t> data, const Work& work) {
    std::vector<std::uint8_t> back(data.size());
    ReadInto(bus, eeprom, offset, back, work, "eeprom verify", [&](std::size_t done) {
        return fmt::format("interrupted after comparing {}", HowFar(done, data.size(), offset));
    });
    std::size_t differences = 0;
    Json first;
    Json expected;
    Json found;
    for (std::size_t i = 0; i < data.size(); ++i) {
        if (data[i] == back[i]) continue;
        if (differences++ == 0) {
            first = offset + i;
            expected = data[i];
            found = back[i];
        }
    }
    return {{"address", eeprom.Address()},
            {"offset", offset},
            {"compared", data.size()},
            {"differences", differences},
            {"first-difference", first},
            {"expected", expected},
            {"found", found}};
}

}  // namespace CorvaneTool

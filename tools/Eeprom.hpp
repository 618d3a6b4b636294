// SPDX-License-Identifier: MIT
#pragma once

// 24-series serial EEPROMs on the bridge's bus: reading, page writing,
// comparing and filling, with progress and a stop between pages. Front ends
// call these with a bus on a bridge handle and print the results their own way.

#include <corvane/I2cBus.hpp>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "Tool.hpp"

namespace CorvaneTool {

// How one EEPROM is addressed: up to 2 KiB (24C01 to 24C16) the memory
// address is one byte and the 256-byte block number is part of the I2C
// address; larger ones (24C32 to 24C512) take a two-byte address.
class Eeprom {
  public:
    static constexpr std::size_t kLargest = 64 * 1024;
    static constexpr std::size_t kLargestPage = 256;

    // UsageError for a size or page that cannot be, or blocks past 0x77.
    Eeprom(std::uint8_t address7, std::size_t size, std::size_t page = 64);

    std::uint8_t Address() const { return address7_; }
    std::size_t Size() const { return size_; }
    std::size_t Page() const { return page_; }

    // The I2C address and the memory address bytes for `offset`.
    std::uint8_t TargetFor(std::size_t offset) const;
    std::vector<std::uint8_t> AddressBytes(std::size_t offset) const;
    // The most bytes one read from `offset` may take.
    std::size_t ReadChunk(std::size_t offset) const;

  private:
    bool OneByte() const;

    std::uint8_t address7_;
    std::size_t size_;
    std::size_t page_;
};

// The EEPROM as typed: ADDR, its size (named `sizeName` in a refusal: SIZE,
// --size) and page size; UsageError for one that cannot be.
Eeprom ParseEeprom(const std::string& address, const std::string& size, const std::string& page,
                   std::string_view sizeName);
// --offset (0 when empty) and --length (to the end when empty) within the EEPROM.
std::size_t ParseEepromOffset(const std::string& text, const Eeprom& eeprom);
std::size_t ParseEepromLength(const std::string& text, const Eeprom& eeprom, std::size_t offset);
// UsageError unless the `size` bytes of `name` fit from `start` to the end.
void CheckImageFits(std::size_t size, const std::string& name, const Eeprom& eeprom,
                    std::size_t start);

// "0x0040": a memory address as the tool prints it.
std::string MemoryAddress(std::size_t offset);

// `length` bytes from `offset`. Progress stage "eeprom read"; a stop says
// how far it got and that nothing was kept.
std::vector<std::uint8_t> ReadEeprom(Corvane::I2cBus& bus, const Eeprom& eeprom, std::size_t offset,
                                     std::size_t length, const Work& work);

// Writes `data` from `offset` on, page by page (each page ends at a page
// boundary, as the page buffer wraps within its page), waiting for the
// acknowledge that ends each write cycle; then, with `verify`, reads back and
// compares. Returns {"address", "offset", "written", "pages", "verified"}.
// A stop comes between pages and says up to where the EEPROM holds the new data.
Json WriteEeprom(Corvane::I2cBus& bus, const Eeprom& eeprom, std::size_t offset,
                 std::span<const std::uint8_t> data, bool verify, const Work& work,
                 std::string_view stage = "eeprom write");

// Compares the EEPROM from `offset` with `data` without writing:
// {"address", "offset", "compared", "differences", "first-difference"
// (null when equal), "expected", "found"}. Progress stage "eeprom verify".
Json VerifyEeprom(Corvane::I2cBus& bus, const Eeprom& eeprom, std::size_t offset,
                  std::span<const std::uint8_t> data, const Work& work);

}  // namespace CorvaneTool

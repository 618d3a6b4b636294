// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <utility>
#include <vector>

#include "corvane/Export.hpp"
#include "corvane/sim/I2cTarget.hpp"

namespace Corvane::Sim {

// An SMBus register device for the virtual I2C bus: each one-byte register
// index holds a block of bytes.
//
// Block write: [index] [count, when byte counts are on] data... [PEC, when on].
// The block replaces the register's contents unless its PEC is wrong. With
// byte counts and PEC on, a wrong PEC byte is not acknowledged.
// Block read: write [index], repeated START, read: [count] contents [PEC]; then
// 0xFF. The PEC covers every byte of the transaction, address bytes included.
// Bytes written before a repeated START are stored as a write without PEC
// (a process call reads back the word it wrote, a block process call on a
// block register the block it wrote). A write of the index alone
// (and its PEC) selects the register for reads without an index.
//
//   auto battery = std::make_shared<Corvane::Sim::SmbusDevice>(0x0B);
//   battery->EnablePec(true);
//   battery->SetRegister(0x20, {'C', 'o', 'r', 'v'});
//   device->AttachTarget(0x0B, battery);   // address byte 0x16 / 0x17
class CORVANE_SIM_API SmbusDevice : public I2cTarget {
  public:
    // The device needs its own 7-bit address for the PEC.
    explicit SmbusDevice(std::uint8_t address7);

    void EnablePec(bool on) { pec_ = on; }
    // Block reads start with the block's length and block writes carry one
    // after the index (blocks of up to 255 bytes).
    void EnableByteCount(bool on) { byteCount_ = on; }

    void SetRegister(std::uint8_t index, std::vector<std::uint8_t> contents);
    // A block register: reads of it start with the length and writes to it
    // carry one after the index, whether byte counts are on or not.
    void SetBlockRegister(std::uint8_t index, std::vector<std::uint8_t> contents);
    // A register never written is empty.
    std::vector<std::uint8_t> Register(std::uint8_t index) const;
    // What a device that stays powered keeps: every register it holds (empty
    // ones included), and the register a read without an index reads.
    const std::map<std::uint8_t, std::vector<std::uint8_t>>& Registers() const {
        return registers_;
    }
    void SetRegisters(std::map<std::uint8_t, std::vector<std::uint8_t>> registers) {
        registers_ = std::move(registers);
    }
    std::uint8_t Pointer() const { return pointer_; }
    void SetPointer(std::uint8_t index) { pointer_ = index; }

    struct BlockWrite {
        std::uint8_t registerIndex;
        std::vector<std::uint8_t> data;  // without byte count and PEC
        bool pecGood;                    // always true with PEC off
    };
    // Every block write received, in order, taken or not.
    const std::vector<BlockWrite>& Writes() const { return writes_; }
    std::size_t PecErrors() const { return pecErrors_; }

    // The SMBus PEC (CRC-8, polynomial 0x07, initial 0) of `crc` followed by `value`.
    static std::uint8_t PecStep(std::uint8_t crc, std::uint8_t value);

    bool Start(bool read) override;
    bool WriteByte(std::uint8_t value) override;
    std::uint8_t ReadByte() override;
    void Stop() override;

  private:
    std::uint8_t Pec(const std::vector<std::uint8_t>& bytes) const;
    bool Counted(std::uint8_t index) const;

    std::uint8_t address7_;
    bool pec_ = false;
    bool byteCount_ = false;
    std::map<std::uint8_t, std::vector<std::uint8_t>> registers_;
    std::set<std::uint8_t> blockRegisters_;
    std::uint8_t pointer_ = 0;  // register of a read without an index
    std::vector<BlockWrite> writes_;
    std::size_t pecErrors_ = 0;

    // The transaction on the bus: every byte so far, address bytes included.
    std::vector<std::uint8_t> transaction_;
    std::vector<std::uint8_t> written_;  // data bytes of the write phase
    bool reading_ = false;
    std::vector<std::uint8_t> out_;
    std::size_t outPosition_ = 0;
};

}  // namespace Corvane::Sim

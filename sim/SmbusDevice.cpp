// SPDX-License-Identifier: MIT
#include "corvane/sim/SmbusDevice.hpp"

#include <algorithm>

namespace Corvane::Sim {

SmbusDevice::SmbusDevice(std::uint8_t address7) : address7_(address7) {}

std::uint8_t SmbusDevice::PecStep(std::uint8_t crc, std::uint8_t value) {
    // Bit by bit, independent of the library's table-driven version.
    crc = static_cast<std::uint8_t>(crc ^ value);
    for (int bit = 0; bit < 8; ++bit) {
        crc = static_cast<std::uint8_t>((crc & 0x80) != 0 ? (crc << 1) ^ 0x07 : crc << 1);
    }
    return crc;
}

std::uint8_t SmbusDevice::Pec(const std::vector<std::uint8_t>& bytes) const {
    std::uint8_t crc = 0;
    for (std::uint8_t value : bytes) crc = PecStep(crc, value);
    return crc;
}

void SmbusDevice::SetRegister(std::uint8_t index, std::vector<std::uint8_t> contents) {
    registers_[index] = std::move(contents);
}

void SmbusDevice::SetBlockRegister(std::uint8_t index, std::vector<std::uint8_t> contents) {
    blockRegisters_.insert(index);
    SetRegister(index, std::move(contents));
}

bool SmbusDevice::Counted(std::uint8_t index) const {
    return byteCount_ || blockRegisters_.contains(index);
}

std::vector<std::uint8_t> SmbusDevice::Register(std::uint8_t index) const {
    const auto it = registers_.find(index);
    return it == registers_.end() ? std::vector<std::uint8_t>{} : it->second;
}

bool SmbusDevice::Start(bool read) {
    const auto addressByte = static_cast<std::uint8_t>((address7_ << 1) | (read ? 1 : 0));
    if (!read) {
        transaction_.assign(1, addressByte);
        written_.clear();
        reading_ = false;
        return true;
    }
    // A repeated START after the index keeps the write phase in the PEC.
    if (reading_ || written_.empty()) transaction_.clear();
    if (!written_.empty()) pointer_ = written_.front();
    if (written_.size() > 1) {
        // A process call: the register takes what was written, a block
        // register the block without its count (a block process call).
        std::vector<std::uint8_t> data(written_.begin() + 1, written_.end());
        if (Counted(pointer_)) {
            const std::size_t count = std::min<std::size_t>(data.front(), data.size() - 1);
            data = std::vector<std::uint8_t>(data.begin() + 1,
                                             data.begin() + 1 + static_cast<std::ptrdiff_t>(count));
        }
        registers_[pointer_] = std::move(data);
    }
    written_.clear();
    transaction_.push_back(addressByte);
    reading_ = true;

    out_.clear();
    const std::vector<std::uint8_t> contents = Register(pointer_);
    if (Counted(pointer_)) out_.push_back(static_cast<std::uint8_t>(contents.size()));
    out_.insert(out_.end(), contents.begin(), contents.end());
    if (pec_) {
        std::vector<std::uint8_t> covered = transaction_;
        covered.insert(covered.end(), out_.begin(), out_.end());
        out_.push_back(Pec(covered));
    }
    outPosition_ = 0;
    return true;
}

bool SmbusDevice::WriteByte(std::uint8_t value) {
    if (reading_) return false;
    transaction_.push_back(value);
    written_.push_back(value);
    // With a byte count the device knows where the PEC is and can refuse it.
    if (pec_ && written_.size() >= 2 && Counted(written_[0])) {
        const std::size_t pecAt = 2 + written_[1];
        if (written_.size() > pecAt + 1) return false;
        if (written_.size() == pecAt + 1) {
            const std::vector<std::uint8_t> covered(transaction_.begin(), transaction_.end() - 1);
            return Pec(covered) == value;
        }
    }
    return true;
}

std::uint8_t SmbusDevice::ReadByte() {
    return outPosition_ < out_.size() ? out_[outPosition_++] : std::uint8_t{0xFF};
}

void SmbusDevice::Stop() {
    const bool wasWrite = !reading_ && !written_.empty();
    reading_ = false;
    const std::vector<std::uint8_t> written = std::move(written_);
    written_.clear();
    if (!wasWrite) return;
    pointer_ = written.front();
    // The index alone (and its PEC) only selects the register.
    if (written.size() <= (pec_ ? 2u : 1u)) return;

    BlockWrite block{written.front(), {written.begin() + 1, written.end()}, true};
    if (pec_) {
        const std::vector<std::uint8_t> covered(transaction_.begin(), transaction_.end() - 1);
        block.pecGood = Pec(covered) == transaction_.back();
        block.data.pop_back();
        if (!block.pecGood) ++pecErrors_;
    }
    if (Counted(block.registerIndex) && !block.data.empty()) {
        const std::size_t count = std::min<std::size_t>(block.data.front(), block.data.size() - 1);
        block.data = std::vector<std::uint8_t>(
            block.data.begin() + 1, block.data.begin() + 1 + static_cast<std::ptrdiff_t>(count));
    }
    if (block.pecGood) registers_[block.registerIndex] = block.data;
    writes_.push_back(std::move(block));
}

}  // namespace Corvane::Sim

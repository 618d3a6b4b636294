// SPDX-License-Identifier: MIT
#include "corvane/sim/Eeprom.hpp"

#include <algorithm>
#include <stdexcept>

namespace Corvane::Sim {

Eeprom::Eeprom(std::size_t sizeBytes, std::size_t pageBytes)
    : memory_(sizeBytes, 0xFF), pageBytes_(pageBytes) {
    if (sizeBytes == 0 || sizeBytes > 65536 || pageBytes == 0 || pageBytes > sizeBytes) {
        throw std::invalid_argument("Eeprom: size 1..65536 and page 1..size expected");
    }
}

bool Eeprom::InRange(std::size_t offset, std::size_t count) const {
    return offset <= memory_.size() && count <= memory_.size() - offset;
}

bool Eeprom::Read(std::size_t offset, std::span<std::uint8_t> data) const {
    std::lock_guard lock(mutex_);
    if (!InRange(offset, data.size())) return false;
    std::copy_n(memory_.begin() + static_cast<std::ptrdiff_t>(offset), data.size(), data.begin());
    return true;
}

bool Eeprom::Write(std::size_t offset, std::span<const std::uint8_t> data) {
    std::lock_guard lock(mutex_);
    if (!InRange(offset, data.size())) return false;
    std::copy(data.begin(), data.end(), memory_.begin() + static_cast<std::ptrdiff_t>(offset));
    return true;
}

bool Eeprom::Start(bool read) {
    std::lock_guard lock(mutex_);
    if (now_ < busyUntil_) return false;  // still storing the last page
    // A repeated START ends a write without storing it, as the chip does.
    writing_ = !read;
    addressBytes_ = 0;
    pageDirty_ = false;
    return true;
}

bool Eeprom::WriteByte(std::uint8_t value) {
    std::lock_guard lock(mutex_);
    if (!writing_) return false;
    if (addressBytes_ == 0) {
        addressHigh_ = value;
        ++addressBytes_;
        return true;
    }
    if (addressBytes_ == 1) {
        counter_ = ((addressHigh_ << 8) | value) % memory_.size();
        ++addressBytes_;
        return true;
    }
    if (!pageDirty_) {
        pageBase_ = counter_ - counter_ % pageBytes_;
        // The last page of an odd-sized memory is shorter.
        const std::size_t length = std::min(pageBytes_, memory_.size() - pageBase_);
        page_.assign(length, 0);
        latched_.assign(length, false);
        pageDirty_ = true;
    }
    const std::size_t offset = counter_ - pageBase_;
    page_[offset] = value;
    latched_[offset] = true;
    // Within a page the counter wraps to the page's start.
    counter_ = pageBase_ + (offset + 1) % page_.size();
    return true;
}

std::uint8_t Eeprom::ReadByte() {
    std::lock_guard lock(mutex_);
    const std::uint8_t value = memory_[counter_];
    counter_ = (counter_ + 1) % memory_.size();
    return value;
}

void Eeprom::Stop() {
    std::lock_guard lock(mutex_);
    if (writing_ && pageDirty_) {
        CommitPage();
        busyUntil_ = now_ + writeCycle_;
    }
    writing_ = false;
    pageDirty_ = false;
}

void Eeprom::CommitPage() {
    for (std::size_t i = 0; i < page_.size(); ++i) {
        if (latched_[i]) memory_[pageBase_ + i] = page_[i];
    }
}

}  // namespace Corvane::Sim

// SPDX-License-Identifier: MIT
#include "functions/BusPacer.hpp"

#include <algorithm>
#include <atomic>

#include "platform/Pacing.hpp"

namespace Corvane {

namespace {

std::atomic<Pacing>& Choice() {
    static std::atomic<Pacing> choice{Pacing::Fixed};
    return choice;
}

// The first pause after a refusal or "not ready": the wire time of a tenth of
// a chunk, so an almost-right guess costs little.
constexpr std::uint32_t kFirstBackoffBytes = 6;
constexpr std::uint32_t kChunkBytes = 60;

}  // namespace

void SetPacing(Pacing pacing) {
    Choice().store(pacing, std::memory_order_relaxed);
}

Pacing GetPacing() {
    return Choice().load(std::memory_order_relaxed);
}

BusPacer::BusPacer(std::uint32_t speedHz, std::uint32_t delayMs)
    : pacing_(GetPacing()), speedHz_(speedHz), delayMs_(delayMs) {}

std::uint32_t BusPacer::WireUs(std::uint32_t bytes, std::uint32_t speedHz) {
    const std::uint64_t bitUs = std::uint64_t{bytes} * 9u * 1'000'000u;
    return static_cast<std::uint32_t>((bitUs + speedHz - 1) / speedHz);
}

void BusPacer::Handing() {
    if (pacing_ == Pacing::BusTime) handedUs_ = PaceClockUs();
}

void BusPacer::Until(std::uint64_t deadlineUs) {
    const std::uint64_t now = PaceClockUs();
    if (deadlineUs > now) PaceUs(static_cast<std::uint32_t>(deadlineUs - now));
}

void BusPacer::Backoff() {
    // Doubling up to the fixed pause (or a whole chunk's wire time, if that is
    // longer) keeps the refusal budget worth at least as much bus time as
    // with fixed pacing.
    const std::uint32_t cap = std::max(delayMs_ / 2 * 1000u, WireUs(kChunkBytes, speedHz_));
    if (backoffUs_ == 0) {
        backoffUs_ = WireUs(kFirstBackoffBytes, speedHz_);
    } else {
        backoffUs_ = std::min(backoffUs_ * 2, cap);
    }
    PaceUs(std::min(backoffUs_, cap));
}

void BusPacer::ChunkAccepted(std::uint32_t wireBytes) {
    if (pacing_ == Pacing::Fixed) return PaceMs(delayMs_);
    backoffUs_ = 0;
    Until(handedUs_ + WireUs(wireBytes, speedHz_));
}

void BusPacer::Refused() {
    if (pacing_ == Pacing::Fixed) return PaceMs(delayMs_ / 2);
    Backoff();
}

void BusPacer::NotReady() {
    notReady_ = true;
}

void BusPacer::BeforeData(std::uint32_t dueBytes) {
    const bool afterNotReady = notReady_;
    notReady_ = false;
    if (pacing_ == Pacing::Fixed) return PaceMs(afterNotReady ? delayMs_ / 2 : delayMs_);
    if (afterNotReady) return Backoff();
    backoffUs_ = 0;
    Until(handedUs_ + WireUs(dueBytes, speedHz_));
}

}  // namespace Corvane

// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "corvane/sim/I2cTarget.hpp"
#include "corvane/sim/VirtualDevice.hpp"

namespace Corvane::Sim {

// The chip's I2C master: carries out the bus commands against the attached
// targets, on the virtual clock.
//
// Bus time is real: one byte (address or data) takes 9 bit times at
// 12 MHz / (divider + 3), so a byte costs 750 * (divider + 3) ns. Work is
// done lazily: every command first brings the bus up to `now`.
//
// Writes are taken one chunk of up to 60 bytes at a time; the next chunk is
// refused (busy) until the previous one is on the bus. A byte the target does
// not acknowledge ends the transfer in state 0x25 with the write-failed flag
// set, and its remaining chunks are refused with that state; when it was the
// last byte of a write with STOP, the engine goes idle with the flag set.
// A transfer's failure stays visible until the next speed request (every
// transfer starts with one) or a cancel clears it. Reads fill a 60-byte
// buffer and hold the bus while it is full; get-data hands out a full buffer
// or the last, shorter one, and answers "not ready" before that.
class I2cEngine {
  public:
    // Engine states (status byte 8, write byte 2, get-data byte 2).
    static constexpr std::uint8_t kIdle = 0x00;
    static constexpr std::uint8_t kNotAcknowledged = 0x25;  // a NACK ended the transfer
    static constexpr std::uint8_t kWriting = 0x41;
    static constexpr std::uint8_t kWaitingForRestart = 0x45;
    static constexpr std::uint8_t kReading = 0x55;
    // Cancellation status (status byte 2) when a cancel was asked for.
    static constexpr std::uint8_t kCancelled = 0x10;        // a transfer was stopped
    static constexpr std::uint8_t kNothingToCancel = 0x11;  // the engine was idle
    // Speed answer (status byte 3) when a new speed was asked for.
    static constexpr std::uint8_t kSpeedTaken = 0x20;
    static constexpr std::uint8_t kSpeedRefused = 0x21;  // a transfer is still on
    // Get-data byte 3 while the data is not there yet.
    static constexpr std::uint8_t kNotReady = 0x7F;
    static constexpr std::uint8_t kDefaultDivider = 117;  // 100 kHz

    // Fills the I2C part of a status/set-parameters answer (bytes 2, 3, 8, 20)
    // and carries out its cancel and speed requests.
    void HandleStatus(const Report& command, Report& response, std::chrono::microseconds now);

    // Answers 0x90, 0x91, 0x93, 0x94 and 0x40 (response[0] already echoes the code).
    void HandleBusCommand(const Report& command, Report& response, std::chrono::microseconds now);

    // A chip reset: the engine goes idle, forgets its transfer and runs at 100 kHz.
    void Reset();

    // Puts a target at a 7-bit address; nullptr removes it.
    void AttachTarget(std::uint8_t address7, std::shared_ptr<I2cTarget> target);

    std::uint8_t State() const { return state_; }
    std::uint8_t Divider() const { return divider_; }

    // ---- faults (see VirtualDevice) -------------------------------------------
    void RefuseChunks(int count, std::uint8_t engineState);
    void RefuseStatusPolls(int count);
    void DelayReadData(int count);
    void OfferExtraBytes(std::uint8_t extra);
    void FailNextTransfer(std::uint8_t engineState);
    void CorruptReadTail(int count);
    void StretchClock(bool hold);
    void SkipNextRestartWait();
    void EndNextReadEarly();

  private:
    enum class Phase { Idle, Writing, Reading, WaitingRestart, Failed };

    void OnWriteChunk(const Report& command, Report& response, std::int64_t nowNs);
    void OnRead(const Report& command, Report& response, std::int64_t nowNs);
    void OnGetData(Report& response);

    void Begin(Phase phase, std::uint8_t address7, std::uint32_t total, std::int64_t nowNs);
    void Advance(std::int64_t nowNs);
    bool Due(std::int64_t nowNs);
    void AddressPhase();
    void NotAcknowledged();
    void Fail(std::uint8_t state);
    void ReleaseTarget();
    void Cancel();

    std::map<std::uint8_t, std::shared_ptr<I2cTarget>> targets_;

    Phase phase_ = Phase::Idle;
    std::uint8_t state_ = kIdle;
    bool writeFailed_ = false;  // status byte 20, bit 6
    std::uint8_t divider_ = kDefaultDivider;
    std::int64_t busNs_ = 0;  // how far the bus has got

    // The transfer on the bus.
    std::shared_ptr<I2cTarget> target_;
    bool targetHeld_ = false;  // addressed and not yet sent a STOP
    std::uint8_t address7_ = 0;
    bool noStop_ = false;
    bool addressed_ = false;
    std::uint32_t total_ = 0;
    std::uint32_t accepted_ = 0;  // write bytes taken from chunks
    std::uint32_t moved_ = 0;     // bytes that crossed the bus
    std::deque<std::uint8_t> pending_;
    std::deque<std::uint8_t> readBuffer_;

    // Faults.
    int refuseChunks_ = 0;
    std::uint8_t refuseState_ = kWriting;
    int refusePolls_ = 0;
    int delayReads_ = 0;
    std::uint8_t extraBytes_ = 0;
    std::optional<std::uint8_t> failNext_;
    int corruptTails_ = 0;
    bool stretched_ = false;
    bool skipRestartWait_ = false;
    bool endReadEarly_ = false;
};

}  // namespace Corvane::Sim

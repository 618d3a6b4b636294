// SPDX-License-Identifier: MIT
#include "I2cEngine.hpp"

#include <algorithm>

namespace Corvane::Sim {

namespace {

constexpr std::uint8_t kCancelRequest = 0x10;
constexpr std::uint8_t kSpeedRequest = 0x20;
constexpr std::uint8_t kWriteFailedFlag = 0x40;
constexpr std::uint8_t kRefused = 0x01;
constexpr std::size_t kChunkBytes = 60;

std::int64_t Nanoseconds(std::chrono::microseconds now) {
    return now.count() * 1000;
}

}  // namespace

I2cTarget::~I2cTarget() = default;

void I2cTarget::BusTime(std::chrono::nanoseconds) {}

void I2cEngine::AttachTarget(std::uint8_t address7, std::shared_ptr<I2cTarget> target) {
    if (target) {
        targets_[address7] = std::move(target);
    } else {
        targets_.erase(address7);
    }
}

// ---- bus progress ---------------------------------------------------------------

bool I2cEngine::Due(std::int64_t nowNs) {
    std::int64_t byteNs = 750 * (static_cast<std::int64_t>(divider_) + 3);
    // The addressed target may hold the clock after each byte.
    if (const auto found = targets_.find(address7_); found != targets_.end()) {
        byteNs += std::chrono::nanoseconds(found->second->ClockStretch()).count();
    }
    if (busNs_ + byteNs > nowNs) return false;
    busNs_ += byteNs;
    return true;
}

void I2cEngine::Advance(std::int64_t nowNs) {
    // Returns whenever the bus must wait: for time to pass, for the host, or
    // for a stretched clock. Waiting costs no bus time.
    auto wait = [&] { busNs_ = std::max(busNs_, nowNs); };
    while (phase_ == Phase::Writing || phase_ == Phase::Reading) {
        if (stretched_) return wait();
        if (!addressed_) {
            if (!Due(nowNs)) return;
            AddressPhase();
            continue;
        }
        if (phase_ == Phase::Writing) {
            if (!pending_.empty()) {
                if (!Due(nowNs)) return;
                const std::uint8_t value = pending_.front();
                pending_.pop_front();
                ++moved_;
                if (!target_->WriteByte(value)) NotAcknowledged();
                continue;
            }
            if (moved_ < total_) return wait();  // for the next chunk
            if (noStop_ && skipRestartWait_) {
                skipRestartWait_ = false;
                ReleaseTarget();
                phase_ = Phase::Idle;
                state_ = kIdle;
            } else if (noStop_) {
                phase_ = Phase::WaitingRestart;
                state_ = kWaitingForRestart;
            } else {
                ReleaseTarget();
                phase_ = Phase::Idle;
                state_ = kIdle;
            }
            continue;
        }
        if (moved_ < total_) {
            if (readBuffer_.size() >= kChunkBytes) return wait();  // for get-data
            if (!Due(nowNs)) return;
            auto value = target_->ReadByte();
            if (++moved_ == total_ && corruptTails_ > 0) {
                --corruptTails_;
                value = static_cast<std::uint8_t>(~value);
            }
            readBuffer_.push_back(value);
            continue;
        }
        ReleaseTarget();
        if (!readBuffer_.empty()) return wait();
        phase_ = Phase::Idle;
        state_ = kIdle;
    }
}

void I2cEngine::AddressPhase() {
    addressed_ = true;
    if (failNext_) {
        const std::uint8_t state = *failNext_;
        failNext_.reset();
        ReleaseTarget();
        Fail(state);
        return;
    }
    const auto found = targets_.find(address7_);
    std::shared_ptr<I2cTarget> next = found == targets_.end() ? nullptr : found->second;
    // A repeated START to another address ends the held target's transfer.
    if (targetHeld_ && target_ != next) ReleaseTarget();
    target_ = std::move(next);
    if (!target_) {
        Fail(kNotAcknowledged);
        return;
    }
    targetHeld_ = true;
    target_->BusTime(std::chrono::nanoseconds(busNs_));
    if (!target_->Start(phase_ == Phase::Reading)) Fail(kNotAcknowledged);
}

void I2cEngine::NotAcknowledged() {
    // A refused last byte leaves nothing to abort: the master sends its STOP
    // as usual and only the write-failed flag tells. Refused earlier, the
    // rest of the transfer cannot go on.
    if (moved_ == total_ && !noStop_) {
        ReleaseTarget();
        phase_ = Phase::Idle;
        state_ = kIdle;
        writeFailed_ = true;
        return;
    }
    Fail(kNotAcknowledged);
}

void I2cEngine::Fail(std::uint8_t state) {
    ReleaseTarget();
    phase_ = Phase::Failed;
    state_ = state;
    writeFailed_ = state == kNotAcknowledged;
    pending_.clear();
    readBuffer_.clear();
}

void I2cEngine::ReleaseTarget() {
    if (targetHeld_) {
        target_->BusTime(std::chrono::nanoseconds(busNs_));
        target_->Stop();
    }
    targetHeld_ = false;
}

void I2cEngine::Cancel() {
    ReleaseTarget();
    target_.reset();
    phase_ = Phase::Idle;
    state_ = kIdle;
    writeFailed_ = false;
    pending_.clear();
    readBuffer_.clear();
    total_ = accepted_ = moved_ = 0;
}

void I2cEngine::Begin(Phase phase, std::uint8_t address7, std::uint32_t total, std::int64_t nowNs) {
    phase_ = phase;
    state_ = phase == Phase::Reading ? kReading : kWriting;
    writeFailed_ = false;
    address7_ = address7;
    addressed_ = false;
    total_ = total;
    accepted_ = moved_ = 0;
    pending_.clear();
    readBuffer_.clear();
    busNs_ = nowNs;
}

void I2cEngine::Reset() {
    Cancel();
    divider_ = kDefaultDivider;
}

// ---- commands -------------------------------------------------------------------

void I2cEngine::HandleStatus(const Report& command, Report& response,
                             std::chrono::microseconds now) {
    Advance(Nanoseconds(now));
    const bool cancel = command[2] == kCancelRequest;
    const bool setSpeed = command[3] == kSpeedRequest;
    if (!cancel && !setSpeed && refusePolls_ > 0) {
        --refusePolls_;
        response[1] = kRefused;
    }
    response[2] = 0x00;
    if (cancel) {
        response[2] = phase_ == Phase::Idle ? kNothingToCancel : kCancelled;
        Cancel();
    }
    response[3] = 0x00;
    if (setSpeed) {
        // A new transfer's set-up clears what the last one left behind.
        if (phase_ == Phase::Failed || writeFailed_) Cancel();
        // The divider cannot change under a transfer.
        if (phase_ == Phase::Idle) {
            divider_ = command[4];
            response[3] = kSpeedTaken;
        } else {
            response[3] = kSpeedRefused;
        }
    }
    response[8] = state_;
    response[20] = writeFailed_ ? kWriteFailedFlag : 0x00;
}

void I2cEngine::HandleBusCommand(const Report& command, Report& response,
                                 std::chrono::microseconds now) {
    const std::int64_t nowNs = Nanoseconds(now);
    Advance(nowNs);
    switch (command[0]) {
        case 0x90:
        case 0x94:
            OnWriteChunk(command, response, nowNs);
            break;
        case 0x91:
        case 0x93:
            OnRead(command, response, nowNs);
            break;
        case 0x40:
            OnGetData(response);
            break;
        default:
            break;
    }
}

void I2cEngine::OnWriteChunk(const Report& command, Report& response, std::int64_t nowNs) {
    response[1] = 0x00;
    if (refuseChunks_ > 0) {
        --refuseChunks_;
        response[1] = kRefused;
        response[2] = refuseState_;
        return;
    }
    const auto total = static_cast<std::uint32_t>(command[1] | (command[2] << 8));
    const auto address7 = static_cast<std::uint8_t>(command[3] >> 1);
    const bool noStop = command[0] == 0x94;
    // A failed transfer takes no more chunks: they are refused with its state.
    const bool continues = phase_ == Phase::Writing && accepted_ < total_ && total == total_ &&
                           address7 == address7_ && noStop == noStop_ && pending_.empty();
    if (phase_ == Phase::Idle) {
        Begin(Phase::Writing, address7, total, nowNs);
        noStop_ = noStop;
    } else if (!continues) {
        response[1] = kRefused;
        response[2] = state_;
        return;
    }
    const auto n = std::min<std::uint32_t>(total_ - accepted_, kChunkBytes);
    pending_.insert(pending_.end(), &command[4], &command[4] + n);
    accepted_ += n;
    response[2] = state_;
}

void I2cEngine::OnRead(const Report& command, Report& response, std::int64_t nowNs) {
    const bool restart = command[0] == 0x93 && phase_ == Phase::WaitingRestart;
    if (phase_ != Phase::Idle && !restart) {
        response[1] = kRefused;
        response[2] = state_;
        return;
    }
    const auto total = static_cast<std::uint32_t>(command[1] | (command[2] << 8));
    Begin(Phase::Reading, static_cast<std::uint8_t>(command[3] >> 1), total, nowNs);
    if (endReadEarly_ && total_ > 0) {
        endReadEarly_ = false;
        --total_;
    }
    response[1] = 0x00;
    response[2] = state_;
}

void I2cEngine::OnGetData(Report& response) {
    response[1] = 0x00;
    response[2] = state_;
    // A read whose address was not acknowledged has nothing to deliver.
    const bool nothing =
        phase_ == Phase::Idle || (phase_ == Phase::Failed && state_ == kNotAcknowledged);
    response[3] = nothing ? 0x00 : kNotReady;
    if (delayReads_ > 0) {
        --delayReads_;
        response[3] = kNotReady;
        return;
    }
    if (phase_ != Phase::Reading) return;
    const bool complete = moved_ == total_;
    const std::size_t ready = readBuffer_.size();
    if (ready == 0 || (ready < kChunkBytes && !complete)) return;
    const std::size_t n = std::min(ready, kChunkBytes);
    std::copy_n(readBuffer_.begin(), n, response.begin() + 4);
    readBuffer_.erase(readBuffer_.begin(), readBuffer_.begin() + static_cast<std::ptrdiff_t>(n));
    std::size_t offered = n;
    if (extraBytes_ > 0) {
        offered = std::min(kChunkBytes, n + extraBytes_);  // filler stays 0x00
        extraBytes_ = 0;
    }
    response[3] = static_cast<std::uint8_t>(offered);
    if (complete && readBuffer_.empty()) {
        phase_ = Phase::Idle;
        state_ = kIdle;
    }
}

// ---- faults -----------------------------------------------------------------------

void I2cEngine::RefuseChunks(int count, std::uint8_t engineState) {
    refuseChunks_ = count;
    refuseState_ = engineState;
}

void I2cEngine::RefuseStatusPolls(int count) {
    refusePolls_ = count;
}

void I2cEngine::DelayReadData(int count) {
    delayReads_ = count;
}

void I2cEngine::OfferExtraBytes(std::uint8_t extra) {
    extraBytes_ = extra;
}

void I2cEngine::FailNextTransfer(std::uint8_t engineState) {
    failNext_ = engineState;
}

void I2cEngine::CorruptReadTail(int count) {
    corruptTails_ = count;
}

void I2cEngine::StretchClock(bool hold) {
    stretched_ = hold;
}

void I2cEngine::SkipNextRestartWait() {
    skipRestartWait_ = true;
}

void I2cEngine::EndNextReadEarly() {
    endReadEarly_ = true;
}

}  // namespace Corvane::Sim

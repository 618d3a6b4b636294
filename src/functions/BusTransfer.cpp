// SPDX-License-Identifier: MIT
#include "functions/BusTransfer.hpp"

#include <algorithm>
#include <cstring>

#include "corvane/ResultCodes.hpp"
#include "protocol/DevCom.hpp"
#include "protocol/Records.hpp"

namespace Corvane {

namespace {

constexpr std::uint8_t kPollOnlyErrorState = 0x21;

}  // namespace

std::optional<BusTiming> BusTransfer::TimingFor(std::uint32_t speed) {
    // The chip takes the divider in one byte: a divider that does not fit
    // would wrap and run the bus at some unrelated speed (46,332 Hz would
    // become 4 MHz).
    if (speed < kMinSpeedHz || speed > kMaxSpeedHz) return std::nullopt;
    BusTiming timing{};
    timing.divider = static_cast<std::uint8_t>(48'000'000u / (4u * speed) - 3u);
    timing.delayMs = static_cast<std::uint32_t>(1'320'000.0 / static_cast<double>(speed));
    timing.speedHz = speed;
    return timing;
}

// Unlike the command operations, the transfer steps do not test the echoed
// command code. They resend one request many times (refused chunks, polls,
// get-data) and judge each answer only by its status byte and the engine's
// state, within their budgets; their results keep to the codes their callers
// know, and -6 is not among them.
std::int32_t BusTransfer::Exchange(const Report& request, Report& response) {
    if (!DevComTransport::WriteReport(request)) return DevCom::WriteFailure();
    if (!DevComTransport::ReadReport(response)) return REPORT_READ_FAILED;
    return SUCCESS;
}

bool BusTransfer::IsWriteErrorState(std::uint8_t state) {
    switch (state) {
        case 0x12:
        case 0x17:
        case 0x23:
        case 0x25:
        case 0x44:
        case 0x52:
        case 0x62:
            return true;
        default:
            return false;
    }
}

bool BusTransfer::IsPollErrorState(std::uint8_t state) {
    return state == kPollOnlyErrorState || IsWriteErrorState(state);
}

std::int32_t BusTransfer::SetUpSpeed(std::uint8_t divider, std::int32_t firstRefusal) {
    Report request{};
    Records::EncodeStatus(0, 1, divider, request);
    Report response{};
    if (const std::int32_t rc = Exchange(request, response); rc != SUCCESS) return rc;
    const Records::EngineStatus first = Records::DecodeEngineStatus(response);
    if (first.refused) return firstRefusal;
    if (first.speedTaken) return SUCCESS;

    // The engine is still busy with an earlier transfer: cancel it and ask
    // again. Whether the speed was taken this time is not reported.
    Records::EncodeStatus(1, 1, divider, request);
    if (const std::int32_t rc = Exchange(request, response); rc != SUCCESS) return rc;
    return Records::DecodeEngineStatus(response).refused ? SPEED_CMD_FAILED : SUCCESS;
}

namespace {

Report TransferHeader(std::uint8_t command, std::uint32_t total, std::uint8_t address) {
    Report request{};
    Records::EncodeTransferHeader({command, total, address}, request);
    return request;
}

}  // namespace

std::int32_t BusTransfer::SendChunks(std::uint8_t command, std::uint8_t address,
                                     const ByteStream& stream, BusPacer& pacer) {
    const std::uint32_t total = stream.Total();
    Report request = TransferHeader(command, total, address);
    Report response{};
    std::uint32_t offset = 0;
    // An empty transfer still sends one report.
    do {
        const std::uint32_t n = std::min(total - offset, kChunkBytes);
        const std::uint32_t fromData =
            offset < stream.count ? std::min(n, stream.count - offset) : 0;
        if (fromData > 0) std::memcpy(&request[4], stream.data + offset, fromData);
        if (fromData < n) request[4 + fromData] = *stream.trailer;
        // A short last chunk carries no leftovers of the one before.
        std::fill(request.begin() + 4 + n, request.end(), std::uint8_t{0});

        std::uint32_t budget = kRefusalBudget;
        while (budget > 0) {
            pacer.Handing();
            if (const std::int32_t rc = Exchange(request, response); rc != SUCCESS) return rc;
            if (response[1] == 0) break;
            // A later chunk refused because the target did not acknowledge
            // the first is a missing acknowledge, whatever the length.
            if (response[2] == kNackState) return I2C_NOT_ACKNOWLEDGED;
            if (IsWriteErrorState(response[2])) return I2C_STATE_ERROR;
            --budget;
            pacer.Refused();
        }
        if (budget == 0) return I2C_RETRIES_EXHAUSTED;
        // The first chunk also clocks out the address byte.
        pacer.ChunkAccepted(n + (offset == 0 ? 1u : 0u));
        offset += n;
    } while (offset < total);
    return SUCCESS;
}

std::int32_t BusTransfer::PollStatus(const PollGoal& goal, BusPacer& pacer) {
    Report request{};
    Records::EncodeStatus(0, 0, 0, request);
    Report response{};
    std::uint32_t budget = kRefusalBudget;
    std::uint32_t unsettled = 0;
    while (budget > 0) {
        if (const std::int32_t rc = Exchange(request, response); rc != SUCCESS) return rc;
        const Records::EngineStatus status = Records::DecodeEngineStatus(response);
        if (status.refused) {
            // A refused answer still carries the engine's state.
            --budget;
            pacer.Refused();
        }
        if (goal.nackFails && status.writeFailed) return I2C_NOT_ACKNOWLEDGED;
        if (status.state == goal.doneState) break;
        if (IsPollErrorState(status.state)) return I2C_STATE_ERROR;
        // Waiting for a repeated START, the engine went idle instead.
        if (status.state == 0) return SMB_NO_REPEATED_START;
        if (!status.refused && ++unsettled >= kMaxUnsettledPolls) return I2C_RETRIES_EXHAUSTED;
    }
    return budget == 0 ? I2C_RETRIES_EXHAUSTED : SUCCESS;
}

std::int32_t BusTransfer::StartRead(std::uint8_t command, std::uint8_t address, std::uint32_t total,
                                    BusPacer& pacer) {
    const Report request = TransferHeader(command, total, address);
    Report response{};
    pacer.Handing();
    if (const std::int32_t rc = Exchange(request, response); rc != SUCCESS) return rc;
    return response[1] != 0 ? READ_CMD_REJECTED : SUCCESS;
}

Collected BusTransfer::CollectData(std::uint8_t* buffer, std::uint32_t total,
                                   std::optional<std::uint32_t> asidePosition, std::uint8_t& aside,
                                   BusPacer& pacer) {
    Report request{};
    request[0] = GET_I2C_DATA;
    Report response{};
    Collected out{SUCCESS, 0};
    std::int32_t dataBudget = static_cast<std::int32_t>((total / kChunkBytes + 1) * 3);
    std::uint32_t notReadyBudget = kRefusalBudget;
    while ((out.received < total || total == 0) && dataBudget > 0) {
        // The engine answers with data once a full chunk (or the last,
        // shorter one) is in; before the first, it also clocks the address.
        const std::uint32_t due =
            std::min(total - out.received, kChunkBytes) + (out.received == 0 ? 1u : 0u);
        pacer.BeforeData(due);
        pacer.Handing();
        if (const std::int32_t rc = Exchange(request, response); rc != SUCCESS) {
            out.result = rc;
            return out;
        }
        if (response[1] != 0) {
            out.result = GET_DATA_REJECTED;
            return out;
        }
        // A transfer the target did not acknowledge has nothing to deliver
        // either: the state comes first, or the failure would pass for an
        // empty success.
        if (response[2] == kNackState) {
            out.result = I2C_NOT_ACKNOWLEDGED;
            return out;
        }
        const std::uint32_t n = response[3];
        if (n == 0) break;  // the device has nothing more to deliver
        if (n > kChunkBytes) {
            if (notReadyBudget == 0) {
                out.result = READ_DATA_ERROR;
                return out;
            }
            pacer.NotReady();
            --notReadyBudget;
            continue;
        }
        if (out.received + n > total) {
            out.result = READ_OVERRUN;
            return out;
        }
        for (std::uint32_t i = 0; i < n; ++i) {
            const std::uint32_t position = out.received + i;
            if (position == asidePosition) {
                aside = response[4 + i];
            } else {
                buffer[position] = response[4 + i];
            }
        }
        out.received += n;
        --dataBudget;
        notReadyBudget = kRefusalBudget;
    }
    return out;
}

}  // namespace Corvane

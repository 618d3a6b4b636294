// SPDX-License-Identifier: MIT
#include "corvane/BusTrace.hpp"

#include <algorithm>
#include <utility>

#include "functions/BusTransfer.hpp"
#include "protocol/CommandCodes.hpp"
#include "protocol/Records.hpp"

namespace Corvane {

void BusTraceDecoder::Take(const TracedReport& report) {
    Report bytes{};
    std::copy(report.bytes.begin(), report.bytes.end(), bytes.begin());
    if (report.direction == ReportDirection::Sent) {
        const Records::TransferHeader header = Records::DecodeTransferHeader(bytes);
        const std::uint8_t command = header.command;
        const std::uint8_t address = static_cast<std::uint8_t>(header.address >> 1);
        switch (command) {
            case I2C_WRITE_DATA:
            case I2C_WRITE_DATA_NO_STOP: {
                const std::uint32_t total = header.total;
                const bool stop = command == I2C_WRITE_DATA;
                // A later chunk, or a refused one sent again, repeats the header.
                const bool same = isOpen_ && !open_.read && open_.address == address &&
                                  open_.length == total && open_.stop == stop &&
                                  open_.data.size() < total &&
                                  open_.outcome == BusTransaction::Outcome::Done;
                if (!same) {
                    Close();
                    open_ = BusTransaction{};
                    open_.address = address;
                    open_.stop = stop;
                    open_.length = total;
                    isOpen_ = true;
                }
                const auto n =
                    std::min<std::size_t>(total - open_.data.size(), BusTransfer::kChunkBytes);
                chunk_.assign(bytes.begin() + 4,
                              bytes.begin() + 4 + static_cast<std::ptrdiff_t>(n));
                last_ = Last::Chunk;
                return;
            }
            case I2C_READ_DATA:
            case I2C_READ_DATA_REPEATED_START:
                Close();
                open_ = BusTransaction{};
                open_.address = address;
                open_.read = true;
                open_.repeatedStart = command == I2C_READ_DATA_REPEATED_START;
                open_.length = header.total;
                isOpen_ = true;
                last_ = Last::ReadStart;
                return;
            case GET_I2C_DATA:
                last_ = isOpen_ && open_.read ? Last::Data : Last::None;
                return;
            case STATUS_SET_PARAMETERS:
                // A cancel stops a transfer that had not finished.
                if (isOpen_ && Records::DecodeCancelRequest(bytes) &&
                    open_.data.size() < open_.length) {
                    Fail(BusTransaction::Outcome::Failed);
                }
                last_ = isOpen_ ? Last::Status : Last::None;
                return;
            default:
                // Pins, settings, flash: nothing on the bus.
                Close();
                last_ = Last::None;
                return;
        }
    }

    // An answer, judged by the request it answers.
    const Last answered = std::exchange(last_, Last::None);
    const bool refused = bytes[1] != 0;
    const std::uint8_t state = bytes[2];
    switch (answered) {
        case Last::Chunk:
            if (!refused) {
                open_.data.insert(open_.data.end(), chunk_.begin(), chunk_.end());
            } else if (state == BusTransfer::kNackState) {
                Fail(BusTransaction::Outcome::NotAcknowledged);
            }
            break;
        case Last::Status: {
            // A status answer carries the engine's state elsewhere than the
            // answers to data requests.
            const Records::EngineStatus status = Records::DecodeEngineStatus(bytes);
            if (status.writeFailed || status.state == BusTransfer::kNackState) {
                Fail(BusTransaction::Outcome::NotAcknowledged);
            } else if (BusTransfer::IsPollErrorState(status.state)) {
                Fail(BusTransaction::Outcome::Failed);
            }
            break;
        }
        case Last::ReadStart:
            if (refused) Fail(BusTransaction::Outcome::Failed);
            break;
        case Last::Data: {
            if (refused) {
                Fail(BusTransaction::Outcome::Failed);
                break;
            }
            if (state == BusTransfer::kNackState) {
                Fail(BusTransaction::Outcome::NotAcknowledged);
                break;
            }
            // Counts above a chunk say "not ready yet"; nothing came with them.
            const std::uint32_t n = bytes[3];
            if (n <= BusTransfer::kChunkBytes && open_.data.size() + n <= open_.length) {
                open_.data.insert(open_.data.end(), bytes.begin() + 4,
                                  bytes.begin() + 4 + static_cast<std::ptrdiff_t>(n));
            }
            break;
        }
        case Last::None:
            break;
    }
}

void BusTraceDecoder::Fail(BusTransaction::Outcome outcome) {
    if (open_.outcome == BusTransaction::Outcome::Done) open_.outcome = outcome;
}

void BusTraceDecoder::Close() {
    if (!isOpen_) return;
    // Bytes that never went over the bus: the transfer broke off.
    if (open_.data.size() < open_.length) Fail(BusTransaction::Outcome::Failed);
    done_.push_back(std::move(open_));
    isOpen_ = false;
}

std::vector<BusTransaction> BusTraceDecoder::Finish() {
    Close();
    last_ = Last::None;
    return std::exchange(done_, {});
}

}  // namespace Corvane

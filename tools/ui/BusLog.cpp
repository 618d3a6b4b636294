// SPDX-License-Identifier: MIT
#include "BusLog.hpp"

#include <fmt/format.h>

namespace CorvaneTool::Ui {

namespace {

// A scan alone is 117 transfers; a few screens of them are kept.
constexpr std::size_t kKept = 1000;

const char* OutcomeName(Corvane::BusTransaction::Outcome outcome) {
    switch (outcome) {
        case Corvane::BusTransaction::Outcome::Done:
            return "done";
        case Corvane::BusTransaction::Outcome::NotAcknowledged:
            return "not acknowledged";
        case Corvane::BusTransaction::Outcome::Failed:
            break;
    }
    return "failed";
}

}  // namespace

BusLog::BusLog(Corvane::ReportTraceFunction alsoTrace) : alsoTrace_(std::move(alsoTrace)) {}

void BusLog::Begin() {
    // Runs with the library's operations held: the decoder is this thread's alone then.
    Corvane::SetReportTrace([this](const Corvane::TracedReport& report) {
        decoder_.Take(report);
        if (alsoTrace_) alsoTrace_(report);
    });
}

void BusLog::End(const std::string& request) {
    for (Corvane::BusTransaction& transfer : decoder_.Finish()) {
        entries_.push_back({request, std::move(transfer)});
        if (entries_.size() > kKept) entries_.pop_front();
    }
}

Json BusLog::Recent() const {
    Json transfers = Json::array();
    for (const Entry& entry : entries_) {
        const Corvane::BusTransaction& t = entry.transfer;
        std::string data;
        for (std::uint8_t byte : t.data) data += fmt::format("{:02x}", byte);
        transfers.push_back({{"request", entry.request},
                             {"address", t.address},
                             {"read", t.read},
                             {"repeated-start", t.repeatedStart},
                             {"stop", t.stop},
                             {"length", t.length},
                             {"data", data},
                             {"outcome", OutcomeName(t.outcome)}});
    }
    return {{"transfers", transfers}};
}

void BusLog::Clear() {
    entries_.clear();
}

}  // namespace CorvaneTool::Ui

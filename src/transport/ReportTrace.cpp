// SPDX-License-Identifier: MIT
#include "corvane/ReportTrace.hpp"

#include <algorithm>
#include <memory>
#include <mutex>

#include "transport/DevComTransport.hpp"

namespace Corvane {

namespace {

std::mutex traceMutex;
// Shared, so a trace call in progress keeps its function while another thread replaces it.
std::shared_ptr<const ReportTraceFunction> traceFunction;

std::shared_ptr<const ReportTraceFunction> CurrentTrace() {
    std::lock_guard lock(traceMutex);
    return traceFunction;
}

}  // namespace

void SetReportTrace(ReportTraceFunction trace) {
    auto next = trace ? std::make_shared<const ReportTraceFunction>(std::move(trace)) : nullptr;
    std::lock_guard lock(traceMutex);
    traceFunction = std::move(next);
}

void DevComTransport::Trace(ReportDirection direction, const Report& report, SecretBytes secret) {
    const auto trace = CurrentTrace();
    if (!trace) return;
    Report shown = report;
    const std::size_t first = std::min(secret.first, shown.size());
    const std::size_t count = std::min(secret.count, shown.size() - first);
    std::fill_n(shown.begin() + static_cast<std::ptrdiff_t>(first), count, std::uint8_t{0});
    (*trace)(TracedReport{direction, shown, first, count});
}

}  // namespace Corvane

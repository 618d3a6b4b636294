// SPDX-License-Identifier: MIT
#pragma once

// A look at every report the library exchanges with a bridge, for tools and
// debugging (as libusb offers a log callback). The library never shows a
// password: the bytes that carry one arrive here as zeros, and the event says
// which they are.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

#include "corvane/Export.hpp"

namespace Corvane {

enum class ReportDirection { Sent, Received };

struct TracedReport {
    ReportDirection direction;
    // The 64 report bytes without the report ID.
    std::span<const std::uint8_t, 64> bytes;
    // Bytes [maskedFirst, maskedFirst + maskedCount) carried a password and read zero here.
    std::size_t maskedFirst = 0;
    std::size_t maskedCount = 0;
};

// Called once per report, after a report was sent and after one was received,
// on the thread that runs the operation, while the library's operations are
// held. It must not call the library. An empty function turns tracing off.
using ReportTraceFunction = std::function<void(const TracedReport&)>;

// Replaces the process-wide trace function.
CORVANE_API void SetReportTrace(ReportTraceFunction trace);

}  // namespace Corvane

// SPDX-License-Identifier: MIT
#pragma once

// The bus page's trace: what each request of the web interface did on the
// I2C bus, decoded from the reports (corvane/BusTrace.hpp), the latest
// transfers kept.

#include <corvane/BusTrace.hpp>

#include <cstddef>
#include <deque>
#include <functional>
#include <string>

#include "../Tool.hpp"

namespace CorvaneTool::Ui {

class BusLog {
  public:
    // `alsoTrace`: where every report goes too (the tool's --trace), or empty.
    explicit BusLog(Corvane::ReportTraceFunction alsoTrace = {});

    // Around each request: Begin() installs the decoder as the library's
    // trace function (something may have replaced it since), End() files
    // what the request did under its name.
    void Begin();
    void End(const std::string& request);

    // {"transfers": [{"request", "address", "read", "repeated-start", "stop",
    // "length", "data" (hex), "outcome": "done" | "not acknowledged" | "failed"}]},
    // the oldest first.
    Json Recent() const;
    void Clear();

  private:
    struct Entry {
        std::string request;
        Corvane::BusTransaction transfer;
    };
    Corvane::ReportTraceFunction alsoTrace_;
    Corvane::BusTraceDecoder decoder_;
    std::deque<Entry> entries_;
};

}  // namespace CorvaneTool::Ui

// SPDX-License-Identifier: MIT
#pragma once

// What went over the I2C bus, read from the reports the library exchanges
// with the bridge (ReportTrace.hpp): each transfer's address, direction and
// bytes, and whether the target acknowledged. A tool that shows a person
// what a command did on the bus feeds every traced report to a decoder:
//
//   Corvane::BusTraceDecoder decoder;
//   Corvane::SetReportTrace([&](const Corvane::TracedReport& r) { decoder.Take(r); });
//   bus.ReadByteData(0x48, 0x00);
//   for (const Corvane::BusTransaction& t : decoder.Finish()) ...
//
// A write goes out in chunks and a read comes back in them, with refusals,
// status polls and resends in between; the decoder counts each byte once,
// as the bus carried it.

#include <cstdint>
#include <vector>

#include "corvane/Export.hpp"
#include "corvane/ReportTrace.hpp"

namespace Corvane {

struct BusTransaction {
    enum class Outcome {
        Done,             // every byte went over the bus, acknowledged
        NotAcknowledged,  // the target did not acknowledge
        Failed,           // refused, cancelled or broken off: the bus error, or a short read
    };

    std::uint8_t address = 0;  // 7-bit
    bool read = false;
    // A read that follows a write without STOP (repeated START).
    bool repeatedStart = false;
    // False for a write that leaves the bus to a repeated START.
    bool stop = true;
    std::uint32_t length = 0;        // the bytes the transfer was started for
    std::vector<std::uint8_t> data;  // the bytes written or read
    Outcome outcome = Outcome::Done;
};

class CORVANE_API BusTraceDecoder {
  public:
    // Takes the next report, in the order the trace function sees them.
    void Take(const TracedReport& report);
    // The transfers seen since the last call; the last one is taken as
    // finished (call it once an operation has returned).
    std::vector<BusTransaction> Finish();

  private:
    enum class Last { None, Chunk, Status, ReadStart, Data };
    void Fail(BusTransaction::Outcome outcome);
    void Close();

    std::vector<BusTransaction> done_;
    BusTransaction open_;
    bool isOpen_ = false;
    Last last_ = Last::None;
    std::vector<std::uint8_t> chunk_;  // the write chunk the last report carried
};

}  // namespace Corvane

// SPDX-License-Identifier: MIT
#pragma once

// A programming station for a small production run (`corvane program`):
// every bridge that is plugged in, one after another, gets the settings of a
// settings file and a serial number of its own, optionally an EEPROM image;
// all is read back and compared, the bridge is reset and a line goes to a
// log. The log is what makes a station restartable: a bridge whose serial
// number it records as done is left alone, and numbering goes on after the
// highest number it holds.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Eeprom.hpp"
#include "Tool.hpp"

namespace CorvaneTool {

// A serial number pattern: text around one {} field for the number, which
// may ask for a width with zeros, as fmt does: "CVS{:06d}" gives CVS000042.
class SerialPattern {
  public:
    // UsageError for a pattern without exactly one such field.
    explicit SerialPattern(const std::string& pattern);

    std::string Format(std::uint64_t number) const;
    // The number in a serial number of this pattern, if it is one.
    std::optional<std::uint64_t> NumberOf(const std::string& serial) const;
    const std::string& Text() const { return text_; }

  private:
    std::string text_;
    std::string prefix_;
    std::string suffix_;
    std::size_t width_ = 0;
};

// The station's log: a line per bridge, "SERIAL<TAB>TIME<TAB>RESULT", TIME
// in UTC (2026-12-08T10:28:03Z), RESULT "ok" or what failed.
class ProgramLog {
  public:
    // Reads what the file holds (nothing when it does not exist yet) and
    // checks that lines can be appended; a Failure FILE_ERROR otherwise.
    explicit ProgramLog(std::string path);

    const std::string& Path() const { return path_; }
    bool Done(const std::string& serial) const { return done_.count(serial) > 0; }
    // One past the highest number of `pattern` the log holds, at least `start`.
    std::uint64_t NextNumber(const SerialPattern& pattern, std::uint64_t start) const;
    void Append(const std::string& serial, const std::string& result);

  private:
    std::string path_;
    std::vector<std::string> serials_;
    std::set<std::string> done_;
};

struct ProgramJob {
    Json settings;                         // a settings file's document
    std::optional<SerialPattern> serials;  // none: each bridge keeps its serial number
    std::uint64_t start = 1;
    std::optional<Eeprom> eeprom;
    std::vector<std::uint8_t> image;  // with eeprom: written from its address 0
    std::uint32_t speed = 100'000;
    std::string password;  // presented to each bridge first, unless empty
};

// Programs the bridge of `handle`: settings (with `serial` unless empty),
// EEPROM image, everything read back and compared, then a reset. Refuses a
// bridge that cannot take the settings completely before writing anything.
// Returns what was done: {"serial", "path", "settings-changed", "eeprom"}.
Json ProgramBridge(const std::shared_ptr<Corvane::BridgeHandle>& handle, const ProgramJob& job,
                   const std::string& serial, const Work& work,
                   const std::function<void(const std::string&)>& warn);

// What a station needs from its front end: the bridges attached now, a
// handle on one, time passing, and where its events go. Events are JSON:
// {"event": "waiting"}, {"event": "programmed", ...}, {"event": "skipped",
// "path", "serial"}, {"event": "note", "text"}.
struct StationPort {
    std::function<std::vector<std::string>()> discover;
    std::function<std::shared_ptr<Corvane::BridgeHandle>(const std::string& path)> open;
    std::function<void(std::uint32_t ms)> sleep;
    std::function<void(const Json& event)> event;
};

// Programs bridges as they come until `count` are done (none: until the
// work is asked to stop while it waits). A failure stops the station with the
// bridge named, after logging it. Returns {"programmed": [...], "log": path}.
Json RunStation(const ProgramJob& job, ProgramLog& log, std::optional<std::size_t> count,
                const StationPort& port, const Work& work);

}  // namespace CorvaneTool

// SPDX-License-Identifier: MIT
#include "Station.hpp"

#include <fmt/chrono.h>
#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>

#include "SettingsFile.hpp"
#include "SettingsTable.hpp"

namespace CorvaneTool {

namespace {

bool AllDigits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c)) != 0;
    });
}

std::string UtcNow() {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    return fmt::format("{:%Y-%m-%dT%H:%M:%SZ}", fmt::gmtime(now));
}

// The first line of a message, for the log's one line per bridge.
std::string FirstLine(const std::string& text) {
    return text.substr(0, text.find('\n'));
}

}  // namespace

SerialPattern::SerialPattern(const std::string& pattern) : text_(pattern) {
    const std::size_t open = pattern.find('{');
    const std::size_t close = pattern.find('}', open == std::string::npos ? 0 : open);
    const auto refuse = [&] {
        return UsageError(fmt::format(
            "--serial-pattern must hold one field for the number, {{}} or {{:06d}} (six digits "
            "with zeros), not '{}'",
            pattern));
    };
    if (open == std::string::npos || close == std::string::npos) throw refuse();
    prefix_ = pattern.substr(0, open);
    suffix_ = pattern.substr(close + 1);
    if (prefix_.find_first_of("{}") != std::string::npos ||
        suffix_.find_first_of("{}") != std::string::npos) {
        throw refuse();
    }
    const std::string field = pattern.substr(open + 1, close - open - 1);
    if (field.empty() || field == ":d") return;
    if (field.size() < 4 || field.substr(0, 2) != ":0" || field.back() != 'd' ||
        !AllDigits(field.substr(2, field.size() - 3))) {
        throw refuse();
    }
    width_ = std::stoul(field.substr(2, field.size() - 3));
    if (width_ > 20) throw refuse();
}

std::string SerialPattern::Format(std::uint64_t number) const {
    std::string digits = std::to_string(number);
    if (digits.size() < width_) digits.insert(0, width_ - digits.size(), '0');
    return prefix_ + digits + suffix_;
}

std::optional<std::uint64_t> SerialPattern::NumberOf(const std::string& serial) const {
    if (serial.size() < prefix_.size() + suffix_.size() || !serial.starts_with(prefix_) ||
        !serial.ends_with(suffix_)) {
        return std::nullopt;
    }
    const std::string digits =
        serial.substr(prefix_.size(), serial.size() - prefix_.size() - suffix_.size());
    if (!AllDigits(digits) || digits.size() < width_ || digits.size() > 19) return std::nullopt;
    return std::stoull(digits);
}

ProgramLog::ProgramLog(std::string path) : path_(std::move(path)) {
    std::error_code ignored;
    if (std::filesystem::exists(path_, ignored)) {
        const std::vector<std::uint8_t> bytes = ReadFileBytes(path_, "the log");
        std::string text(bytes.begin(), bytes.end());
        std::size_t start = 0;
        while (start < text.size()) {
            const std::size_t end = std::min(text.find('\n', start), text.size());
            const std::string line = text.substr(start, end - start);
            start = end + 1;
            const std::size_t tab = line.find('\t');
            if (tab == std::string::npos) continue;
            const std::string serial = line.substr(0, tab);
            serials_.push_back(serial);
            if (line.ends_with("\tok") || line.ends_with("\tok\r")) done_.insert(serial);
        }
    }
    // Appending must work before the first bridge is touched.
    std::FILE* file = std::fopen(path_.c_str(), "ab");
    if (!file) FailFile("write", "the log", path_, errno);
    std::fclose(file);
}

std::uint64_t ProgramLog::NextNumber(const SerialPattern& pattern, std::uint64_t start) const {
    std::uint64_t next = start;
    for (const std::string& serial : serials_) {
        if (const auto number = pattern.NumberOf(serial)) next = std::max(next, *number + 1);
    }
    return next;
}

void ProgramLog::Append(const std::string& serial, const std::string& result) {
    const std::string line = fmt::format("{}\t{}\t{}\n", serial, UtcNow(), FirstLine(result));
    std::FILE* file = std::fopen(path_.c_str(), "ab");
    if (!file) FailFile("write", "the log", path_, errno);
    const bool written = std::fwrite(line.data(), 1, line.size(), file) == line.size();
    const int error = errno;
    if (std::fclose(file) != 0 || !written) FailFile("write", "the log", path_, error);
    serials_.push_back(serial);
    if (result == "ok") done_.insert(serial);
}

Json ProgramBridge(const std::shared_ptr<Corvane::BridgeHandle>& handle, const ProgramJob& job,
                   const std::string& serial, const Work& work,
                   const std::function<void(const std::string&)>& warn) {
    Json report = {{"serial", serial}, {"path", handle->Path()}};
    if (!job.password.empty()) {
        Check(handle->EnterAccessPassword(job.password.c_str()),
              "the bridge did not accept the password in --password-file");
    }
    const SettingsPlan plan = PlanSettings(*handle, job.settings, serial, !job.password.empty());
    CheckApplicable(plan);
    work.StopPoint([] { return std::string("interrupted before the bridge was changed"); });
    ApplySettings(*handle, plan, warn);
    report["settings-changed"] = plan.changes.size();
    report["eeprom"] = nullptr;
    if (job.eeprom) {
        Corvane::I2cBus bus(handle, job.speed);
        WriteEeprom(bus, *job.eeprom, 0, job.image, true, work);
        report["eeprom"] = job.image.size();
    }
    On(*handle, [](Corvane::VrelUsbI2c& bridge) { Check(bridge.Functions->ResetDevice()); });
    return report;
}

Json RunStation(const ProgramJob& job, ProgramLog& log, std::optional<std::size_t> count,
                const StationPort& port, const Work& work) {
    constexpr std::uint32_t kPollMs = 250;
    std::uint64_t next = job.serials ? log.NextNumber(*job.serials, job.start) : 0;
    std::set<std::string> present;  // paths examined while they stay attached
    std::set<std::string> thisRun;  // serial numbers given in this run
    Json programmed = Json::array();
    bool waiting = false;
    const auto note = [&](const std::string& text) {
        port.event({{"event", "note"}, {"text", text}});
    };
    while (!count || programmed.size() < *count) {
        const std::vector<std::string> paths = port.discover();
        std::erase_if(present, [&](const std::string& path) {
            return std::find(paths.begin(), paths.end(), path) == paths.end();
        });
        bool acted = false;
        for (const std::string& path : paths) {
            if (count && programmed.size() >= *count) break;
            if (!present.insert(path).second) continue;
            const auto handle = port.open(path);
            if (!handle) {
                note(fmt::format("{} cannot be opened: left alone", path));
                continue;
            }
            const auto found = On(*handle, [](Corvane::VrelUsbI2c& bridge) {
                return bridge.Settings->GetSerialNumber();
            });
            const std::string now = found ? Corvane::Utf16ToUtf8(*found) : "?";
            if (log.Done(now)) {
                if (thisRun.count(now) == 0) {
                    port.event({{"event", "skipped"}, {"path", path}, {"serial", now}});
                }
                continue;
            }
            const std::string serial = job.serials ? job.serials->Format(next) : now;
            const std::string bridge = fmt::format("bridge {} ({})", path, now);
            try {
                Json report = ProgramBridge(handle, job, job.serials ? serial : "", work, note);
                report["time"] = UtcNow();
                log.Append(serial, "ok");
                thisRun.insert(serial);
                Json event = {{"event", "programmed"}};
                event.update(report);
                port.event(event);
                programmed.push_back(report);
            } catch (const Interrupted& stop) {
                log.Append(serial, "interrupted: " + stop.explanation);
                throw Interrupted(bridge + ": " + stop.explanation);
            } catch (const Failure& failure) {
                log.Append(serial, "failed: " + failure.explanation);
                const std::string message = bridge + ": " + failure.explanation;
                if (failure.code) throw Failure(*failure.code, message);
                throw Failure(message, failure.name);
            }
            if (job.serials) ++next;
            acted = true;
            waiting = false;
        }
        if (acted || (count && programmed.size() >= *count)) continue;
        if (!waiting) port.event({{"event", "waiting"}});
        waiting = true;
        // Ctrl-C while waiting ends the station; during a bridge it stops that bridge.
        if (work.stop && work.stop()) break;
        port.sleep(kPollMs);
    }
    return {{"programmed", programmed}, {"log", log.Path()}};
}

}  // namespace CorvaneTool

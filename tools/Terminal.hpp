// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>

namespace CorvaneTool {

bool IsTerminal(std::FILE* stream);

// On Windows the console shows the tool's output as UTF-8, as a terminal
// does elsewhere; nothing to do there.
void PrepareConsole();

// The tool's text is UTF-8 everywhere, file names included (on Windows
// through its UTF-8 code page); std::filesystem::path's own conversion of
// narrow text is not UTF-8 there.
std::filesystem::path Utf8Path(const std::string& text);
std::string Utf8Text(const std::filesystem::path& path);

// Asks on the terminal and reads one line without echo; nothing when there
// is no terminal to ask on.
std::optional<std::string> ReadSecret(const std::string& prompt);

// From now on the first Ctrl-C (SIGINT, a console's Ctrl-C or Ctrl-Break)
// only sets a flag that long commands look at between steps; a second one
// ends the process as usual.
void CatchInterrupt();
bool InterruptRequested();

// Standard input and output carry bytes unchanged (on Windows they would
// turn LF into CR LF); for "-" as a file name.
void BinaryStandardStreams();

// A one-line progress bar on stderr (bytes done, rate, time left), drawn only
// when stderr is a terminal.
class Progress {
  public:
    Progress(std::string label, std::size_t total);
    ~Progress();
    void Update(std::size_t done);
    // Clears the line.
    void Done();

  private:
    std::string label_;
    std::size_t total_;
    bool enabled_;
    bool drawn_ = false;
    std::size_t drawnWidth_ = 0;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point lastDraw_;
};

}  // namespace CorvaneTool

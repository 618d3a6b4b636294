#pragma once

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <optional>
#include <string>

namespace CorvaneTool {

bool IsTerminal(std::FILE* stream);

// Asks on the terminal and reads one line without echo; nothing when there
// is no terminal to ask on.
std::optional<std::string> ReadSecret(const std::string& prompt);

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
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point lastDraw_;
};

}  // namespace CorvaneTool

// SPDX-License-Identifier: MIT
#include "Terminal.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <iostream>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <termios.h>
#include <unistd.h>
#endif

namespace CorvaneTool {

namespace {

std::atomic<bool> interruptRequested{false};

#if defined(_WIN32)
BOOL WINAPI OnConsoleControl(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    // The second one takes the default way: the process ends.
    if (interruptRequested.exchange(true)) return FALSE;
    return TRUE;
}
#else
extern "C" void OnInterrupt(int) {
    interruptRequested = true;
}
#endif

}  // namespace

void CatchInterrupt() {
#if defined(_WIN32)
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
#else
    // A program started in the background by a script has Ctrl-C ignored: so be it.
    struct sigaction old {};
    if (sigaction(SIGINT, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) return;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    // Once: a second Ctrl-C ends a program that does not get to look.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    sigaction(SIGINT, &action, nullptr);
#endif
}

bool InterruptRequested() {
    return interruptRequested;
}

void BinaryStandardStreams() {
#if defined(_WIN32)
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
#endif
}

bool IsTerminal(std::FILE* stream) {
#if defined(_WIN32)
    // _isatty is also true for NUL and serial ports; only a console has a mode.
    DWORD mode = 0;
    return GetConsoleMode(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))), &mode) != 0;
#else
    return isatty(fileno(stream)) != 0;
#endif
}

void PrepareConsole() {
#if defined(_WIN32)
    SetConsoleOutputCP(CP_UTF8);
#endif
}

std::optional<std::string> ReadSecret(const std::string& prompt) {
    std::string line;
#if defined(_WIN32)
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (!GetConsoleMode(input, &mode)) return std::nullopt;
    std::fputs(prompt.c_str(), stderr);
    SetConsoleMode(input, mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
    const bool ok = static_cast<bool>(std::getline(std::cin, line));
    SetConsoleMode(input, mode);
#else
    // The terminal itself, so that a password never comes from a pipe by mistake.
    std::FILE* tty = std::fopen("/dev/tty", "r+");
    if (!tty) return std::nullopt;
    const int fd = fileno(tty);
    termios saved{};
    if (tcgetattr(fd, &saved) != 0) {
        std::fclose(tty);
        return std::nullopt;
    }
    std::fputs(prompt.c_str(), tty);
    std::fflush(tty);
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(fd, TCSAFLUSH, &quiet);
    bool ok = false;
    for (int c; (c = std::fgetc(tty)) != EOF;) {
        if (c == '\n' || c == '\r') {
            ok = true;
            break;
        }
        line.push_back(static_cast<char>(c));
    }
    tcsetattr(fd, TCSAFLUSH, &saved);
    std::fputs("\n", tty);
    std::fclose(tty);
#endif
    if (!ok) return std::nullopt;
    return line;
}

std::filesystem::path Utf8Path(const std::string& text) {
    return std::u8string(text.begin(), text.end());
}

std::string Utf8Text(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return {text.begin(), text.end()};
}

Progress::Progress(std::string label, std::size_t total)
    : label_(std::move(label)),
      total_(total),
      enabled_(IsTerminal(stderr)),
      start_(std::chrono::steady_clock::now()),
      lastDraw_(start_) {}

Progress::~Progress() {
    Done();
}

void Progress::Update(std::size_t done) {
    if (!enabled_ || total_ == 0) return;
    const auto now = std::chrono::steady_clock::now();
    if (drawn_ && done < total_ && now - lastDraw_ < std::chrono::milliseconds(100)) return;
    lastDraw_ = now;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
    std::string left = "--:--";
    if (rate > 0) {
        const auto remaining = static_cast<long>(static_cast<double>(total_ - done) / rate + 0.5);
        left = fmt::format("{}:{:02}", remaining / 60, remaining % 60);
    }
    constexpr std::size_t kWidth = 24;
    const std::size_t filled = done * kWidth / total_;
    const std::string line = fmt::format(
        "{} [{}{}] {}/{} bytes  {:.1f} KiB/s  {} left ", label_, std::string(filled, '#'),
        std::string(kWidth - filled, '.'), done, total_, rate / 1024.0, left);
    fmt::print(stderr, "\r{}", line);
    drawnWidth_ = std::max(drawnWidth_, line.size());
    std::fflush(stderr);
    drawn_ = true;
}

void Progress::Done() {
    if (!drawn_) return;
    // Blanks rather than an escape sequence, which not every Windows console reads.
    fmt::print(stderr, "\r{}\r", std::string(drawnWidth_, ' '));
    std::fflush(stderr);
    drawn_ = false;
}

}  // namespace CorvaneTool

// SPDX-License-Identifier: MIT
#include "Browser.hpp"

#if defined(_WIN32)
#include <windows.h>

// Needs windows.h first.
#include <shellapi.h>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>
#endif

namespace CorvaneTool::Ui {

#if defined(_WIN32)

bool OpenInBrowser(const std::string& url) {
    // The address is ASCII: digits, letters and punctuation.
    const std::wstring wide(url.begin(), url.end());
    const auto result = reinterpret_cast<INT_PTR>(
        ShellExecuteW(nullptr, L"open", wide.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    return result > 32;
}

#else

extern "C" char** environ;

bool OpenInBrowser(const std::string& url) {
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY")) return false;
    // xdg-open's and the browser's chatter would mix with the server's lines.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::string program = "xdg-open";
    std::string argument = url;
    char* argv[] = {program.data(), argument.data(), nullptr};
    pid_t child = 0;
    const int error = posix_spawnp(&child, "xdg-open", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) return false;
    // xdg-open may wait for a browser it started until that browser ends; the
    // server goes on meanwhile, and the child is reaped when it is done.
    std::thread([child] {
        int status = 0;
        waitpid(child, &status, 0);
    }).detach();
    return true;
}

#endif

}  // namespace CorvaneTool::Ui

// SPDX-License-Identifier: MIT
#pragma once

#include <pthread.h>
#include <signal.h>

#include <system_error>
#include <thread>
#include <utility>

namespace Corvane {

// Starts `thread` running `body` with every signal blocked, so the
// application's signals and handlers stay on its own threads. False when no
// thread could be started.
template <class Body>
bool StartQuietThread(std::thread& thread, Body&& body) {
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    try {
        thread = std::thread(std::forward<Body>(body));
    } catch (const std::system_error&) {
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return thread.joinable();
}

}  // namespace Corvane

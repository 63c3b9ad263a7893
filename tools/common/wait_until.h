// The one wait of the tests and the tools: look at a condition again and again until it
// holds or the patience has run out. Between two looks it sleeps a moment, or does what the
// caller hands it instead: pump a window's socket events, serve a thread's calls. Built by
// both the Linux and the Windows programs.
//
// The patience is wall-clock time from the call, so a slow look (a round trip to another
// process) does not stretch it. The condition is looked at once more after the last pause,
// so one that comes true just before the end still counts.
#pragma once

#include <chrono>
#include <thread>
#include <type_traits>
#include <utility>

template <typename Done, typename Between,
          typename = std::enable_if_t<std::is_invocable_v<Between&>>>
bool WaitUntil(Done&& done, std::chrono::milliseconds patience, Between&& between) {
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        between();
    }
    return true;
}

template <typename Done>
bool WaitUntil(Done&& done, std::chrono::milliseconds patience = std::chrono::seconds(5),
               std::chrono::milliseconds pause = std::chrono::milliseconds(1)) {
    return WaitUntil(std::forward<Done>(done), patience,
                     [pause] { std::this_thread::sleep_for(pause); });
}

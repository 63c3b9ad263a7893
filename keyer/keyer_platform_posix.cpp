#include <pthread.h>

#include <chrono>
#include <thread>

#include "keyer/keyer_platform.h"

bool WaitForKeyerThread(const std::function<bool()>& done, int timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void RaiseKeyerTimerResolution() {}

void RestoreKeyerTimerResolution() {}

void NameKeyerThread(const char* name) {
    pthread_setname_np(pthread_self(), name);
}

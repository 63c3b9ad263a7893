#include <windows.h>

// Needs the types of windows.h.
#include <mmsystem.h>

#include "keyer/keyer_platform.h"

bool WaitForKeyerThread(const std::function<bool()>& done, int timeout_ms) {
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeout_ms);
    while (!done()) {
        if (GetTickCount64() >= deadline) {
            return false;
        }
        // Only sent messages are carried out here: posted ones (clicks, timers, socket
        // notifications) stay queued for the dialog's own loop.
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 2, QS_SENDMESSAGE);
        MSG message;
        PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    return true;
}

void RaiseKeyerTimerResolution() {
    timeBeginPeriod(1);
}

void RestoreKeyerTimerResolution() {
    timeEndPeriod(1);
}

// Thread descriptions need a newer Windows than the program supports.
void NameKeyerThread(const char* /*name*/) {}

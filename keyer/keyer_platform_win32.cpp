#include <windows.h>

// Needs the types of windows.h.
#include <mmsystem.h>

#include "keyer/keyer_platform.h"

void RaiseKeyerTimerResolution() {
    timeBeginPeriod(1);
}

void RestoreKeyerTimerResolution() {
    timeEndPeriod(1);
}

// Thread descriptions need a newer Windows than the program supports.
void NameKeyerThread(const char* /*name*/) {}

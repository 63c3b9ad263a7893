#include <pthread.h>

#include "keyer/keyer_platform.h"

void RaiseKeyerTimerResolution() {}

void RestoreKeyerTimerResolution() {}

void NameKeyerThread(const char* name) {
    pthread_setname_np(pthread_self(), name);
}

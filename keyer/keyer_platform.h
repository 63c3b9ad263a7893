// What the keyer threads need from the operating system beyond the port.
#pragma once

#include <functional>

// Waits until `done` is true or `timeout_ms` has passed; returns `done()`. On Windows it
// carries out the window calls that other threads send to this thread meanwhile, so the
// window thread can wait for a keyer thread that is inside a synchronous window call.
bool WaitForKeyerThread(const std::function<bool()>& done, int timeout_ms);
// The writer's 3 ms tick needs a 1 ms timer while host mode is open (Windows' default
// period is 15.6 ms); elsewhere these do nothing.
void RaiseKeyerTimerResolution();
void RestoreKeyerTimerResolution();
// Names the calling thread where the platform keeps names (debuggers, /proc, benchmarks).
void NameKeyerThread(const char* name);

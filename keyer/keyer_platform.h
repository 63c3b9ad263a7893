// What the keyer threads need from the operating system beyond the port.
#pragma once

// The writer's 3 ms between queued units need a 1 ms timer while host mode is open (Windows'
// default period is 15.6 ms); elsewhere these do nothing.
void RaiseKeyerTimerResolution();
void RestoreKeyerTimerResolution();
// Names the calling thread where the platform keeps names (debuggers, /proc, benchmarks).
void NameKeyerThread(const char* name);

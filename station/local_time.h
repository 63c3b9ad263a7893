// The wall clock as the operator reads it, for the log file's lines. The C library's plain
// localtime shares one buffer between threads; each platform has its own reentrant call.
#pragma once

#include <ctime>

// `when` in the machine's time zone; false when the platform cannot convert it.
bool LocalTimeOf(std::time_t when, std::tm* local);

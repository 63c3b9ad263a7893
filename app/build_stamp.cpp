#include "app/build_stamp.h"

// The one place the compiler's clock enters the program.
const char kBuildTime[] = __TIME__;
const char kBuildDate[] = __DATE__;

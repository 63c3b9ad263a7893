// When this program was built, as the compiler saw the clock: the time as "10:51:01" and
// the date as "Dec 15 2014" (a day below 10 has a blank before it, "Dec  5 2014").
#pragma once

extern const char kBuildTime[];
extern const char kBuildDate[];

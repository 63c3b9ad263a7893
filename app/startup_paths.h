// The start-up texts that program start fixes from what the platform reports.
#pragma once

#include <string>

struct StartupTexts {
    std::string program_path;
    std::string config_path;
    std::string os_name;
};

// The name of the operating system, as the About box shows it: fixed by program start, before
// any other thread exists.
extern std::string os_name;

constexpr int kPlatformWin9x = 1;

// `platform_id` as the OS version query gives it; `module_path` is the running program's
// full path. The 95/98 family keeps its program in a fixed folder; every other platform id
// is treated as the NT family, whose configuration file lies next to the program.
StartupTexts DeriveStartupTexts(int platform_id, const std::string& module_path);

// The program's own path with the file's extension replaced by "cfg" (added when the file
// has none); folder names are left alone.
std::string ConfigPathFor(const std::string& program_file);

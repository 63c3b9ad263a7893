// Whether Windows starts the program when the user logs on. Windows runs each value of the
// user's start-up entries (the per-user Run key) at logon; `[Windows] StartWithWindows` in
// the .ini decides, at each start of the program, what the program's own value holds: yes
// names this pellmar.exe by its full path, no removes the value, and without the key the
// value stays as it is, so one made or removed by hand is left alone.
//
// The Connect log tells of each change and of a registry that refuses one. A start that finds
// the value already as asked writes no line, so a site that boots every night does not repeat
// the same line in its log every night.
#pragma once

#include <optional>
#include <string>

#include "station/station_view.h"

// The program's value among the user's start-up entries, as the platform keeps it.
class StartupEntry {
  public:
    virtual ~StartupEntry() = default;
    // The command the value holds; nothing when there is none.
    virtual std::optional<std::string> Command() = 0;
    // 0, or the platform's error number.
    virtual long Write(const std::string& command) = 0;
    // 0 when the value is gone (or was never there), or the platform's error number.
    virtual long Remove() = 0;
};

enum class StartupChange { kNone, kWrite, kRemove };

// What `wanted` (the .ini's yes, no or nothing) asks of a value that holds `current`, for the
// program whose start-up command is `command`.
StartupChange StartupChangeFor(std::optional<bool> wanted,
                               const std::optional<std::string>& current,
                               const std::string& command);

// The command that starts the program at `program_path`: the path in quotes, since a folder's
// name may hold a blank.
std::string StartupCommandFor(const std::string& program_path);

// Makes `entry` what `wanted` asks for the program at `program_path`, telling `log`.
void FollowStartWithWindows(std::optional<bool> wanted, const std::string& program_path,
                            StartupEntry& entry, ConnectLog& log);

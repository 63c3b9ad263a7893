#include "app/start_with_windows.h"

StartupChange StartupChangeFor(std::optional<bool> wanted,
                               const std::optional<std::string>& current,
                               const std::string& command) {
    if (!wanted) {
        return StartupChange::kNone;
    }
    if (*wanted) {
        return current == command ? StartupChange::kNone : StartupChange::kWrite;
    }
    return current ? StartupChange::kRemove : StartupChange::kNone;
}

std::string StartupCommandFor(const std::string& program_path) {
    return '"' + program_path + '"';
}

void FollowStartWithWindows(std::optional<bool> wanted, const std::string& program_path,
                            StartupEntry& entry, ConnectLog& log) {
    const std::string command = StartupCommandFor(program_path);
    switch (StartupChangeFor(wanted, entry.Command(), command)) {
        case StartupChange::kNone:
            return;
        case StartupChange::kWrite:
            if (const long error = entry.Write(command)) {
                log.Append("\r\nStart-up entry not written: Windows refused it (error " +
                           std::to_string(error) + "); Pellmar will not start by itself.");
            } else {
                log.Append("\r\nStart-up entry written: Windows starts " + command +
                           " when you log on.");
            }
            return;
        case StartupChange::kRemove:
            if (const long error = entry.Remove()) {
                log.Append("\r\nStart-up entry not removed: Windows refused it (error " +
                           std::to_string(error) + "); Pellmar still starts when you log on.");
            } else {
                log.Append(
                    "\r\nStart-up entry removed: Windows no longer starts Pellmar when you "
                    "log on.");
            }
            return;
    }
}

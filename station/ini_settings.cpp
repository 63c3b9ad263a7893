// What the .ini beside the configuration file says: who may connect, how long keying from
// the link may hold the key, and whether a Net Client tries its server again by itself. It
// is read at start and at each Open, so an edit takes effect at the next Open; it is never
// required, and the station never writes it (only the window keeps its place there).
#include <string>

#include "net/allow_list.h"
#include "settings/ini_file.h"
#include "station/station.h"

void Station::ReadIniSettings() {
    if (settings_.config_path().empty()) {
        return;  // a station without a configuration file has no .ini beside it either
    }
    IniSettings ini = ReadIniFile(IniPathFor(settings_.config_path()));
    allow_from_ = AllowListFrom(ini);
    limits_ = SafetyLimitsFrom(ini);
    reconnect_enabled_ = ReconnectFrom(ini);
    // A mistake is told once in a run, not at every Open that finds it still there.
    const auto tell = [this](const std::string& line) {
        if (told_ini_problems_.insert(line).second) {
            Log("\r\n" + line);
        }
    };
    for (const IniProblem& problem : ini.problems()) {
        tell(problem.message);
    }
    for (const std::string& problem : allow_from_.problems()) {
        tell(problem);
    }
}

// What the .ini beside the configuration file says: who may connect, how long and how much of
// each minute keying from the link may hold the key, whether a Net Client tries its server
// again by itself, the keyer's device and where the logger port listens. It is read as the
// station is made, at start and at each Open, so an edit takes effect at the next Open; it is
// never required, and the station never writes it (only the window keeps its place there).
#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "settings/ini_file.h"
#include "settings/ini_keys.h"
#include "station/allow_from_ini.h"
#include "station/station.h"

IniSettings Station::ReadIniFileBeside() const {
    // A station without a configuration file has no .ini beside it either: every key holds
    // its default.
    if (settings_.config_path().empty()) {
        return IniSettings();
    }
    return ReadIniFile(IniPathFor(settings_.config_path()));
}

std::vector<std::string> Station::TakeIniSettings(IniSettings& ini) {
    limits_ = {ini.Seconds(ini_keys::kTuneLimitSeconds),
               ini.Seconds(ini_keys::kPaddleLimitSeconds)};
    keying_budget_.SetAllowance(
        std::chrono::seconds(ini.Seconds(ini_keys::kKeyDownSecondsPerMinute)));
    reconnect_enabled_ = ini.YesNo(ini_keys::kReconnect);
    const std::optional<uint32_t> paddle_delay = ini.AutoOrMilliseconds(ini_keys::kPaddleDelay);
    paddle_playout_.SetFixedDelay(
        paddle_delay ? std::optional<std::chrono::milliseconds>(*paddle_delay) : std::nullopt);
    keyer_device_from_ini_ = ini.Text(ini_keys::kKeyerDevice);
    AllowFromIni allow = AllowFromIniSettings(ini);
    allow_from_ = std::move(allow.list);
    if (std::optional<std::string> problem = TakeLoggerPlace(ini)) {
        allow.problems.push_back(std::move(*problem));
    }
    link_key_.reset();
    link_key_problem_ = LinkKeyProblem::kNone;
    if (const std::optional<std::string> key =
            ini.Value(ini_keys::kKey.section, ini_keys::kKey.name)) {
        const ParsedLinkKey parsed = ParseLinkKey(*key);
        link_key_problem_ = parsed.problem;
        if (parsed.problem == LinkKeyProblem::kNone) {
            link_key_ = parsed.key;
        }
    }
    return std::move(allow.problems);
}

void Station::ReadIniSettings() {
    IniSettings ini = ReadIniFileBeside();
    const std::vector<std::string> allow_problems = TakeIniSettings(ini);
    // A mistake is told once in a run, not at every Open that finds it still there.
    const auto tell = [this](const std::string& line) {
        if (told_ini_problems_.insert(line).second) {
            Log("\r\n" + line);
        }
    };
    for (const IniProblem& problem : ini.problems()) {
        tell(problem.message);
    }
    for (const std::string& line : allow_problems) {
        tell(line);
    }
}

std::string Station::KeyerDevice() const {
    return keyer_port_.device.empty() ? keyer_device_from_ini_ : keyer_port_.device;
}

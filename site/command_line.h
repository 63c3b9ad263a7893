// What `pellmar-site` was asked to do, from its command line.
#pragma once

#include <string>
#include <vector>

// The package's state folder, where the service keeps its files.
constexpr const char kDefaultConfigPath[] = "/var/lib/pellmar-site/pellmar.cfg";

struct SiteCommand {
    enum class Kind { kRun, kConfig, kKeyNew, kHelp, kVersion };
    Kind kind = Kind::kRun;
    std::string config_path = kDefaultConfigPath;
    // Empty: the .ini's `[Keyer]` `Device`, or else the record's COM number.
    std::string keyer_device;
    // What follows `config`: `show`, or `set NAME VALUE ...`.
    std::vector<std::string> config_words;
};

// The words after the program's name. False, with `error` saying why, for a command line that
// means nothing.
bool ParseSiteCommand(const std::vector<std::string>& arguments, SiteCommand* command,
                      std::string* error);

// What --help prints.
std::string SiteHelpText();

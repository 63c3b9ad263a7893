#include "site/command_line.h"

#include "version/version.h"

namespace {

// `--name VALUE` or `--name=VALUE`; false when `arguments[*at]` is not this option.
bool TakeOption(const std::vector<std::string>& arguments, std::size_t* at, const std::string& name,
                std::string* value, std::string* error) {
    const std::string& word = arguments[*at];
    if (word.compare(0, name.size() + 1, name + "=") == 0) {
        *value = word.substr(name.size() + 1);
    } else if (word == name) {
        if (*at + 1 >= arguments.size()) {
            *error = name + " needs a value";
            return true;
        }
        *value = arguments[++*at];
    } else {
        return false;
    }
    if (value->empty()) {
        *error = name + " needs a value";
    }
    return true;
}

}  // namespace

bool ParseSiteCommand(const std::vector<std::string>& arguments, SiteCommand* command,
                      std::string* error) {
    error->clear();
    bool keyer_given = false;
    for (std::size_t at = 0; at < arguments.size() && error->empty(); ++at) {
        const std::string& word = arguments[at];
        if (TakeOption(arguments, &at, "--config", &command->config_path, error)) {
            continue;
        }
        if (TakeOption(arguments, &at, "--keyer", &command->keyer_device, error)) {
            keyer_given = true;
            continue;
        }
        if (command->kind == SiteCommand::Kind::kConfig) {
            command->config_words.push_back(word);
        } else if (word == "--help" || word == "-h") {
            command->kind = SiteCommand::Kind::kHelp;
            return true;
        } else if (word == "--version") {
            command->kind = SiteCommand::Kind::kVersion;
            return true;
        } else if (word == "config") {
            command->kind = SiteCommand::Kind::kConfig;
        } else if (word == "key" && at + 1 < arguments.size() && arguments[at + 1] == "new") {
            command->kind = SiteCommand::Kind::kKeyNew;
            ++at;
        } else if (word == "key") {
            *error = "key needs 'new'";
        } else {
            *error = "unknown argument '" + word + "'";
        }
    }
    if (error->empty() && keyer_given && command->kind == SiteCommand::Kind::kConfig) {
        *error = "--keyer belongs to running the site, not to config";
    }
    if (error->empty() && keyer_given && command->kind == SiteCommand::Kind::kKeyNew) {
        *error = "--keyer belongs to running the site, not to key new";
    }
    if (error->empty() && command->kind == SiteCommand::Kind::kConfig &&
        command->config_words.empty()) {
        *error = "config needs 'show' or 'set NAME VALUE ...'";
    }
    return error->empty();
}

std::string SiteHelpText() {
    return std::string("pellmar-site ") + PELLMAR_VERSION_TEXT +
           ": a Pellmar station without a window, for the remote site.\n"
           "\n"
           "Usage:\n"
           "  pellmar-site [--config PATH] [--keyer DEVICE]\n"
           "      Opens the keyer and the link the configuration names and runs until\n"
           "      SIGTERM or SIGINT, which releases the keyer (key up, paddles, buffer\n"
           "      cleared, PTT off), ends host mode, closes the link and exits 0. A keyer\n"
           "      that cannot be opened or a port that cannot be bound exits 1. A\n"
           "      configuration that is missing, unreadable, says Network Off or has the\n"
           "      keyer's port off exits 6 with one line saying so. The configuration\n"
           "      file is only read; config set alone writes it.\n"
           "      What the window would show is written to standard output, one line\n"
           "      per event, each with its local time.\n"
           "  pellmar-site config show [--config PATH]\n"
           "      Prints every setting by the Setup dialog's names and values; writes\n"
           "      nothing.\n"
           "  pellmar-site config set [--config PATH] NAME VALUE [NAME VALUE ...]\n"
           "      Changes settings with the Setup dialog's own checks and messages, and\n"
           "      saves them only when every change passes. Quote names with blanks:\n"
           "      pellmar-site config set \"IP Port\" 7373 Role RemoteSide\n"
           "  pellmar-site key new [--config PATH]\n"
           "      Makes a new link key and writes it into the [Network] section of\n"
           "      pellmar.ini beside the configuration file, which must have no Key yet,\n"
           "      and prints the line to copy into the other station's .ini. Exits 1,\n"
           "      writing nothing, when there is a key already or none could be made or\n"
           "      written.\n"
           "  pellmar-site --help | --version\n"
           "\n"
           "Options:\n"
           "  --config PATH   the configuration file, the same 1832-byte file the Windows\n"
           "                  program writes (default " +
           kDefaultConfigPath +
           ").\n"
           "                  pellmar.ini beside it holds the link key, the allow list,\n"
           "                  the safety limits and [Keyer] Device; the log file\n"
           "                  pellmar.log is written beside it too.\n"
           "  --keyer DEVICE  the keyer's serial device, e.g. /dev/ttyUSB0 (default: the\n"
           "                  .ini's [Keyer] Device, else /dev/ttyS<n-1> for the record's\n"
           "                  COM port n).\n";
}

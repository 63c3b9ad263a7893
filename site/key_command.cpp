#include "site/key_command.h"

#include "forms/new_link_key.h"
#include "settings/ini_file.h"
#include "settings/ini_keys.h"
#include "site/file_access.h"

int RunKeyNewCommand(const std::string& config_path, std::ostream& out, std::ostream& err) {
    const NewLinkKey made = MakeNewLinkKey(config_path);
    if (!made.written) {
        err << made.message << '\n';
        return 1;
    }
    out << made.message << "\n\n" << made.key_line << '\n';
    return 0;
}

std::string ReadableKeyWarning(const std::string& config_path) {
    const std::string ini_path = IniPathFor(config_path);
    if (!ReadIniFile(ini_path).Value(ini_keys::kKey.section, ini_keys::kKey.name) ||
        !OthersMayRead(ini_path)) {
        return {};
    }
    const std::string name = ini_path.substr(ini_path.find_last_of('/') + 1);
    return name +
           " can be read by other users, and so can its link key: let only its owner "
           "and the site's group read it (chmod 640, its group the site's).";
}

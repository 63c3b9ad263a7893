#include "forms/new_link_key.h"

#include "settings/ini_file.h"
#include "settings/ini_keys.h"

NewLinkKey WriteNewLinkKey(const std::string& ini_path, const std::optional<LinkKey>& key,
                           Disk& disk) {
    if (!key) {
        return {false,
                "No link key was made: the system's secure random source failed. Nothing was "
                "written.",
                {}};
    }
    const std::string value = LinkKeyText(*key);
    switch (AddIniSetting(ini_path, ini_keys::kKey, value, disk)) {
        case IniAddResult::kAdded:
            return {true,
                    "A new link key is written into the [Network] section of " + ini_path +
                        ". Copy the line below into the [Network] section of the .ini at the "
                        "other station. Each station uses the key from its next Open, a site "
                        "from its next start.",
                    std::string(ini_keys::kKey.name) + " = " + value};
        case IniAddResult::kAlreadySet:
            return {false,
                    ini_path +
                        " has a link key already ([Network] Key), so no new one was written. "
                        "To change keys, delete that line, make a new key and copy it to the "
                        "other station too.",
                    {}};
        case IniAddResult::kUnreadable:
            return {false,
                    "No link key was written: " + ini_path +
                        " could not be read, or is too large to be settings; nothing was changed.",
                    {}};
        case IniAddResult::kNotWritten:
            break;
    }
    return {false,
            "No link key was written: " + ini_path + " could not be written; nothing was changed.",
            {}};
}

NewLinkKey MakeNewLinkKey(const std::string& config_path) {
    return WriteNewLinkKey(IniPathFor(config_path), MakeLinkKey());
}

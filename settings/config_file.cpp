#include "settings/config_file.h"

#include <cstddef>
#include <cstdio>
#include <cstring>

#include "settings/durable_file.h"
#include "settings/settings_record.h"

SettingsRecord settings;
std::string config_path;

namespace {

// Set when the file exists but this run could not read it; cleared by the first save, which
// only the operator asks for then.
bool stored_file_unread = false;

void TerminateTextFields() {
    // A file written by other means may fill a field to its end; every reader relies on a
    // terminator inside the field.
    settings.ip_address[kTextFieldSize - 1] = '\0';
    for (auto& message : settings.messages) {
        message[kTextFieldSize - 1] = '\0';
    }
}

}  // namespace

std::string ConfigTempPath() {
    return config_path + ".tmp";
}

void SetDefaultSettings() {
    settings.magic = kSettingsMagic;
    settings.com_port = 1;
    settings.reserved_one = 1;
    settings.open_at_startup = 0;
    PublishNetFlags(0);
    settings.ip_address[0] = '\0';
    settings.ip_port = 81;
    settings.keyer_settings = KeyerSettings{0, 16, 5, 50, 0, 0, 5, 20, 0, 0, 0, 50, 50, 0, 0};
    for (auto& message : settings.messages) {
        message[0] = '\0';
    }
}

bool WriteConfigImage(const std::string& path) {
    return WriteFileDurably(path, &settings, sizeof settings);
}

int SaveConfigFile() {
    const std::string temp_path = ConfigTempPath();
    // The marker tells a reader of the stored image that the program opens its link by
    // itself; in memory it is cleared again once the image is safely stored.
    if (settings.open_at_startup != 0) {
        settings.keyer_settings.sidetone |= kSidetoneStartupMarker;
    }
    // The old file stays untouched until a complete new image exists beside it, so a crash
    // or a full disk never leaves a truncated configuration behind.
    if (!WriteConfigImage(temp_path)) {
        std::remove(temp_path.c_str());
        return 0;
    }
    if (!ReplaceFileAtomically(temp_path, config_path)) {
        std::remove(temp_path.c_str());
        return 0;
    }
    settings.keyer_settings.sidetone &= static_cast<uint8_t>(~kSidetoneStartupMarker);
    stored_file_unread = false;
    return 1;
}

ConfigRead ReadConfigFile() {
    stored_file_unread = false;
    // A short file fills only the front of the record; the rest keeps what it held.
    std::size_t count = 0;
    switch (ReadFileStart(config_path, &settings, sizeof settings, &count)) {
        case FileReadResult::kMissing:
            SetDefaultSettings();
            return SaveConfigFile() != 0 ? ConfigRead::kRead : ConfigRead::kDefaultsNotSaved;
        case FileReadResult::kUnopenable:
        case FileReadResult::kReadFailed:
            // The file is there, and may hold the operator's messages and settings that
            // another program keeps open for a moment or a permission hides: they are never
            // replaced unasked. This run goes on with the defaults, not with half a read, and
            // only the operator's own save writes the file again.
            std::memset(&settings, 0, sizeof settings);
            SetDefaultSettings();
            stored_file_unread = true;
            return ConfigRead::kUnreadable;
        case FileReadResult::kRead:
            break;
    }
    if (settings.magic != kSettingsMagic) {
        SetDefaultSettings();
        if (SaveConfigFile() == 0) {
            TerminateTextFields();
            return ConfigRead::kDefaultsNotSaved;
        }
    }
    TerminateTextFields();
    return ConfigRead::kRead;
}

int SaveConfigFileAtClose() {
    if (stored_file_unread) {
        return 1;
    }
    return SaveConfigFile();
}

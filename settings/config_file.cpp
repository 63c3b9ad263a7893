#include "settings/config_file.h"

#include <cstdio>
#include <cstring>

#include "app/runtime_state.h"
#include "settings/durable_file.h"
#include "settings/settings_record.h"

SettingsRecord settings;

namespace {

constexpr const char kErrorCaption[] = "Error";

void TerminateTextFields() {
    // A file written by other means may fill a field to its end; every reader relies on a
    // terminator inside the field.
    settings.ip_address[kTextFieldSize - 1] = '\0';
    for (auto& message : settings.messages) {
        message[kTextFieldSize - 1] = '\0';
    }
}

int ReportSaveFailure() {
    ShowMessageBox(nullptr, "Save State Failed.", kErrorCaption);
    return 0;
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
    settings.net_flags = 0;
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
        return ReportSaveFailure();
    }
    if (!ReplaceFileAtomically(temp_path, config_path)) {
        std::remove(temp_path.c_str());
        return ReportSaveFailure();
    }
    settings.keyer_settings.sidetone &= static_cast<uint8_t>(~kSidetoneStartupMarker);
    return 1;
}

int ReadConfigFile(WindowHandle owner) {
    std::FILE* file = std::fopen(config_path.c_str(), "rb");
    if (file == nullptr) {
        SetDefaultSettings();
        SaveConfigFile();
        return 1;
    }
    // A short file fills only the front of the record; the rest keeps what it held.
    std::fread(&settings, 1, sizeof settings, file);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) {
        ShowMessageBox(owner, "Read config file failed.", kErrorCaption);
        return 0;
    }
    if (settings.magic != kSettingsMagic) {
        SetDefaultSettings();
        SaveConfigFile();
    }
    TerminateTextFields();
    return 1;
}

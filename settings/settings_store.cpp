#include "settings/settings_store.h"

#include <chrono>
#include <cstddef>
#include <cstring>
#include <thread>
#include <utility>

namespace {

// A backup or a virus scanner may hold the file for a moment while the machine starts; an
// unattended site waits that out rather than run on the defaults.
constexpr auto kUnreadableFilePatience = std::chrono::seconds(3);
constexpr auto kUnreadableFilePause = std::chrono::milliseconds(100);

bool IsUnreadable(FileReadResult result) {
    return result == FileReadResult::kUnopenable || result == FileReadResult::kReadFailed;
}

}  // namespace

SettingsStore::SettingsStore(std::string config_path, Disk& disk)
    : config_path_(std::move(config_path)), disk_(disk) {}

void SettingsStore::TerminateTextFields() {
    // A file written by other means may fill a field to its end; every reader relies on a
    // terminator inside the field.
    record_.ip_address[kTextFieldSize - 1] = '\0';
    for (auto& message : record_.messages) {
        message[kTextFieldSize - 1] = '\0';
    }
}

void SettingsStore::SetDefaults() {
    record_.magic = kSettingsMagic;
    record_.com_port = 1;
    record_.reserved_one = 1;
    record_.open_at_startup = 0;
    PublishNetFlags(0);
    record_.ip_address[0] = '\0';
    record_.ip_port = 81;
    record_.keyer_settings = KeyerSettings{0, 16, 5, 50, 0, 0, 5, 20, 0, 0, 0, 50, 50, 0, 0};
    for (auto& message : record_.messages) {
        message[0] = '\0';
    }
}

int SettingsStore::Save() {
    // The marker tells a reader of the stored image that the program opens its link by
    // itself. It goes into the image only: the record in memory is what the next attach
    // loads into the keyer, and a failed save must leave it exactly as it was.
    SettingsRecord image = record_;
    if (image.open_at_startup != 0) {
        image.keyer_settings.sidetone |= kSidetoneStartupMarker;
    }
    if (!ReplaceFileWhole(disk_, config_path_, &image, sizeof image)) {
        return 0;
    }
    // A marker loaded with the file has now been stored as this run wants it.
    record_.keyer_settings.sidetone &= static_cast<uint8_t>(~kSidetoneStartupMarker);
    stored_file_unread_ = false;
    return 1;
}

FileReadResult SettingsStore::ReadStartPatiently(std::size_t* count) {
    const auto give_up = std::chrono::steady_clock::now() + kUnreadableFilePatience;
    for (;;) {
        const FileReadResult result =
            disk_.ReadStart(config_path_, &record_, sizeof record_, count);
        if (!IsUnreadable(result) || std::chrono::steady_clock::now() >= give_up) {
            return result;
        }
        std::this_thread::sleep_for(kUnreadableFilePause);
    }
}

ConfigRead SettingsStore::Read() {
    stored_file_unread_ = false;
    // A short file fills only the front of the record; the rest keeps what it held.
    std::size_t count = 0;
    switch (ReadStartPatiently(&count)) {
        case FileReadResult::kMissing:
            SetDefaults();
            return Save() != 0 ? ConfigRead::kRead : ConfigRead::kDefaultsNotSaved;
        case FileReadResult::kUnopenable:
        case FileReadResult::kReadFailed:
            // The file is there, and may hold the operator's messages and settings that
            // another program keeps open for a moment or a permission hides: they are never
            // replaced unasked. This run goes on with the defaults, not with half a read, and
            // only the operator's own save writes the file again.
            std::memset(&record_, 0, sizeof record_);
            SetDefaults();
            stored_file_unread_ = true;
            return ConfigRead::kUnreadable;
        case FileReadResult::kRead:
            break;
    }
    if (record_.magic != kSettingsMagic) {
        SetDefaults();
        if (Save() == 0) {
            TerminateTextFields();
            return ConfigRead::kDefaultsNotSaved;
        }
    }
    TerminateTextFields();
    return ConfigRead::kRead;
}

int SettingsStore::SaveAtClose() {
    if (stored_file_unread_) {
        return 1;
    }
    return Save();
}

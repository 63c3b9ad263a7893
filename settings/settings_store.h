// One station's settings: the Settings record it runs on, and the configuration file that
// holds the record's 1832-byte image.
//
// Threads. The station's owning thread (the window's) reads the file, saves it and writes the
// record. The keyer reader and the message sender read fields without a lock: the stored
// messages, which change only while no message is going out, and the network flags, which the
// Setup dialog may change at any moment and which are therefore read and written only through
// NetFlags() and PublishNetFlags(), each one atomic access.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "settings/durable_file.h"
#include "settings/settings_record.h"

enum class ConfigRead {
    kRead,              // from the file, or defaults that are now stored in a new file
    kUnreadable,        // the file exists but could not be opened or read
    kDefaultsNotSaved,  // defaults, and the file that should hold them could not be written
};

class SettingsStore {
  public:
    // `config_path` is where the file lives; a store that is never read or saved needs none.
    // `disk` is where it is read and written.
    explicit SettingsStore(std::string config_path = {}, Disk& disk = MachineDisk());

    SettingsRecord& record() { return record_; }
    const SettingsRecord& record() const { return record_; }
    const std::string& config_path() const { return config_path_; }

    // The mode and the role decide what other threads send; a reader sees the old flags or
    // the new ones, never a mix.
    uint32_t NetFlags() const { return __atomic_load_n(&record_.net_flags, __ATOMIC_ACQUIRE); }
    void PublishNetFlags(uint32_t flags) {
        __atomic_store_n(&record_.net_flags, flags, __ATOMIC_RELEASE);
    }
    uint32_t NetMode() const { return NetFlags() & kNetModeMask; }
    uint32_t NetRole() const { return NetFlags() & kNetRoleMask; }

    // Fills the record from the file, or with defaults (and then creates a missing file).
    // A file that exists but cannot be read is tried again for a few seconds; if it stays
    // unreadable the run goes on with the defaults, and the file is left as it is until the
    // operator agrees to replace it. The caller tells the operator what went wrong.
    ConfigRead Read();

    // The file holds what this run could not read: a save would replace it unseen.
    bool StoredFileUnread() const { return stored_file_unread_; }

    // The defaults of every field that has one; other bytes are left as they are.
    void SetDefaults();

    // Writes the whole record. Returns 1, or 0 when it did not reach the disk (the old file
    // and the record are then left as they were); the caller tells the operator.
    int Save();

    // The save that comes with closing the keyer, which the operator does not ask for: it is
    // skipped (and 1 returned) while the file holds what this run could not read.
    int SaveAtClose();

    // The file that a save writes first and then moves over the configuration file.
    std::string TempPath() const { return TemporaryPathFor(config_path_); }

  private:
    FileReadResult ReadStartPatiently(std::size_t* count);
    void TerminateTextFields();

    SettingsRecord record_{};
    std::string config_path_;
    Disk& disk_;
    // Set when the file exists but this run could not read it; cleared by the first save,
    // which only the operator asks for, and agrees to, then.
    bool stored_file_unread_ = false;
};

// The configuration file: the 1832-byte image of the Settings record, kept next to the
// program under `config_path`.
#pragma once

#include <string>

// Where the file lives: fixed by program start, before any other thread exists.
extern std::string config_path;

enum class ConfigRead {
    kRead,              // from the file, or defaults that are now stored in a new file
    kUnreadable,        // the file exists but could not be opened or read
    kDefaultsNotSaved,  // defaults, and the file that should hold them could not be written
};

// Fills `settings` from the file, or with defaults (and then creates a missing file). When
// the file exists but could not be read the run goes on with the defaults, and the file is
// left as it is until the operator saves. The caller tells the operator what went wrong.
ConfigRead ReadConfigFile();

// The defaults of every field that has one; other bytes are left as they are.
void SetDefaultSettings();

// Writes the whole record. Returns 1, or 0 when it did not reach the disk (the old file is
// then left as it was); the caller tells the operator.
int SaveConfigFile();

// The save that comes with closing the keyer, which the operator does not ask for: it is
// skipped (and 1 returned) while the file holds what this run could not read.
int SaveConfigFileAtClose();

// The file that a save writes first and then moves over the configuration file.
std::string ConfigTempPath();

// Writes the record's 1832 bytes as they stand to `path` and forces them to the disk.
// Returns true only when every byte got there. A save is this, then the replace.
bool WriteConfigImage(const std::string& path);

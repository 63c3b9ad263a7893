// The configuration file: the 1832-byte image of the Settings record, kept next to the
// program under `config_path`.
#pragma once

#include <string>

#include "app/window.h"

// Fills `settings` from the file, or with defaults (and then creates the file). Returns 1,
// or 0 after a failed read, which is reported in a message box owned by `owner`.
int ReadConfigFile(WindowHandle owner);

// The defaults of every field that has one; other bytes are left as they are.
void SetDefaultSettings();

// Writes the whole record. Returns 1, or 0 after a failure, which is reported.
int SaveConfigFile();

// The file that a save writes first and then moves over the configuration file.
std::string ConfigTempPath();

// Writes the record's 1832 bytes as they stand to `path` and forces them to the disk.
// Returns true only when every byte got there. A save is this, then the replace.
bool WriteConfigImage(const std::string& path);

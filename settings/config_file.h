// The configuration file: the 1832-byte image of the Settings record, kept next to the
// program under `config_path`.
#pragma once

#include <string>

#include "app/window.h"

// Fills `settings` from the file, or with defaults (and then creates a missing file). Returns
// 1, or 0 when the file exists but could not be opened or read: that is reported in a
// message box owned by `owner`, the run goes on with the defaults, and the file is left as
// it is until the operator saves.
int ReadConfigFile(WindowHandle owner);

// The defaults of every field that has one; other bytes are left as they are.
void SetDefaultSettings();

// Writes the whole record. Returns 1, or 0 after a failure, which is reported.
int SaveConfigFile();

// The save that comes with closing the keyer, which the operator does not ask for: it is
// skipped (and 1 returned) while the file holds what this run could not read.
int SaveConfigFileAtClose();

// The file that a save writes first and then moves over the configuration file.
std::string ConfigTempPath();

// Writes the record's 1832 bytes as they stand to `path` and forces them to the disk.
// Returns true only when every byte got there. A save is this, then the replace.
bool WriteConfigImage(const std::string& path);

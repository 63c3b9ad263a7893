// `pellmar-site key new`: a new link key written into the .ini beside the configuration file,
// as the Windows program's "Make a Link Key..." writes it.
#pragma once

#include <ostream>
#include <string>

// What was written and the line to copy go to `out`; why nothing was, to `err`. Returns 0 when
// the key is written, 1 when there is a key already, the random source failed or the file could
// not be read or written (then the file is as it was).
int RunKeyNewCommand(const std::string& config_path, std::ostream& out, std::ostream& err);

// The start's warning when the .ini beside `config_path` holds a link key that other users may
// read; empty when it does not.
std::string ReadableKeyWarning(const std::string& config_path);

// `pellmar-site config`: the Setup dialog from a shell. `show` lists what the dialog would
// show for the configuration file, and writes nothing; `set` changes the named controls, as a
// person would, and presses "Done", so a setting reaches the file only through the dialog's own
// checks, its refusal messages and its save.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "keyer/serial_port.h"

// `words` follow `config`: "show", or "set" and NAME VALUE pairs. The dialog lists the keyer
// ports that `ports` finds. Settings go to `out`, refusals and problems to `err`. Returns 0
// when done, 1 when the dialog refused a value or the file could not be read or saved (or,
// for `show`, holds no configuration yet), 2 for a bad use (then nothing is saved).
int RunConfigCommand(const std::vector<std::string>& words, const std::string& config_path,
                     const KeyerPortPlace& ports, std::ostream& out, std::ostream& err);

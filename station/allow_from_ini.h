// Who may connect, as the `.ini`'s `[Network]` says. A station with a transmitter behind it
// must not be opened by a slip of the keyboard, so the section is trusted only when nothing in
// it is wrong: a heading that could not be read, a key set twice, a line that means nothing, a
// value or an entry of AllowFrom that is not what it must be, or a file that could not be read
// at all (whose `[Network]` is unknown) leaves only loopback allowed, until the file is
// mended and read again at an Open.
#pragma once

#include <string>
#include <vector>

#include "net/allow_list.h"
#include "settings/ini_file.h"

struct AllowFromIni {
    AllowList list;
    // The Connect log's lines of what is wrong, the last saying that only loopback may
    // connect; none when the section is sound.
    std::vector<std::string> problems;
};

AllowFromIni AllowFromIniSettings(const IniSettings& ini);

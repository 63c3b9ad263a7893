// Making a link key at the operator's request, the same in both programs: a new key from the
// secure random source, written into the `[Network]` section of the .ini beside the
// configuration file when that has no key yet, and what the operator is told of it: where it
// went and the line to copy to the other station, or why there is none. Keys are never typed
// by hand, so this is the one way a key comes to be.
#pragma once

#include <optional>
#include <string>

#include "net/link_key.h"
#include "settings/durable_file.h"

struct NewLinkKey {
    bool written = false;
    // Where the key went, or why no key was made or written.
    std::string message;
    // The .ini's line to copy to the other station; empty when no key was written.
    std::string key_line;
};

// `key` (MakeLinkKey's, so nothing when the random source failed) into the .ini at `ini_path`.
NewLinkKey WriteNewLinkKey(const std::string& ini_path, const std::optional<LinkKey>& key,
                           Disk& disk = MachineDisk());
// A key made now, into the .ini beside the configuration file at `config_path`.
NewLinkKey MakeNewLinkKey(const std::string& config_path);

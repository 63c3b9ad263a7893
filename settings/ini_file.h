// The `.ini` file beside the configuration file: settings the 1832-byte record has no room
// for (who may connect, the limits on keying from the link), written by the operator in a
// text editor, and the Main window's place, which the program keeps there itself.
//
// The file is optional. The program writes one section of it, `[Window]`, and nothing else:
// every other byte stays as the operator wrote it (comments, order, other sections, line
// ends), so a write replaces the section's own settings line by line and adds what is
// missing, through a temporary file moved over the old one.
//
// A station left alone must come up whatever the file holds, so nothing in it is fatal. A
// missing file is simply no settings; a line that means nothing is reported (with its number
// and text, for the Connect log) and skipped; a value that is not what its key takes is
// reported and the key's default used. Only a file too large to be the operator's is refused
// as a whole.
//
// The syntax is the common one: `[Section]` headings, `key = value` lines, and comment lines
// that begin with `;` or `#`. A comment is a whole line: a `;` after a value belongs to the
// value, so `AllowFrom = 10.0.0.0/8 ; office` is an entry the allow list refuses rather
// than one it reads in a way the operator did not mean. Names of sections and keys match
// whatever their case, blanks around names and values do not count, and the last of two
// equal keys in a section wins.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "settings/durable_file.h"

// No operator writes this much by hand; a file this large is something else under the name.
constexpr std::size_t kIniFileLargest = 64 * 1024;

struct IniProblem {
    int line;             // the file's line, 1 for the first; 0 for the file as a whole
    std::string message;  // a Connect log line naming the file, the line and what is wrong
};

class IniSettings {
  public:
    // The value as written, blanks around it removed; nothing when the key is not there.
    std::optional<std::string> Value(std::string_view section, std::string_view key) const;

    // A whole number of seconds from 0 to `most`, or `fallback` when the key is not there.
    // A value that is not such a number is reported once and `fallback` used.
    uint32_t Seconds(std::string_view section, std::string_view key, uint32_t fallback,
                     uint32_t most);
    // yes/no, true/false, on/off or 1/0 in any case, or `fallback` when the key is not
    // there; anything else is reported once and `fallback` used.
    bool YesNo(std::string_view section, std::string_view key, bool fallback);

    // What reading the file and the typed values found wrong, in the order found.
    const std::vector<IniProblem>& problems() const { return problems_; }

  private:
    friend IniSettings ParseIniText(std::string_view text, const std::string& file_name);
    friend IniSettings ReadIniFile(const std::string& path, Disk& disk);
    struct Entry {
        std::string value;
        int line;
    };
    const Entry* Find(std::string_view section, std::string_view key) const;
    void ReportValue(const Entry& entry, std::string_view key, const std::string& wanted,
                     const std::string& used);

    std::string file_name_;
    // Keyed by the lower-case section name, then the lower-case key.
    std::map<std::string, std::map<std::string, Entry>> sections_;
    std::vector<IniProblem> problems_;
};

// The file's text as the reader takes it; `file_name` is how the problems name the file.
IniSettings ParseIniText(std::string_view text, const std::string& file_name);

// Reads the file at `path`. A file that is not there gives no settings and no problem; one
// that cannot be read or is larger than kIniFileLargest gives no settings and says why.
IniSettings ReadIniFile(const std::string& path, Disk& disk = MachineDisk());

// `text` with `entries` (key and value) set in `section`: each replaces the first line of its
// key there (a later one of the same key goes), and those the section lacks follow its last
// setting; a file without the section gets it at its end.
using IniEntries = std::vector<std::pair<std::string, std::string>>;
std::string WithIniSection(std::string_view text, std::string_view section,
                           const IniEntries& entries);
// The same for the file at `path`, a missing one created. False when it could not be written,
// or could not be read (a file held, or too large to be the operator's), which is then left as
// it is.
bool WriteIniSection(const std::string& path, std::string_view section, const IniEntries& entries,
                     Disk& disk = MachineDisk());

// The operator's text as one line of the Connect log shows it: in quotes, control characters
// as `?`, and cut short with `...` when it is long.
std::string QuotedForLog(std::string_view text);

// A file beside the configuration file: the last extension of the file name replaced by
// `extension` (`pellmar.cfg` -> `pellmar.ini`), or `extension` added to a name without one; a
// dot in a folder's name is not an extension.
std::string SiblingPathFor(const std::string& config_path, std::string_view extension);
inline std::string IniPathFor(const std::string& config_path) {
    return SiblingPathFor(config_path, ".ini");
}

// How long Tune and paddle input that came over the link may hold the key at a RemoteSide;
// 0 means no limit.
struct SafetyLimits {
    uint32_t tune_seconds = 30;
    uint32_t paddle_seconds = 15;
};
SafetyLimits SafetyLimitsFrom(IniSettings& ini);

// `[Network]` `Reconnect`: whether a Net Client whose link ended tries its server again by
// itself; yes unless the operator says no.
bool ReconnectFrom(IniSettings& ini);

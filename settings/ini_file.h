// The `.ini` file beside the configuration file: settings the 1832-byte record has no room
// for (who may connect, the limits on keying from the link, a site's keyer device), written by
// the operator in a text editor, and the Main window's place, which the program keeps there
// itself. Its keys are the table's in ini_keys.h.
//
// The file is optional. The program writes one section of it, `[Window]`, and, when asked to
// make one, a link key into a `[Network]` section that has none; nothing else: every other
// byte stays as the operator wrote it (comments, order, other sections, line ends), so a write
// replaces the section's own settings line by line and adds what is missing, through a
// temporary file moved over the old one.
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
// equal keys in a section wins; a section whose settings must be what the operator meant
// asks ProblemsIn, which counts the repeat as a problem of the section.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "settings/durable_file.h"
#include "settings/ini_keys.h"

// No operator writes this much by hand; a file this large is something else under the name.
constexpr std::size_t kIniFileLargest = 64 * 1024;

struct IniProblem {
    int line;             // the file's line, 1 for the first; 0 for the file as a whole
    std::string message;  // a Connect log line naming the file, the line and what is wrong
    // The section the line is in, in lower case: for a heading that could not be read, the
    // name it seems to give; empty before the first heading and for the file as a whole.
    std::string section;
};

class IniSettings {
  public:
    // The value as written, blanks around it removed; nothing when the key is not there.
    std::optional<std::string> Value(std::string_view section, std::string_view key) const;

    // Each reads the key of its kind. A key that is not there gives its fallback; a value that
    // fails the kind's check is reported once and the fallback used.
    // kText and kAddresses: the value as written.
    std::string Text(const IniKey& key) const;
    // kSeconds: a whole number of seconds from 0 to the key's `most`.
    uint32_t Seconds(const IniKey& key);
    // kYesNo.
    bool YesNo(const IniKey& key);
    // kPort.
    uint16_t Port(const IniKey& key);
    // kAutoOrMilliseconds: nothing for auto.
    std::optional<uint32_t> AutoOrMilliseconds(const IniKey& key);
    // kCoordinate: nothing for a value that is not one either, which is not reported: only
    // the program writes it.
    std::optional<int> Coordinate(const IniKey& key) const;

    // What reading the file and the typed values found wrong, in the order found.
    const std::vector<IniProblem>& problems() const { return problems_; }
    // The problems of one section (any case), and each key set in it again, first the lines
    // that mean nothing and the values, then the repeats.
    std::vector<IniProblem> ProblemsIn(std::string_view section) const;

  private:
    friend IniSettings ParseIniText(std::string_view text, const std::string& file_name);
    friend IniSettings ReadIniFile(const std::string& path, Disk& disk);
    struct Entry {
        std::string value;
        int line = 0;
    };
    // A `key = value` line in `section`, which ParseIniText found; `key` as written.
    void TakeSetting(std::map<std::string, Entry>* section, const std::string& section_name,
                     std::string_view key, std::string_view value, int line);
    const Entry* Find(std::string_view section, std::string_view key) const;
    const Entry* Find(const IniKey& key) const { return Find(key.section, key.name); }
    void ReportValue(const Entry& entry, const IniKey& key);

    std::string file_name_;
    // Keyed by the lower-case section name, then the lower-case key.
    std::map<std::string, std::map<std::string, Entry>> sections_;
    std::vector<IniProblem> problems_;
    std::vector<IniProblem> repeats_;
};

// The file's text as the reader takes it; `file_name` is how the problems name the file.
IniSettings ParseIniText(std::string_view text, const std::string& file_name);

// Reads the file at `path`. A file that is not there gives no settings and no problem; one
// that cannot be read or is larger than kIniFileLargest gives no settings and says why.
IniSettings ReadIniFile(const std::string& path, Disk& disk = MachineDisk());

// A setting the program writes.
struct IniEntry {
    std::string key;
    std::string value;
};

// `text` with `entries` set in `section`: each replaces the first line of its key there (a
// later one of the same key goes), and those the section lacks follow its last setting; a file
// without the section gets it at its end.
std::string WithIniSection(std::string_view text, std::string_view section,
                           const std::vector<IniEntry>& entries);
// The same for the file at `path`, a missing one created. False when it could not be written,
// or could not be read (a file held, or too large to be the operator's), which is then left as
// it is.
bool WriteIniSection(const std::string& path, std::string_view section,
                     const std::vector<IniEntry>& entries, Disk& disk = MachineDisk());

// What AddIniSetting did.
enum class IniAddResult {
    kAdded,
    kAlreadySet,  // the section has the key, whatever its value: the file is left as it is
    kUnreadable,  // the file is there but could not be read, or is too large to be the
                  // operator's: left as it is
    kNotWritten,  // the new file could not be written: the old one is left as it is
};
// `key = value` added to the file at `path` when the key's section does not have it yet (the
// section added at the end when there is none, a missing file created), every other byte kept.
IniAddResult AddIniSetting(const std::string& path, const IniKey& key, const std::string& value,
                           Disk& disk = MachineDisk());

// The operator's text as one line of the Connect log shows it: in quotes, control characters
// as `?`, and cut short with `...` when it is long.
std::string QuotedForLog(std::string_view text);

// The Connect log line for `entry`, one of a list that `key` holds (kAddresses), which its
// reader could not take and so left out.
std::string MalformedEntryLine(const IniKey& key, std::string_view entry);

// A file beside the configuration file: the last extension of the file name replaced by
// `extension` (`pellmar.cfg` -> `pellmar.ini`), or `extension` added to a name without one; a
// dot in a folder's name is not an extension.
std::string SiblingPathFor(const std::string& config_path, std::string_view extension);
inline std::string IniPathFor(const std::string& config_path) {
    return SiblingPathFor(config_path, ".ini");
}

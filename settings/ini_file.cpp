#include "settings/ini_file.h"

#include <utility>

#include "settings/durable_file.h"
#include "settings/field_number.h"

namespace {

constexpr std::string_view kBlanks = " \t\r";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
// Enough of a line for the operator to find it; the log is no place for a whole file.
constexpr std::size_t kQuotedLongest = 60;
// Far beyond any screen; more digits than this are no coordinate.
constexpr std::size_t kCoordinateDigits = 6;

std::string_view Trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

std::string Lower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return lower;
}

std::string FileNameOf(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A heading's name, or nothing when the line is not a well-formed heading.
std::optional<std::string_view> HeadingName(std::string_view line) {
    if (line.size() < 2 || line.front() != '[' || line.back() != ']') {
        return std::nullopt;
    }
    const std::string_view name = Trimmed(line.substr(1, line.size() - 2));
    if (name.empty() || name.find_first_of("[]") != std::string_view::npos) {
        return std::nullopt;
    }
    return name;
}

// The section a heading that could not be read seems to name: what follows its `[`, up to a
// `]` or the line's end, so that `[Network` and `[Network] ; office` both count as
// `[Network]`'s.
std::string SeemingHeadingName(std::string_view line) {
    const std::string_view name = line.substr(1, line.find(']') - 1);
    return Lower(Trimmed(name));
}

// One byte more than kIniFileLargest at most, which tells a file at the limit from a larger one.
FileReadResult ReadAtMostLargest(const std::string& path, Disk& disk, std::string* text) {
    text->resize(kIniFileLargest + 1);
    std::size_t count = 0;
    const FileReadResult result = disk.ReadStart(path, text->data(), text->size(), &count);
    text->resize(result == FileReadResult::kRead ? count : 0);
    return result;
}

// The whole file, to be written back changed; false when it is there but could not be read,
// or is too large to be the operator's. A missing file is an empty one.
bool ReadToRewrite(const std::string& path, Disk& disk, std::string* text) {
    const FileReadResult read = ReadAtMostLargest(path, disk, text);
    return (read == FileReadResult::kRead || read == FileReadResult::kMissing) &&
           text->size() <= kIniFileLargest;
}

// The key of a setting line (trimmed, lower case), or nothing for any other line.
std::optional<std::string> SettingKey(std::string_view line) {
    line = Trimmed(line);
    const std::size_t equals = line.find('=');
    if (line.empty() || line.front() == ';' || line.front() == '#' || line.front() == '[' ||
        equals == std::string_view::npos || Trimmed(line.substr(0, equals)).empty()) {
        return std::nullopt;
    }
    return Lower(Trimmed(line.substr(0, equals)));
}

// What a value of the key's kind must be, as the Connect log says it. Text and coordinates
// are never reported.
std::string Wanted(const IniKey& key) {
    switch (key.kind) {
        case IniValueKind::kYesNo:
            return "yes or no";
        case IniValueKind::kSeconds:
            return "a whole number of seconds from 0 to " + std::to_string(key.most);
        case IniValueKind::kPort:
            return "a port number from 0 to 65535";
        case IniValueKind::kAutoOrMilliseconds:
            return "auto or a whole number of milliseconds from 0 to " + std::to_string(key.most);
        case IniValueKind::kAddresses:
            return "an address, a block of addresses or any";
        case IniValueKind::kText:
        case IniValueKind::kCoordinate:
            break;
    }
    return {};
}

// yes/no, true/false, on/off or 1/0 in any case; nothing for anything else.
std::optional<bool> YesFromText(std::string_view text) {
    const std::string value = Lower(text);
    for (const char* yes : {"yes", "true", "on", "1"}) {
        if (value == yes) {
            return true;
        }
    }
    for (const char* no : {"no", "false", "off", "0"}) {
        if (value == no) {
            return false;
        }
    }
    return std::nullopt;
}

// New lines end as the operator's do; a file without any gets Windows' line ends.
std::string LineEndOf(std::string_view text) {
    return text.find("\r\n") != std::string_view::npos ? "\r\n"
           : text.find('\n') != std::string_view::npos ? "\n"
                                                       : "\r\n";
}

// The file as WithIniSection copies it, a line at a time, and where it has got to.
struct SectionWalk {
    SectionWalk(std::string_view section, const std::vector<IniEntry>& entries,
                std::string line_end)
        : section(section),
          entries(entries),
          line_end(std::move(line_end)),
          written(entries.size(), false) {}

    std::string_view section;
    const std::vector<IniEntry>& entries;
    std::string line_end;
    std::vector<bool> written;
    std::string result;
    bool in_section = false;
    bool in_first_section = false;
    // Where the settings the section lacks go: after the first such section's last setting.
    std::optional<std::size_t> insert_at;
};

void TakeHeading(SectionWalk& walk, std::string_view raw, std::string_view line) {
    const std::optional<std::string_view> name = HeadingName(line);
    walk.in_section = name && Lower(*name) == Lower(walk.section);
    walk.in_first_section = walk.in_section && !walk.insert_at;
    walk.result += raw;
    if (walk.in_first_section) {
        walk.insert_at = walk.result.size();
    }
}

// Any other line: one of the section's settings is replaced, the rest copied.
void TakeLine(SectionWalk& walk, std::string_view raw, std::string_view line) {
    const std::optional<std::string> key = walk.in_section ? SettingKey(line) : std::nullopt;
    std::size_t entry = 0;
    while (key && entry < walk.entries.size() && Lower(walk.entries[entry].key) != *key) {
        ++entry;
    }
    if (key && entry < walk.entries.size()) {
        if (walk.written[entry]) {
            return;  // a later line of a key already set would win over it
        }
        walk.written[entry] = true;
        const std::string_view ending = raw.substr(raw.find_last_not_of("\r\n") + 1);
        walk.result += walk.entries[entry].key + " = " + walk.entries[entry].value +
                       (raw.back() == '\n' ? std::string(ending) : walk.line_end);
    } else {
        walk.result += raw;
    }
    if (key && walk.in_first_section) {
        walk.insert_at = walk.result.size();
    }
}

// The settings the section lacks, after its last setting, or in a section of their own at
// the end.
std::string WithMissingEntries(SectionWalk& walk) {
    std::string missing;
    for (std::size_t entry = 0; entry < walk.entries.size(); ++entry) {
        if (!walk.written[entry]) {
            missing += walk.entries[entry].key + " = " + walk.entries[entry].value + walk.line_end;
        }
    }
    if (!walk.insert_at) {
        missing = "[" + std::string(walk.section) + "]" + walk.line_end + missing;
        if (!walk.result.empty()) {
            missing = walk.line_end + missing;  // a blank line before the new section
        }
        walk.insert_at = walk.result.size();
    }
    if (*walk.insert_at > 0 && walk.result[*walk.insert_at - 1] != '\n') {
        missing = walk.line_end + missing;
    }
    return walk.result.insert(*walk.insert_at, missing);
}

}  // namespace

IniSettings ParseIniText(std::string_view text, const std::string& file_name) {
    IniSettings ini;
    ini.file_name_ = file_name;
    if (text.substr(0, kUtf8Bom.size()) == kUtf8Bom) {
        text.remove_prefix(kUtf8Bom.size());
    }
    // Settings before any heading belong to the unnamed section; those under a heading that
    // could not be read belong to none, so they never land in the section above it.
    std::map<std::string, IniSettings::Entry>* section = &ini.sections_[""];
    std::string section_name;
    int number = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view raw = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        ++number;
        const std::string_view line = Trimmed(raw);
        if (line.empty() || line.front() == ';' || line.front() == '#') {
            continue;
        }
        if (line.front() == '[') {
            const std::optional<std::string_view> name = HeadingName(line);
            section_name = name ? Lower(*name) : SeemingHeadingName(line);
            section = name ? &ini.sections_[section_name] : nullptr;
            if (name) {
                continue;
            }
        } else if (const std::size_t equals = line.find('='); equals != std::string_view::npos) {
            const std::string_view key = Trimmed(line.substr(0, equals));
            if (!key.empty()) {
                if (section != nullptr) {
                    ini.TakeSetting(section, section_name, key, line.substr(equals + 1), number);
                }
                continue;
            }
        }
        ini.problems_.push_back(
            {number,
             file_name + " line " + std::to_string(number) +
                 " is not a section, a setting or a comment: " + QuotedForLog(line),
             section_name});
    }
    return ini;
}

void IniSettings::TakeSetting(std::map<std::string, Entry>* section,
                              const std::string& section_name, std::string_view key,
                              std::string_view value, int line) {
    Entry& entry = (*section)[Lower(key)];
    if (entry.line != 0) {
        repeats_.push_back({line,
                            file_name_ + " line " + std::to_string(line) + " sets " +
                                QuotedForLog(key) + " again, as line " +
                                std::to_string(entry.line) + " did.",
                            section_name});
    }
    entry = {std::string(Trimmed(value)), line};
}

IniSettings ReadIniFile(const std::string& path, Disk& disk) {
    const std::string name = FileNameOf(path);
    std::string text;
    switch (ReadAtMostLargest(path, disk, &text)) {
        case FileReadResult::kMissing:
            return ParseIniText({}, name);
        case FileReadResult::kUnopenable:
        case FileReadResult::kReadFailed: {
            IniSettings none = ParseIniText({}, name);
            none.problems_.push_back({0,
                                      name + " could not be read; none of its settings "
                                             "are used.",
                                      ""});
            return none;
        }
        case FileReadResult::kRead:
            break;
    }
    if (text.size() > kIniFileLargest) {
        IniSettings none = ParseIniText({}, name);
        none.problems_.push_back(
            {0,
             name + " is larger than " + std::to_string(kIniFileLargest / 1024) +
                 " KiB, so it is not an operator's settings; none of them are used.",
             ""});
        return none;
    }
    return ParseIniText(text, name);
}

const IniSettings::Entry* IniSettings::Find(std::string_view section, std::string_view key) const {
    const auto found_section = sections_.find(Lower(section));
    if (found_section == sections_.end()) {
        return nullptr;
    }
    const auto found = found_section->second.find(Lower(key));
    return found == found_section->second.end() ? nullptr : &found->second;
}

std::optional<std::string> IniSettings::Value(std::string_view section,
                                              std::string_view key) const {
    const Entry* entry = Find(section, key);
    if (entry == nullptr) {
        return std::nullopt;
    }
    return entry->value;
}

void IniSettings::ReportValue(const Entry& entry, const IniKey& key) {
    for (const IniProblem& problem : problems_) {
        if (problem.line == entry.line) {
            return;
        }
    }
    problems_.push_back({entry.line,
                         file_name_ + " line " + std::to_string(entry.line) + ": " +
                             std::string(key.name) + " " + QuotedForLog(entry.value) + " is not " +
                             Wanted(key) + "; " +
                             (key.fallback.empty() ? std::string("the line is ignored.")
                                                   : std::string(key.fallback) + " is used."),
                         Lower(key.section)});
}

std::vector<IniProblem> IniSettings::ProblemsIn(std::string_view section) const {
    const std::string name = Lower(section);
    std::vector<IniProblem> found;
    for (const std::vector<IniProblem>* list : {&problems_, &repeats_}) {
        for (const IniProblem& problem : *list) {
            if (problem.section == name) {
                found.push_back(problem);
            }
        }
    }
    return found;
}

std::string IniSettings::Text(const IniKey& key) const {
    return Value(key.section, key.name).value_or(std::string(key.fallback));
}

uint32_t IniSettings::Seconds(const IniKey& key) {
    const uint32_t fallback = UnsignedFromText(std::string(key.fallback)).value_or(0);
    const Entry* entry = Find(key);
    if (entry == nullptr) {
        return fallback;
    }
    const std::optional<uint32_t> seconds = UnsignedFromText(entry->value);
    if (!seconds || *seconds > key.most) {
        ReportValue(*entry, key);
        return fallback;
    }
    return *seconds;
}

uint16_t IniSettings::Port(const IniKey& key) {
    constexpr uint32_t kHighestPort = 65535;
    const uint32_t fallback = UnsignedFromText(std::string(key.fallback)).value_or(0);
    const Entry* entry = Find(key);
    if (entry == nullptr) {
        return static_cast<uint16_t>(fallback);
    }
    const std::optional<uint32_t> port = UnsignedFromText(entry->value);
    if (!port || *port > kHighestPort) {
        ReportValue(*entry, key);
        return static_cast<uint16_t>(fallback);
    }
    return static_cast<uint16_t>(*port);
}

std::optional<uint32_t> IniSettings::AutoOrMilliseconds(const IniKey& key) {
    // auto, and a fallback that is not a number, are both nothing.
    const std::optional<uint32_t> fallback = UnsignedFromText(std::string(key.fallback));
    const Entry* entry = Find(key);
    if (entry == nullptr) {
        return fallback;
    }
    if (Lower(entry->value) == "auto") {
        return std::nullopt;
    }
    const std::optional<uint32_t> milliseconds = UnsignedFromText(entry->value);
    if (!milliseconds || *milliseconds > key.most) {
        ReportValue(*entry, key);
        return fallback;
    }
    return milliseconds;
}

bool IniSettings::YesNo(const IniKey& key) {
    return YesNoIfSet(key).value_or(YesFromText(key.fallback).value_or(false));
}

std::optional<bool> IniSettings::YesNoIfSet(const IniKey& key) {
    const Entry* entry = Find(key);
    if (entry == nullptr) {
        return std::nullopt;
    }
    const std::optional<bool> yes = YesFromText(entry->value);
    if (!yes) {
        ReportValue(*entry, key);
    }
    return yes;
}

std::optional<int> IniSettings::Coordinate(const IniKey& key) const {
    const Entry* entry = Find(key);
    const std::string value = entry == nullptr ? std::string(key.fallback) : entry->value;
    const bool negative = !value.empty() && value.front() == '-';
    const std::optional<uint32_t> size =
        UnsignedFromText(value.substr(negative ? 1 : 0), kCoordinateDigits);
    if (!size) {
        return std::nullopt;
    }
    return negative ? -static_cast<int>(*size) : static_cast<int>(*size);
}

std::string QuotedForLog(std::string_view text) {
    std::string shown;
    for (char c : text.substr(0, kQuotedLongest)) {
        const auto byte = static_cast<unsigned char>(c);
        shown += byte < 0x20 || byte == 0x7F ? '?' : c;
    }
    if (text.size() > kQuotedLongest) {
        // Never end inside a UTF-8 character.
        while (!shown.empty() && (static_cast<unsigned char>(shown.back()) & 0xC0) == 0x80) {
            shown.pop_back();
        }
        if (!shown.empty() && static_cast<unsigned char>(shown.back()) >= 0xC0) {
            shown.pop_back();
        }
        shown += "...";
    }
    return '"' + shown + '"';
}

std::string MalformedEntryLine(const IniKey& key, std::string_view entry) {
    return std::string(key.name) + " entry " + QuotedForLog(entry) + " is not " + Wanted(key) +
           "; it is left out.";
}

std::string SiblingPathFor(const std::string& config_path, std::string_view extension) {
    const std::size_t name_start = config_path.find_last_of("/\\") + 1;  // npos + 1 is 0
    const std::size_t dot = config_path.rfind('.');
    // A name that only begins with a dot (".pellmar") has no extension to replace.
    if (dot == std::string::npos || dot <= name_start) {
        return config_path + std::string(extension);
    }
    return config_path.substr(0, dot) + std::string(extension);
}

std::string WithIniSection(std::string_view text, std::string_view section,
                           const std::vector<IniEntry>& entries) {
    SectionWalk walk(section, entries, LineEndOf(text));
    if (text.substr(0, kUtf8Bom.size()) == kUtf8Bom) {
        walk.result = kUtf8Bom;
        text.remove_prefix(kUtf8Bom.size());
    }
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view raw = text.substr(0, end == std::string_view::npos ? end : end + 1);
        text.remove_prefix(raw.size());
        const std::string_view line = Trimmed(raw.substr(0, raw.find('\n')));
        if (!line.empty() && line.front() == '[') {
            TakeHeading(walk, raw, line);
        } else {
            TakeLine(walk, raw, line);
        }
    }
    return WithMissingEntries(walk);
}

bool WriteIniSection(const std::string& path, std::string_view section,
                     const std::vector<IniEntry>& entries, Disk& disk) {
    std::string text;
    if (!ReadToRewrite(path, disk, &text)) {
        return false;
    }
    const std::string written = WithIniSection(text, section, entries);
    return ReplaceFileWhole(disk, path, written.data(), written.size());
}

IniAddResult AddIniSetting(const std::string& path, const IniKey& key, const std::string& value,
                           Disk& disk) {
    std::string text;
    if (!ReadToRewrite(path, disk, &text)) {
        return IniAddResult::kUnreadable;
    }
    if (ParseIniText(text, FileNameOf(path)).Value(key.section, key.name)) {
        return IniAddResult::kAlreadySet;
    }
    const std::string written = WithIniSection(text, key.section, {{std::string(key.name), value}});
    return ReplaceFileWhole(disk, path, written.data(), written.size()) ? IniAddResult::kAdded
                                                                        : IniAddResult::kNotWritten;
}

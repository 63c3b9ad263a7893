#include "settings/ini_file.h"

#include "settings/durable_file.h"
#include "settings/field_number.h"

namespace {

constexpr std::string_view kBlanks = " \t\r";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
// Enough of a line for the operator to find it; the log is no place for a whole file.
constexpr std::size_t kQuotedLongest = 60;
// An hour: longer than anyone keys by hand, short enough to bound a forgotten key-down.
constexpr uint32_t kLimitLongestSeconds = 3600;

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

// One byte more than kIniFileLargest at most, which tells a file at the limit from a larger one.
FileReadResult ReadAtMostLargest(const std::string& path, Disk& disk, std::string* text) {
    text->resize(kIniFileLargest + 1);
    std::size_t count = 0;
    const FileReadResult result = disk.ReadStart(path, text->data(), text->size(), &count);
    text->resize(result == FileReadResult::kRead ? count : 0);
    return result;
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
            section = name ? &ini.sections_[Lower(*name)] : nullptr;
            if (name) {
                continue;
            }
        } else if (const std::size_t equals = line.find('='); equals != std::string_view::npos) {
            const std::string_view key = Trimmed(line.substr(0, equals));
            if (!key.empty()) {
                if (section != nullptr) {
                    (*section)[Lower(key)] = {std::string(Trimmed(line.substr(equals + 1))),
                                              number};
                }
                continue;
            }
        }
        ini.problems_.push_back(
            {number, file_name + " line " + std::to_string(number) +
                         " is not a section, a setting or a comment: " + QuotedForLog(line)});
    }
    return ini;
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
            none.problems_.push_back({0, name + " could not be read; none of its settings "
                                                "are used."});
            return none;
        }
        case FileReadResult::kRead:
            break;
    }
    if (text.size() > kIniFileLargest) {
        IniSettings none = ParseIniText({}, name);
        none.problems_.push_back(
            {0, name + " is larger than " + std::to_string(kIniFileLargest / 1024) +
                    " KiB, so it is not an operator's settings; none of them are used."});
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

void IniSettings::ReportValue(const Entry& entry, std::string_view key, const std::string& wanted,
                              const std::string& used) {
    for (const IniProblem& problem : problems_) {
        if (problem.line == entry.line) {
            return;
        }
    }
    problems_.push_back({entry.line, file_name_ + " line " + std::to_string(entry.line) + ": " +
                                         std::string(key) + " " + QuotedForLog(entry.value) +
                                         " is not " + wanted + "; " + used + " is used."});
}

uint32_t IniSettings::Seconds(std::string_view section, std::string_view key, uint32_t fallback,
                              uint32_t most) {
    const Entry* entry = Find(section, key);
    if (entry == nullptr) {
        return fallback;
    }
    const std::optional<uint32_t> seconds = UnsignedFromText(entry->value);
    if (!seconds || *seconds > most) {
        ReportValue(*entry, key, "a whole number of seconds from 0 to " + std::to_string(most),
                    std::to_string(fallback));
        return fallback;
    }
    return *seconds;
}

bool IniSettings::YesNo(std::string_view section, std::string_view key, bool fallback) {
    const Entry* entry = Find(section, key);
    if (entry == nullptr) {
        return fallback;
    }
    const std::string value = Lower(entry->value);
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
    ReportValue(*entry, key, "yes or no", fallback ? "yes" : "no");
    return fallback;
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

std::string SiblingPathFor(const std::string& config_path, std::string_view extension) {
    const std::size_t name_start = config_path.find_last_of("/\\") + 1;  // npos + 1 is 0
    const std::size_t dot = config_path.rfind('.');
    // A name that only begins with a dot (".pellmar") has no extension to replace.
    if (dot == std::string::npos || dot <= name_start) {
        return config_path + std::string(extension);
    }
    return config_path.substr(0, dot) + std::string(extension);
}

SafetyLimits SafetyLimitsFrom(IniSettings& ini) {
    return {ini.Seconds("Safety", "TuneLimitSeconds", SafetyLimits{}.tune_seconds,
                        kLimitLongestSeconds),
            ini.Seconds("Safety", "PaddleLimitSeconds", SafetyLimits{}.paddle_seconds,
                        kLimitLongestSeconds)};
}

std::string WithIniSection(std::string_view text, std::string_view section,
                           const IniEntries& entries) {
    // New lines end as the operator's do; a file without any gets Windows' line ends.
    const std::string line_end = text.find("\r\n") != std::string_view::npos ? "\r\n"
                                 : text.find('\n') != std::string_view::npos ? "\n"
                                                                             : "\r\n";
    std::vector<bool> written(entries.size(), false);
    std::string result;
    if (text.substr(0, kUtf8Bom.size()) == kUtf8Bom) {
        result = kUtf8Bom;
        text.remove_prefix(kUtf8Bom.size());
    }
    bool in_section = false;
    bool in_first_section = false;
    // Where the settings the section lacks go: after its last setting.
    std::optional<std::size_t> insert_at;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view raw = text.substr(0, end == std::string_view::npos ? end : end + 1);
        text.remove_prefix(raw.size());
        const std::string_view line = Trimmed(raw.substr(0, raw.find('\n')));
        if (!line.empty() && line.front() == '[') {
            const std::optional<std::string_view> name = HeadingName(line);
            in_section = name && Lower(*name) == Lower(section);
            in_first_section = in_section && !insert_at;
            result += raw;
            if (in_first_section) {
                insert_at = result.size();
            }
            continue;
        }
        const std::optional<std::string> key = in_section ? SettingKey(line) : std::nullopt;
        std::size_t entry = 0;
        while (key && entry < entries.size() && Lower(entries[entry].first) != *key) {
            ++entry;
        }
        if (key && entry < entries.size()) {
            if (written[entry]) {
                continue;  // a later line of a key already set would win over it
            }
            written[entry] = true;
            const std::string_view ending = raw.substr(raw.find_last_not_of("\r\n") + 1);
            result += entries[entry].first + " = " + entries[entry].second +
                      (raw.back() == '\n' ? std::string(ending) : line_end);
        } else {
            result += raw;
        }
        if (key && in_first_section) {
            insert_at = result.size();
        }
    }
    std::string missing;
    for (std::size_t entry = 0; entry < entries.size(); ++entry) {
        if (!written[entry]) {
            missing += entries[entry].first + " = " + entries[entry].second + line_end;
        }
    }
    if (!insert_at) {
        missing = "[" + std::string(section) + "]" + line_end + missing;
        if (!result.empty()) {
            missing = line_end + missing;  // a blank line before the new section
        }
        insert_at = result.size();
    }
    if (*insert_at > 0 && result[*insert_at - 1] != '\n') {
        missing = line_end + missing;
    }
    return result.insert(*insert_at, missing);
}

bool WriteIniSection(const std::string& path, std::string_view section, const IniEntries& entries,
                     Disk& disk) {
    std::string text;
    const FileReadResult read = ReadAtMostLargest(path, disk, &text);
    if ((read != FileReadResult::kRead && read != FileReadResult::kMissing) ||
        text.size() > kIniFileLargest) {
        return false;
    }
    const std::string written = WithIniSection(text, section, entries);
    return ReplaceFileWhole(disk, path, written.data(), written.size());
}

bool ReconnectFrom(IniSettings& ini) {
    return ini.YesNo("Network", "Reconnect", true);
}

// The `.ini` file as an operator, an editor or a broken disk may leave it: any bytes, read by
// ParseIniText, then asked for every section and key its lines suggest and for the typed
// values a station reads, its AllowFrom made into the allow list; and, as a path, given to
// IniPathFor.
//
// What must hold: a value found has no blanks around it and no line break in it, and is
// found the same whatever the case of the names asked for; a problem names a line of the
// file (or 0, the file as a whole) and is one line of text for the log; a typed value is
// within its range or its default; every address the allow list reads is allowed and reads
// back as written, and each malformed entry is one line of the log; the `.ini` path keeps
// the folder and ends in `.ini`. With the `[Window]` section written into it, the file reads
// the written values there and every other section's as before.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/allow_list.h"
#include "settings/ini_file.h"
#include "settings/ini_keys.h"
#include "station/allow_from_ini.h"
#include "tests/fuzz/fuzz_station.h"

namespace {

constexpr std::size_t kMostNames = 16;
// The keys a station reads; the typed getters are asked for these, as the program asks.
constexpr std::size_t kKnownKeys = 3;

// Blanks around a name or a value are " \t\r"; around an entry of the allow list, " \t".
std::string Trimmed(std::string_view text, const char* blanks = " \t\r") {
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) {
        return {};
    }
    return std::string(text.substr(first, text.find_last_not_of(blanks) - first + 1));
}

std::string Upper(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return text;
}

// What the lines suggest as section and key names.
void Names(std::string_view text, std::vector<std::string>* sections,
           std::vector<std::string>* keys) {
    *sections = {"", "Network", "Safety"};
    *keys = {"AllowFrom", "TuneLimitSeconds", "PaddleLimitSeconds"};
    while (!text.empty()) {
        const std::string_view line = text.substr(0, text.find('\n'));
        text.remove_prefix(line.size() < text.size() ? line.size() + 1 : line.size());
        const std::size_t open = line.find('[');
        const std::size_t close = line.rfind(']');
        if (open != std::string_view::npos && close != std::string_view::npos && open < close &&
            sections->size() < kMostNames) {
            sections->push_back(Trimmed(line.substr(open + 1, close - open - 1)));
        }
        const std::size_t equals = line.find('=');
        if (equals != std::string_view::npos && keys->size() < kMostNames) {
            keys->push_back(Trimmed(line.substr(0, equals)));
        }
    }
}

void CheckOneLine(const std::string& message) {
    FuzzCheck(!message.empty(), "a problem says what is wrong");
    for (char c : message) {
        FuzzCheck(static_cast<unsigned char>(c) >= 0x20, "a problem is one line of text");
    }
}

void CheckAllowList(const IniSettings& ini) {
    const std::string allow_from = ini.Text(ini_keys::kAllowFrom);
    const AllowList list = AllowList::FromEntries(allow_from);
    for (const std::string& line : AllowFromIniSettings(ini).problems) {
        CheckOneLine(line);
    }
    std::string_view rest = allow_from;
    for (bool more = true; more;) {
        const std::size_t comma = rest.find(',');
        more = comma != std::string_view::npos;
        const std::string entry = Trimmed(rest.substr(0, comma), " \t");
        rest.remove_prefix(more ? comma + 1 : rest.size());
        if (const std::optional<NetAddress> address = NetAddress::FromText(entry)) {
            FuzzCheck(list.Allows(*address), "an address in the list is allowed");
            FuzzCheck(address->IsIpv6() ? NetAddress::FromText(address->Text()) == address
                                        : address->Text() == entry,
                      "an address reads back as written");
        }
    }
}

void CheckProblems(const IniSettings& ini, std::string_view text) {
    const int lines = 1 + static_cast<int>(std::count(text.begin(), text.end(), '\n'));
    for (const IniProblem& problem : ini.problems()) {
        FuzzCheck(problem.line >= 0 && problem.line <= lines, "a problem names a line of the file");
        CheckOneLine(problem.message);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    IniSettings ini = ParseIniText(text, "pellmar.ini");
    CheckProblems(ini, text);

    std::vector<std::string> sections;
    std::vector<std::string> keys;
    Names(text, &sections, &keys);
    for (const std::string& section : sections) {
        for (std::size_t k = 0; k < keys.size(); ++k) {
            const std::string& key = keys[k];
            const std::optional<std::string> value = ini.Value(section, key);
            FuzzCheck(value == ini.Value(Upper(section), Upper(key)),
                      "names match whatever their case");
            if (!value || value->empty()) {
                continue;
            }
            for (char end : {value->front(), value->back()}) {
                FuzzCheck(end != ' ' && end != '\t' && end != '\r', "a value is trimmed");
            }
            FuzzCheck(value->find('\n') == std::string::npos, "a value is one line");
            if (k < kKnownKeys) {
                FuzzCheck(ini.Seconds({section, key, IniValueKind::kSeconds, "7", 100}) <= 100,
                          "seconds within their range");
                ini.YesNo({section, key, IniValueKind::kYesNo, "yes"});
            }
        }
    }
    FuzzCheck(ini.Seconds(ini_keys::kTuneLimitSeconds) <= 3600 &&
                  ini.Seconds(ini_keys::kPaddleLimitSeconds) <= 3600,
              "the limits are within an hour");
    CheckProblems(ini, text);
    CheckAllowList(ini);

    const IniSettings rewritten =
        ParseIniText(WithIniSection(text, "Window", {{"Left", "-8"}, {"TOP", "80"}}), "");
    FuzzCheck(rewritten.Value("window", "left") == "-8" && rewritten.Value("Window", "Top") == "80",
              "the section written reads back");
    for (const std::string& section : sections) {
        for (std::size_t k = 0; k < keys.size() && Upper(section) != "WINDOW"; ++k) {
            FuzzCheck(rewritten.Value(section, keys[k]) == ini.Value(section, keys[k]),
                      "every other section stays as it was");
        }
    }

    const std::string path(text);
    const std::string ini_path = IniPathFor(path);
    const std::size_t folder_end = path.find_last_of("/\\") + 1;
    FuzzCheck(ini_path.size() >= 4 && ini_path.compare(ini_path.size() - 4, 4, ".ini") == 0,
              "the path ends in .ini");
    FuzzCheck(ini_path.compare(0, folder_end, path, 0, folder_end) == 0,
              "the path keeps the folder");
    return 0;
}

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

#include "settings/durable_file.h"
#include "settings/ini_file.h"
#include "settings/ini_keys.h"
#include "tests/support/faulty_disk.h"
#include "tests/support/temp_folder.h"

namespace {

TEST(IniFile, ReadsWhatAnOperatorWritesAndReportsLinesThatMeanNothing) {
    IniSettings ini = ParseIniText(
        "\xEF\xBB\xBF; comment\r\nTop = level\r\n[ network ]\r\n  allowfrom =  any , x \r\n"
        "# comment\n[Safety]\nA = 5\na=7\nEmpty =\nB = b ; not a comment\njunk\n= 5\n[]\n"
        "[Network\nC = 1\n\x01" +
            std::string(100, 'x'),
        "site.ini");
    const char* const found[][3] = {{"", "TOP", "level"},
                                    {"Network", "AllowFrom", "any , x"},
                                    {"SAFETY", "A", "7"},
                                    {"Safety", "Empty", ""},
                                    {"Safety", "B", "b ; not a comment"}};
    for (const auto& [section, key, value] : found) {
        EXPECT_EQ(ini.Value(section, key), value) << key;
    }
    // A key under a broken heading lands in no section, not in the one above it.
    EXPECT_EQ(ini.Value("Safety", "C"), std::nullopt);
    EXPECT_EQ(ini.Value("Network", "C"), std::nullopt);
    ASSERT_EQ(ini.problems().size(), 5u);
    EXPECT_EQ(ini.problems()[3].line, 14);
    EXPECT_EQ(ini.problems()[0].message,
              "site.ini line 11 is not a section, a setting or a comment: \"junk\"");
    EXPECT_EQ(ini.problems()[4].message,
              "site.ini line 16 is not a section, a setting or a comment: \"?" +
                  std::string(59, 'x') + "...\"");
}

TEST(IniFile, TypedValuesTakeTheirDefaultWhenMissingOrMalformedAndSaySoOnce) {
    IniSettings ini = ParseIniText(
        "[Safety]\nTuneLimitSeconds = 0\nPaddleLimitSeconds = 3601\n[Link]\n"
        "A = Yes\nB = off\nC = 1\nD = FALSE\nE = maybe\n",
        "pellmar.ini");
    EXPECT_EQ(ini.Seconds(ini_keys::kTuneLimitSeconds), 0u);
    EXPECT_EQ(ini.Seconds(ini_keys::kPaddleLimitSeconds), 15u);
    EXPECT_EQ(ini.Seconds({"Safety", "Missing", IniValueKind::kSeconds, "9", 10}), 9u);
    for (const char* key : {"A", "B", "C", "D", "E", "F"}) {
        EXPECT_EQ(ini.YesNo({"Link", key, IniValueKind::kYesNo, "yes"}),
                  std::string("ACEF").find(key) != std::string::npos);
    }
    EXPECT_FALSE(ini.YesNo({"Link", "E", IniValueKind::kYesNo, "no"}));
    ASSERT_EQ(ini.problems().size(), 2u);
    EXPECT_EQ(ini.problems()[0].message,
              "pellmar.ini line 3: PaddleLimitSeconds \"3601\" is not a whole number of seconds "
              "from 0 to 3600; 15 is used.");
    EXPECT_EQ(ini.problems()[1].line, 9);
}

// A key whose absence means something of its own has no default to put in a wrong value's place.
TEST(IniFile, AYesNoWithoutADefaultIsNothingWhenMissingOrMalformed) {
    const auto read = [](const std::string& value, std::string* problem) {
        IniSettings ini = ParseIniText("[Windows]\nStartWithWindows = " + value, "pellmar.ini");
        const std::optional<bool> yes = ini.YesNoIfSet(ini_keys::kStartWithWindows);
        *problem = ini.problems().empty() ? "" : ini.problems()[0].message;
        return yes;
    };
    std::string problem;
    EXPECT_EQ(read("On", &problem), true);
    EXPECT_EQ(read("no", &problem), false);
    EXPECT_EQ(read("maybe", &problem), std::nullopt);
    EXPECT_EQ(problem,
              "pellmar.ini line 2: StartWithWindows \"maybe\" is not yes or no; the line is "
              "ignored.");
    EXPECT_EQ(ParseIniText("", "pellmar.ini").YesNoIfSet(ini_keys::kStartWithWindows),
              std::nullopt);
}

TEST(IniFile, AMissingFileHasTheDefaultsAndAnOversizedOrHeldOneIsRefused) {
    const TempFolder folder;
    const std::string path = folder.File("pellmar.ini");
    IniSettings missing = ReadIniFile(path);
    EXPECT_TRUE(missing.problems().empty());
    EXPECT_EQ(missing.Seconds(ini_keys::kTuneLimitSeconds), 30u);
    const std::string body = "[Safety]\nTuneLimitSeconds = 4\n";
    for (const std::size_t size : {kIniFileLargest, kIniFileLargest + 1}) {
        std::ofstream(path, std::ios::binary) << body << std::string(size - body.size(), '\n');
        const IniSettings ini = ReadIniFile(path);
        EXPECT_EQ(ini.Value("Safety", "TuneLimitSeconds").has_value(), size == kIniFileLargest);
        EXPECT_EQ(ini.problems().empty() ? "" : ini.problems()[0].message.substr(0, 33),
                  size == kIniFileLargest ? "" : "pellmar.ini is larger than 64 KiB");
    }
    FaultyDisk held;
    held.faults.refuse_open = true;
    EXPECT_EQ(ReadIniFile(path, held).problems().at(0).message,
              "pellmar.ini could not be read; none of its settings are used.");
}

TEST(IniFile, PathReplacesTheLastExtensionOfTheFileNameOnly) {
    const std::pair<const char*, const char*> paths[] = {
        {"pellmar.cfg", "pellmar.ini"},         {"C:\\Ham Radio\\p.cfg", "C:\\Ham Radio\\p.ini"},
        {"/s.v2/p.old.cfg", "/s.v2/p.old.ini"}, {"/s.v2/p", "/s.v2/p.ini"},
        {"C:\\s.d\\p", "C:\\s.d\\p.ini"},       {"/home/op/.p", "/home/op/.p.ini"}};
    for (const auto& [config, ini] : paths) {
        EXPECT_EQ(IniPathFor(config), ini) << config;
    }
}

TEST(IniFile, TheWindowSectionIsSetAndEveryOtherByteKept) {
    const std::pair<const char*, const char*> files[] = {
        {"", "[Window]\r\nLeft = -8\r\nTop = 80\r\n"},
        {"; mine\n[Network]\nReconnect = no",
         "; mine\n[Network]\nReconnect = no\n\n[Window]\n"
         "Left = -8\nTop = 80\n"},
        {"[window]\r\n; where\r\nTop=9\r\nleft = 1\r\nLEFT = 2\r\n\r\n; next\r\n[Safety]\r\n",
         "[window]\r\n; where\r\nTop = 80\r\nLeft = -8\r\n\r\n; next\r\n[Safety]\r\n"},
        {"[Window]\nTop = 9\nMine = x\n[A]\nLeft = 3\n[Window]",
         "[Window]\nTop = 80\nMine = x\n"
         "Left = -8\n[A]\nLeft = 3\n[Window]"},
    };
    for (const auto& [before, after] : files) {
        EXPECT_EQ(WithIniSection(before, "Window", {{"Left", "-8"}, {"Top", "80"}}), after)
            << before;
    }
}

TEST(IniFile, AFileThatCouldNotBeReadIsNeverWritten) {
    const TempFolder folder;
    const std::string path = folder.File("pellmar.ini");
    std::ofstream(path, std::ios::binary) << "[Safety]\n";
    FaultyDisk held;
    held.faults.refuse_open = true;
    EXPECT_FALSE(WriteIniSection(path, "Window", {{"Left", "1"}}, held));
    EXPECT_EQ(ReadIniFile(path).Value("Window", "Left"), std::nullopt);
}

TEST(IniFile, ASettingIsAddedOnlyWhereItsSectionLacksItAndEveryOtherByteKept) {
    struct Case {
        std::optional<std::string> before;  // nothing: no file
        FileFaults faults;
        IniAddResult result;
        std::optional<std::string> after;
    };
    FileFaults held;
    held.refuse_open = true;
    FileFaults read_only;
    read_only.refuse_create = true;
    const std::string have = "[Network]\nAllowFrom = any\n; key = old\n\n[Safety]\nA = 1\n";
    const Case cases[] = {
        {std::nullopt, {}, IniAddResult::kAdded, "[Network]\r\nKey = 0A\r\n"},
        {"; mine\n[Keyer]\nDevice = /dev/x",
         {},
         IniAddResult::kAdded,
         "; mine\n[Keyer]\nDevice = /dev/x\n\n[Network]\nKey = 0A\n"},
        {have,
         {},
         IniAddResult::kAdded,
         "[Network]\nAllowFrom = any\nKey = 0A\n; key = old\n\n[Safety]\nA = 1\n"},
        {"[network]\r\nAllowFrom = any\r\n\r\n",
         {},
         IniAddResult::kAdded,
         "[network]\r\nAllowFrom = any\r\nKey = 0A\r\n\r\n"},
        {"[Other]\nKey = 1\n",
         {},
         IniAddResult::kAdded,
         "[Other]\nKey = 1\n\n[Network]\nKey = 0A\n"},
        {"[Network]\nKEY =\n", {}, IniAddResult::kAlreadySet, "[Network]\nKEY =\n"},
        {have, held, IniAddResult::kUnreadable, have},
        {have, read_only, IniAddResult::kNotWritten, have},
        {std::nullopt, read_only, IniAddResult::kNotWritten, std::nullopt},
    };
    namespace fs = std::filesystem;
    for (const Case& c : cases) {
        const TempFolder folder;
        const std::string path = folder.File("pellmar.ini");
        if (c.before) {
            std::ofstream(path, std::ios::binary) << *c.before;
            // A rewritten file keeps the owner's say over who reads it.
            fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
        }
        FaultyDisk disk;
        disk.faults = c.faults;
        const std::string shown = c.before.value_or("no file");
        EXPECT_EQ(AddIniSetting(path, ini_keys::kKey, "0A", disk), c.result) << shown;
        std::ifstream in(path, std::ios::binary);
        const std::optional<std::string> after =
            in ? std::optional(std::string(std::istreambuf_iterator<char>(in), {})) : std::nullopt;
        EXPECT_EQ(after, c.after) << shown;
        if (c.before && after) {
            EXPECT_EQ(fs::status(path).permissions(),
                      fs::perms::owner_read | fs::perms::owner_write)
                << shown;
        }
        EXPECT_FALSE(fs::exists(TemporaryPathFor(path))) << shown;
    }
}

}  // namespace

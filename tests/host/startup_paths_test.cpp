#include <gtest/gtest.h>

#include "app/startup_paths.h"

namespace {

TEST(StartupTexts, NtFamilyKeepsTheConfigurationNextToTheProgram) {
    StartupTexts texts = DeriveStartupTexts(2, "C:\\Ham Radio\\pellmar.exe");
    EXPECT_EQ(texts.program_path, "C:\\Ham Radio\\pellmar.exe");
    EXPECT_EQ(texts.config_path, "C:\\Ham Radio\\pellmar.cfg");
    EXPECT_EQ(texts.os_name, "WinNT/WinXP");
}

TEST(StartupTexts, Win9xFamilyUsesTheFixedFolder) {
    StartupTexts texts = DeriveStartupTexts(1, "D:\\elsewhere\\pellmar.exe");
    EXPECT_EQ(texts.program_path, "\\Program Files\\pellmar\\pellmar.exe");
    EXPECT_EQ(texts.config_path, "\\Program Files\\pellmar\\pellmar.cfg");
    EXPECT_EQ(texts.os_name, "Win95/Win98");
}

TEST(StartupTexts, UnknownPlatformIdsAreTheNtFamily) {
    for (int id : {0, 3, 4, 99}) {
        StartupTexts texts = DeriveStartupTexts(id, "C:\\x\\pellmar.exe");
        EXPECT_EQ(texts.os_name, "WinNT/WinXP") << id;
        EXPECT_EQ(texts.config_path, "C:\\x\\pellmar.cfg") << id;
    }
}

TEST(ConfigPath, OnlyTheProgramFilesExtensionIsReplaced) {
    EXPECT_EQ(ConfigPathFor("C:\\exe\\my.exe.files\\pellmar.exe"),
              "C:\\exe\\my.exe.files\\pellmar.cfg");
    EXPECT_EQ(ConfigPathFor("C:\\keyers\\pellmar.v2.exe"), "C:\\keyers\\pellmar.v2.cfg");
    EXPECT_EQ(ConfigPathFor("Z:/work/build/pellmar.exe"), "Z:/work/build/pellmar.cfg");
}

TEST(ConfigPath, AProgramWithoutExtensionGetsOne) {
    EXPECT_EQ(ConfigPathFor("C:\\my.folder\\pellmar"), "C:\\my.folder\\pellmar.cfg");
    EXPECT_EQ(ConfigPathFor("pellmar"), "pellmar.cfg");
}

TEST(ConfigPath, LongPathsAreKeptWhole) {
    std::string folder = "C:\\";
    while (folder.size() < 400) {
        folder += "station-folder\\";
    }
    EXPECT_EQ(ConfigPathFor(folder + "pellmar.exe"), folder + "pellmar.cfg");
}

}  // namespace

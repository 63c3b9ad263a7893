#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "station/log_file.h"
#include "tests/support/temp_folder.h"

namespace {

struct ShownLog final : ConnectLog {
    void Append(const std::string& text) override { texts.push_back(text); }
    std::vector<std::string> texts;
};

std::string FileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(LogFile, KeepsWholeTimedLinesAndBeginsANewFileWhenOneIsFull) {
    const TempFolder folder;
    const std::string path = LogPathFor(folder.File("pellmar.cfg"));
    // An earlier run's last line, left unended, fills the file.
    const std::string earlier(1024 * 1024 - 1, 'x');
    std::ofstream(path, std::ios::binary) << earlier;
    ShownLog shown;
    const std::vector<std::string> texts = {"\r\nInitializing winsock ", "Server...",
                                            "\r\n--End Connect Log--\r\n", "\r\nClient accepted."};
    {
        LogFile log(shown, path);
        for (const std::string& text : texts) {
            log.Append(text);
        }
        log.AppendToFileOnly("Keyer released: the link ended.");
    }
    EXPECT_EQ(shown.texts, texts);
    EXPECT_EQ(FileText(path + ".1"), earlier + "\n");
    const std::string at = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d )";
    EXPECT_TRUE(std::regex_match(
        FileText(path),
        std::regex(at + "Initializing winsock Server...\n" + at + "--End Connect Log--\n" + at +
                   "Client accepted.\n" + at + "Keyer released: the link ended.\n")));
}

TEST(LogFile, AnUnwritableFileIsToldOnceAndTheWindowsLogGoesOn) {
    const TempFolder folder;
    const std::string path = folder.File("pellmar.log");
    // A folder under the file's name fails every open, even for a test run as root.
    std::filesystem::create_directory(path);
    ShownLog shown;
    LogFile log(shown, path);
    log.Append("\r\nopenComm: 1");
    log.Append("\r\nAttaching...");
    ASSERT_EQ(shown.texts.size(), 3u);
    EXPECT_EQ(shown.texts[1],
              "\r\nCould not write the log file pellmar.log; it is tried again each minute.");
}

}  // namespace

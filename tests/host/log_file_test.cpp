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

TEST(LogFile, KeepsWholeTimedLinesBesideTheConfigurationFile) {
    const TempFolder folder;
    const std::string path = LogPathFor(folder.File("pellmar.cfg"));
    EXPECT_EQ(path, folder.File("pellmar.log"));
    std::ofstream(path, std::ios::binary) << "a line an earlier run left unended";
    ShownLog shown;
    const std::vector<std::string> texts = {"\r\nInitializing winsock ", "Server...",
                                            "\r\n--------------End Connect Log------------\r\n",
                                            "\r\nClient 127.0.0.1 accepted."};
    {
        LogFile log(shown, path);
        for (const std::string& text : texts) {
            log.Append(text);
        }
        log.AppendToFileOnly("Keyer released: the link ended.");
    }
    EXPECT_EQ(shown.texts, texts);
    const std::string stamp = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d )";
    EXPECT_TRUE(std::regex_match(
        FileText(path), std::regex("a line an earlier run left unended\r\n" + stamp +
                                   "Initializing winsock Server...\r\n" + stamp +
                                   "--------------End Connect Log------------\r\n" + stamp +
                                   "Client 127\\.0\\.0\\.1 accepted\\.\r\n" + stamp +
                                   "Keyer released: the link ended\\.\r\n")))
        << FileText(path);
}

TEST(LogFile, AFullFileBecomesTheOlderOneAndANewOneBegins) {
    const TempFolder folder;
    const std::string path = folder.File("pellmar.log");
    const std::string full = std::string(1024 * 1024 - 2, 'x') + "\r\n";
    std::ofstream(path, std::ios::binary) << full;
    std::ofstream(path + ".1", std::ios::binary) << "the oldest";
    ShownLog shown;
    LogFile log(shown, path);
    log.Append("\r\nfirst");
    log.Append(" and more");
    EXPECT_EQ(FileText(path + ".1"), full);
    EXPECT_TRUE(std::regex_match(FileText(path), std::regex(".{20}first and more")));
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
    log.AppendToFileOnly("Keyer released: the program is ending.");
    EXPECT_EQ(shown.texts,
              (std::vector<std::string>{
                  "\r\nopenComm: 1",
                  "\r\nCould not write the log file pellmar.log; it is tried again each minute.",
                  "\r\nAttaching..."}));
}

}  // namespace

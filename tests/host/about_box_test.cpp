#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "app/about_box.h"
#include "app/resource_ids.h"
#include "app/resource_texts.h"
#include "app/startup_paths.h"
#include "version/version.h"

namespace {

TEST(AboutBox, TextsInTheOrderTheBoxSetsThem) {
    const std::vector<DialogText> texts =
        FormatAboutTexts("1.4", "10:51:01", "Dec 15 2014", "WinNT/WinXP");
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[0].id, IDC_ABOUT_TITLE);
    EXPECT_EQ(texts[0].text, "Pellmar - Internet Capable Tarvel");
    EXPECT_EQ(texts[1].id, IDC_ABOUT_VERSION);
    EXPECT_EQ(texts[1].text, "Ver 1.4, Built 10:51:01, Dec 15 2014 ");
    EXPECT_EQ(texts[2].id, IDC_ABOUT_OS);
    EXPECT_EQ(texts[2].text, "Operating System is WinNT/WinXP");
}

TEST(AboutBox, ThisProgramsVersionAndBuildStampInTheirForms) {
    os_name = "Win95/Win98";
    const std::vector<DialogText> texts = AboutTexts();
    ASSERT_EQ(texts.size(), 3u);
    const std::string version =
        std::regex_replace(PELLMAR_VERSION_TEXT, std::regex(R"(\.)"), R"(\.)");
    EXPECT_TRUE(std::regex_match(
        texts[1].text,
        std::regex("Ver " + version + R"(, Built \d\d:\d\d:\d\d, [A-Z][a-z]{2} [ 1-3]\d \d{4} )")))
        << texts[1].text;
    EXPECT_EQ(texts[2].text, "Operating System is Win95/Win98");
    EXPECT_EQ(std::string(PELLMAR_MAIN_CAPTION),
              std::string("Tarvel Remote Control ") + PELLMAR_VERSION_TEXT);
}

TEST(AboutBox, ALineNeverRunsPastItsBuffer) {
    const std::vector<DialogText> texts =
        FormatAboutTexts("1.4", "10:51:01", "Dec 15 2014", std::string(200, 'N'));
    EXPECT_EQ(texts[2].text, "Operating System is " + std::string(63 - 20, 'N'));
}

}  // namespace

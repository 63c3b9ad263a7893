#include "app/start_with_windows.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

constexpr char kProgram[] = "C:\\Ham Radio\\pellmar.exe";
constexpr char kCommand[] = "\"C:\\Ham Radio\\pellmar.exe\"";

TEST(StartWithWindows, TheSettingAndTheEntryDecideTheChange) {
    const struct {
        std::optional<bool> wanted;
        std::optional<std::string> current;
        StartupChange change;
    } cases[] = {
        {std::nullopt, kCommand, StartupChange::kNone},
        {std::nullopt, std::nullopt, StartupChange::kNone},
        {true, std::nullopt, StartupChange::kWrite},
        {true, kCommand, StartupChange::kNone},
        {true, "\"D:\\old\\pellmar.exe\"", StartupChange::kWrite},
        {false, kCommand, StartupChange::kRemove},
        {false, "\"D:\\old\\pellmar.exe\"", StartupChange::kRemove},
        {false, std::nullopt, StartupChange::kNone},
    };
    for (const auto& one : cases) {
        EXPECT_EQ(StartupChangeFor(one.wanted, one.current, StartupCommandFor(kProgram)),
                  one.change)
            << one.wanted.value_or(2) << " " << one.current.value_or("none");
    }
}

class FakeEntry final : public StartupEntry {
  public:
    std::optional<std::string> Command() override { return command; }
    long Write(const std::string& text) override {
        if (refusal == 0) {
            command = text;
        }
        return refusal;
    }
    long Remove() override {
        if (refusal == 0) {
            command.reset();
        }
        return refusal;
    }
    std::optional<std::string> command;
    long refusal = 0;
};

class LogLines final : public ConnectLog {
  public:
    void Append(const std::string& text) override { lines += text; }
    std::string lines;
};

TEST(StartWithWindows, EachChangeIsLoggedOnceAndARefusalSaysSo) {
    FakeEntry entry;
    const auto follow = [&](std::optional<bool> wanted) {
        LogLines log;
        FollowStartWithWindows(wanted, kProgram, entry, log);
        return log.lines;
    };
    EXPECT_EQ(follow(true), std::string("\r\nStart-up entry written: Windows starts ") + kCommand +
                                " when you log on.");
    EXPECT_EQ(entry.command, kCommand);
    EXPECT_EQ(follow(true), "");
    EXPECT_EQ(follow(std::nullopt), "");
    EXPECT_EQ(follow(false),
              "\r\nStart-up entry removed: Windows no longer starts Pellmar when you log on.");
    EXPECT_EQ(entry.command, std::nullopt);
    entry.refusal = 5;
    EXPECT_EQ(follow(true),
              "\r\nStart-up entry not written: Windows refused it (error 5); Pellmar will not "
              "start by itself.");
    entry.command = kCommand;
    EXPECT_EQ(follow(false),
              "\r\nStart-up entry not removed: Windows refused it (error 5); Pellmar still starts "
              "when you log on.");
    EXPECT_EQ(entry.command, kCommand);
}

}  // namespace

// A real logger keys the site: Debian's tlf, headless in tmux on this machine, sends its CQ
// and its speed to home's logger port as an operator's logger does, and the site's keyer keys
// the CQ at the speed tlf asked for. Home is the ControlPoint (pellmar.exe under Wine), the
// site the RemoteSide, as in the acceptance cases.
#include <winsock2.h>

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <fstream>
#include <string>

#include "app/resource_ids.h"
#include "gtest/gtest.h"
#include "settings/settings_record.h"
#include "tools/wine_kit/native_site.h"
#include "tools/wine_kit/pellmar_process.h"
#include "tools/wine_kit/two_stations_fixture.h"
#include "tools/wine_kit/ui_driver.h"

namespace {

class LoggerTest : public TwoStationsTest {
  protected:
    void SetUp() override {
        // Chosen before the stations start, since home's .ini names it.
        WSADATA data;
        ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
        logger_port_ = FreeLoopbackPort();
        WSACleanup();
        ASSERT_NE(logger_port_, 0);
        TwoStationsTest::SetUp();
        unix_folder_ = "/tmp/pellmar-tlf-" + std::to_string(GetCurrentProcessId()) + "-" +
                       std::to_string(GetTickCount());
        folder_ = WindowsPathOf(unix_folder_) + "\\";
        ASSERT_TRUE(CreateDirectoryA(folder_.c_str(), nullptr));
    }

    void TearDown() override {
        if (!folder_.empty()) {
            StartUnixProgram("/usr/bin/tmux", "-L " + Multiplexer() + " kill-server");
            Sleep(500);
            RemoveFolder(folder_);
        }
        TwoStationsTest::TearDown();
    }

    // The site's keyer echoes what it keys, as Setup leaves a RemoteSide's.
    void AdjustServerImage(Bytes* image) override {
        (*image)[offsetof(SettingsRecord, keyer_settings) +
                 offsetof(KeyerSettings, mode_register)] = kModeSerialEcho;
    }
    std::string ClientIni() const override {
        return "[Logger]\nPort = " + std::to_string(logger_port_) + "\n";
    }

    std::string Multiplexer() const {
        return "pellmar-tlf-" + std::to_string(GetCurrentProcessId());
    }

    // tlf started in its folder with its network keyer at home's logger port, and the operator's
    // keys after it: Enter past its welcome, F1 for its CQ, PageUp for 2 WPM more.
    void RunTlf() {
        std::ofstream(folder_ + "logcfg.dat", std::ios::binary)
            << "CALL=N0CALL\nCONTEST=qso\nNETKEYER\nNETKEYERHOST=127.0.0.1\nNETKEYERPORT="
            << logger_port_ << "\nCWSPEED=24\n";
        const std::string tmux = "tmux -L " + Multiplexer();
        std::ofstream(folder_ + "run.sh", std::ios::binary)
            << "PATH=/usr/bin:/bin\n"
            << "cd '" << unix_folder_ << "' || exit 1\n"
            << tmux << " new-session -d -x 100 -y 30 tlf\n"
            << "for key in Enter F1 PageUp; do\n"
            << "    sleep 3\n"
            << "    " << tmux << " send-keys \"$key\"\n"
            << "done\n";
        ASSERT_TRUE(StartUnixProgram("/bin/sh", unix_folder_ + "/run.sh"));
    }

    uint16_t logger_port_ = 0;
    std::string unix_folder_;
    std::string folder_;
};

TEST_F(LoggerTest, TlfsCqIsKeyedAtTheSiteAndItsSpeedReachesIt) {
    const std::string open_line =
        "Logger port 127.0.0.1:" + std::to_string(logger_port_) + " open.";
    EXPECT_NE(ui::ReadText(client(), IDC_LOG_PANE).find(open_line), std::string::npos)
        << ui::ReadText(client(), IDC_LOG_PANE);
    const size_t site_mark = server_keyer_.Received().size();
    ASSERT_NO_FATAL_FAILURE(RunTlf());

    const std::string cq = "CQ CQ DX DE N0CALL N0CALL K";
    const Bytes text(cq.begin(), cq.end());
    const Bytes wire = WireSince(&server_keyer_, site_mark, text, 30000);
    EXPECT_NE(std::search(wire.begin(), wire.end(), text.begin(), text.end()), wire.end())
        << Hex(wire);
    EXPECT_EQ(server_keyer_.WaitForStateField("wpm", "26", kWaitMs), "26");
    EXPECT_TRUE(ui::WaitForText(client(), IDC_WPM, "26", kWaitMs))
        << ui::ReadText(client(), IDC_WPM);
    EXPECT_TRUE(EndsWith(ui::ReadText(client(), IDC_LOG_PANE), cq))
        << ui::ReadText(client(), IDC_LOG_PANE);
}

}  // namespace

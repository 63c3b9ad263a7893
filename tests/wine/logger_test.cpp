// A real logger keys the site: Debian's tlf, headless in tmux on this machine, sends its CQ
// and its speed to home's logger port as an operator's logger does. Home is the ControlPoint
// (pellmar.exe under Wine), the site the RemoteSide, as in the acceptance cases.
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
        TwoStationsTest::SetUp();
        const std::string name = "pellmar-tlf-" + std::to_string(GetCurrentProcessId());
        tmux_ = "tmux -L " + name;
        unix_folder_ = "/tmp/" + name;
        ASSERT_TRUE(CreateDirectoryA(WindowsPathOf(unix_folder_).c_str(), nullptr));
    }

    void TearDown() override {
        if (!unix_folder_.empty()) {
            StartUnixProgram("/bin/sh", "-c '" + tmux_ + " kill-server'");
            Sleep(500);
            RemoveFolder(WindowsPathOf(unix_folder_) + "\\");
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

    uint16_t logger_port_ = 0;
    std::string tmux_;
    std::string unix_folder_;
};

// tlf with its network keyer at home's logger port, and the operator's keys: Enter past its
// welcome, F1 for its CQ, PageUp for 2 WPM more than its 24.
TEST_F(LoggerTest, TlfsCqIsKeyedAtTheSiteAndItsSpeedReachesIt) {
    const std::string folder = WindowsPathOf(unix_folder_) + "\\";
    std::ofstream(folder + "logcfg.dat", std::ios::binary)
        << "CALL=N0CALL\nCONTEST=qso\nNETKEYER\nNETKEYERHOST=127.0.0.1\nNETKEYERPORT="
        << logger_port_ << "\nCWSPEED=24\n";
    std::ofstream(folder + "run.sh", std::ios::binary)
        << "PATH=/usr/bin:/bin\ncd '" << unix_folder_ << "' || exit 1\n"
        << tmux_
        << " new-session -d -x 100 -y 30 tlf\n"
        // Each key once tlf shows the screen that takes it, however slowly it starts.
        << "shows() { for i in $(seq 300); do " << tmux_
        << " capture-pane -p | grep -q \"$1\" && return 0; sleep 0.1; done; return 1; }\n"
        << "shows 'My Zone' && " << tmux_ << " send-keys Enter\n"
        << "shows '== qso ==' && " << tmux_ << " send-keys F1 && sleep 2 && " << tmux_
        << " send-keys PageUp\n";
    const size_t site_mark = server_keyer_.Received().size();
    ASSERT_TRUE(StartUnixProgram("/bin/sh", unix_folder_ + "/run.sh"));

    const std::string cq = "CQ CQ DX DE N0CALL N0CALL K";
    const Bytes text(cq.begin(), cq.end());
    const Bytes wire = WireSince(&server_keyer_, site_mark, text, 30000);
    EXPECT_NE(std::search(wire.begin(), wire.end(), text.begin(), text.end()), wire.end())
        << Hex(wire);
    EXPECT_EQ(server_keyer_.WaitForStateField("wpm", "26", kWaitMs), "26");
    EXPECT_TRUE(ui::WaitForText(client(), IDC_WPM, "26", kWaitMs));
    EXPECT_TRUE(EndsWith(ui::ReadText(client(), IDC_LOG_PANE), cq));
}

}  // namespace

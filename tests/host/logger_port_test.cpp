// The logger port of a station on its configuration file, its keyer the emulator, and the
// test as the logging program on a UDP socket of loopback.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <string>

#include "app/resource_ids.h"
#include "keyer/keyer_settings.h"
#include "tests/host/main_loop.h"
#include "tests/host/station_on_file.h"
#include "tools/keyer_sim/keyer_sim.h"

namespace {

using namespace std::chrono_literals;

const std::string kEsc = "\x1b";

// A UDP socket on loopback, bound to a port of the system's choosing, or connected to `port`.
int OnLoopback(uint16_t* port) {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{AF_INET, htons(*port), {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof address;
    if (*port != 0) {
        connect(fd, reinterpret_cast<sockaddr*>(&address), length);
        return fd;
    }
    bind(fd, reinterpret_cast<sockaddr*>(&address), length);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    *port = ntohs(address.sin_port);
    return fd;
}

class LoggerPortTest : public StationOnFile, public ::testing::Test {
  protected:
    LoggerPortTest() : StationOnFile({}, [this] { return writer_held_.load(); }) {}

    void SetUp() override {
        close(OnLoopback(&port_));  // the station's: free a moment ago
        logger_ = OnLoopback(&port_);
        std::ofstream(folder.File("pellmar.ini")) << "[Logger]\nPort = " << port_ << "\n";

        keyer_sim::Options options;
        options.speedup = 50.0;
        options.link_path = folder.File("com1");
        sim_ = std::make_unique<keyer_sim::KeyerSim>(options);
        ASSERT_TRUE(sim_->Start());
        station.Start();
        store.SetDefaults();
        settings.com_port = 1;
        settings.keyer_settings.mode_register |= kModeSerialEcho;
        store.PublishNetFlags(kNetModeOff);
        ASSERT_EQ(station.OpenConnection(), 1) << Log();
        ASSERT_NE(Log().find("Logger port 127.0.0.1:" + std::to_string(port_) + " open."),
                  std::string::npos)
            << Log();
    }

    void TearDown() override {
        writer_held_ = false;
        station.CloseAndExit("the test ends");
        sim_->Stop();
        close(logger_);
    }

    std::string Log() { return window.Text(IDC_LOG_PANE); }

    void Send(const std::string& datagram) { send(logger_, datagram.data(), datagram.size(), 0); }

    // A datagram back from the station while the loop runs for at most `patience`.
    std::string Reply(std::chrono::milliseconds patience) {
        char bytes[64];
        ssize_t count = 0;
        loop_.PumpUntil(
            [&] { return (count = recv(logger_, bytes, sizeof bytes, MSG_DONTWAIT)) > 0; },
            patience);
        return std::string(bytes, count > 0 ? static_cast<std::size_t>(count) : 0);
    }

    std::atomic<bool> writer_held_{false};
    std::unique_ptr<keyer_sim::KeyerSim> sim_;
    int logger_ = -1;
    uint16_t port_ = 0;
    MainLoop loop_{station, sockets, MainLoop::LinkTimer::kRunning, 5s};
};

// A reply waits for the echo of the text sent after it; an abort sends it at once.
TEST_F(LoggerPortTest, TheReplyWaitsForTheEchoOfTheTextSentAfterItOrAnAbort) {
    writer_held_ = true;
    Send(kEsc + "hok");
    Send("cq\n");
    EXPECT_EQ(Reply(400ms), "");  // queued, not keyed
    EXPECT_EQ(Log().substr(Log().size() - 2), "CQ");
    writer_held_ = false;
    EXPECT_EQ(Reply(5s), "hok\r\n");
    EXPECT_EQ(window.Text(IDC_ECHO_LINE), "CQ");

    writer_held_ = true;
    Send(kEsc + "hgone");
    Send("test");
    Send(kEsc + "4");
    EXPECT_EQ(Reply(1s), "hgone\r\n");
    EXPECT_EQ(window.Text(IDC_ECHO_LINE), "CQ") << "nothing of the aborted text was keyed";
}

TEST_F(LoggerPortTest, ExitLongDatagramsAndBadValuesEndNothingAndAreToldOnce) {
    const std::string log_before = Log();
    for (int twice = 0; twice < 2; ++twice) {
        Send(kEsc + "5");
        Send(std::string(300, 'E'));
        Send(kEsc + "299");
    }
    Send(kEsc + "230");
    Send(kEsc + "hdone");
    Send("e");
    EXPECT_EQ(Reply(5s), "hdone\r\n");
    EXPECT_TRUE(station.IsKeyerAttached());
    EXPECT_EQ(window.Text(IDC_WPM), "30");
    EXPECT_EQ(Log().substr(log_before.size()),
              "\r\nLogger port: a datagram over 256 bytes was dropped."
              "\r\nLogger port: a speed request of \"99\" was ignored; it takes 4 to 60 WPM."
              "E");
}

}  // namespace

// The logger port of a station on its configuration file, its keyer the emulator, and the
// test as the logging program on a UDP socket of loopback.
#include <netinet/in.h>
#include <poll.h>
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

sockaddr_in Loopback(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

class LoggerPortTest : public StationOnFile, public ::testing::Test {
  protected:
    LoggerPortTest() : StationOnFile({}, [this] { return writer_held_.load(); }) {}

    void SetUp() override {
        logger_ = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in address = Loopback(0);
        socklen_t length = sizeof address;
        ASSERT_EQ(bind(logger_, reinterpret_cast<sockaddr*>(&address), length), 0);
        // The station's port: one the system had free a moment ago.
        const int probe = socket(AF_INET, SOCK_DGRAM, 0);
        ASSERT_EQ(bind(probe, reinterpret_cast<sockaddr*>(&address), length), 0);
        getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
        close(probe);
        port_ = ntohs(address.sin_port);
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

    void Send(const std::string& datagram) {
        const sockaddr_in to = Loopback(port_);
        sendto(logger_, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&to),
               sizeof to);
    }

    // A datagram back from the station while the loop runs for at most `patience`.
    std::string Reply(std::chrono::milliseconds patience) {
        std::string reply;
        loop_.PumpUntil(
            [&] {
                pollfd ready{logger_, POLLIN, 0};
                if (poll(&ready, 1, 0) != 1) {
                    return false;
                }
                char bytes[300];
                const ssize_t count = recv(logger_, bytes, sizeof bytes, 0);
                reply.assign(bytes, count > 0 ? static_cast<std::size_t>(count) : 0);
                return true;
            },
            patience);
        return reply;
    }

    std::atomic<bool> writer_held_{false};
    std::unique_ptr<keyer_sim::KeyerSim> sim_;
    int logger_ = -1;
    uint16_t port_ = 0;
    MainLoop loop_{station, sockets, MainLoop::LinkTimer::kRunning, 5s};
};

TEST_F(LoggerPortTest, TheReplyWaitsForTheEchoOfTheTextSentAfterIt) {
    writer_held_ = true;
    Send("\x1bhok");
    Send("cq\n");
    EXPECT_EQ(Reply(400ms), "");  // queued, not keyed
    EXPECT_EQ(window.Text(IDC_LOG_PANE).substr(Log().size() - 2), "CQ");
    writer_held_ = false;
    EXPECT_EQ(Reply(5s), "hok\r\n");
    EXPECT_EQ(window.Text(IDC_ECHO_LINE), "CQ");
}

TEST_F(LoggerPortTest, AnAbortSendsTheReplyAtOnce) {
    writer_held_ = true;
    Send("\x1bhgone");
    Send("test");
    Send(
        "\x1b"
        "4");
    EXPECT_EQ(Reply(1s), "hgone\r\n");
    EXPECT_EQ(window.Text(IDC_ECHO_LINE), "");
}

TEST_F(LoggerPortTest, ExitLongDatagramsAndBadValuesEndNothingAndAreToldOnce) {
    const std::string log_before = Log();
    for (int twice = 0; twice < 2; ++twice) {
        Send(
            "\x1b"
            "5");
        Send(std::string(300, 'E'));
        Send(
            "\x1b"
            "299");
    }
    Send(
        "\x1b"
        "230");
    Send("\x1bhdone");
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

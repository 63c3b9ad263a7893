// The keyer emulator seen from the host's end of its pty, byte by byte: every other test of
// the keyer link trusts it to parse commands by their argument counts and to answer as a
// keyer does.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "tests/support/temp_folder.h"
#include "tools/common/wait_until.h"
#include "tools/keyer_sim/keyer_sim.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

// The host's side of the pty, raw, as the keyer port would open it.
class HostEnd {
  public:
    explicit HostEnd(const std::string& path) {
        fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd_ >= 0) {
            termios attributes{};
            tcgetattr(fd_, &attributes);
            cfmakeraw(&attributes);
            tcsetattr(fd_, TCSANOW, &attributes);
        }
    }
    ~HostEnd() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    bool ok() const { return fd_ >= 0; }

    // A pty whose keyer end has gone reads as end of file or an error at once.
    bool HungUp() {
        pollfd fds = {fd_, POLLIN, 0};
        uint8_t byte = 0;
        return poll(&fds, 1, 1000) == 1 && (fds.revents & POLLHUP) != 0 && read(fd_, &byte, 1) <= 0;
    }

    void Write(const Bytes& bytes) {
        ASSERT_EQ(write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    // Everything that arrives until `count` bytes are in or the time-out passes.
    Bytes Read(size_t count, std::chrono::milliseconds timeout = 2000ms) {
        Bytes bytes;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (bytes.size() < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                break;
            }
            pollfd fds = {fd_, POLLIN, 0};
            if (poll(&fds, 1, static_cast<int>(left.count())) <= 0) {
                break;
            }
            uint8_t buffer[64];
            const ssize_t got = read(fd_, buffer, std::min(sizeof buffer, count - bytes.size()));
            if (got <= 0) {
                break;
            }
            bytes.insert(bytes.end(), buffer, buffer + got);
        }
        return bytes;
    }

    // Reads until the keyer has said nothing for `quiet`.
    Bytes ReadUntilQuiet(std::chrono::milliseconds quiet = 150ms) {
        Bytes bytes;
        for (;;) {
            Bytes more = Read(1, quiet);
            if (more.empty()) {
                return bytes;
            }
            bytes.insert(bytes.end(), more.begin(), more.end());
        }
    }

    // The echo test and host open, answered as a keyer answers them.
    void OpenHost(uint8_t version = 23) {
        Write({0x13, 0x13, 0x13, 0x00, 0x04, 0x55});
        EXPECT_EQ(Read(1), Bytes{0x55});
        Write({0x00, 0x02});
        EXPECT_EQ(Read(1), Bytes{version});
    }

  private:
    int fd_ = -1;
};

class KeyerSimTest : public ::testing::Test {
  protected:
    void Start(keyer_sim::Options options = {}) {
        options.speedup = options.speedup == 1.0 ? 20.0 : options.speedup;
        sim_ = std::make_unique<keyer_sim::KeyerSim>(options);
        ASSERT_TRUE(sim_->Start());
        host_ = std::make_unique<HostEnd>(sim_->PortPath());
        ASSERT_TRUE(host_->ok());
    }
    std::unique_ptr<keyer_sim::KeyerSim> sim_;
    std::unique_ptr<HostEnd> host_;
};

TEST_F(KeyerSimTest, AnswersTheHandshakeAndLogsEveryByte) {
    Start();
    host_->OpenHost();
    EXPECT_TRUE(sim_->HostModeOpen());
    EXPECT_EQ(sim_->Received(), (Bytes{0x13, 0x13, 0x13, 0x00, 0x04, 0x55, 0x00, 0x02}));
    const std::string log = sim_->Command("log");
    EXPECT_EQ(log.rfind("ok 8 ", 0), 0u) << log;
    EXPECT_NE(log.find(":13 "), std::string::npos) << log;
    EXPECT_EQ(log.substr(log.size() - 3), ":02") << log;
    // The clock reads on the log's scale: it is past the last byte logged.
    const std::string clock = sim_->Command("clock");
    ASSERT_EQ(clock.rfind("ok ", 0), 0u) << clock;
    const long long last_logged = std::stoll(log.substr(log.rfind(' ') + 1));
    EXPECT_GE(std::stoll(clock.substr(3)), last_logged) << log << "\n" << clock;

    host_->Write({0x00, 0x03});
    ASSERT_TRUE(sim_->WaitForReceived(10, 2000ms));
    EXPECT_FALSE(sim_->HostModeOpen());
    EXPECT_EQ(sim_->Command("reset"), "ok");
    EXPECT_EQ(sim_->Command("received"), "ok");
}

TEST_F(KeyerSimTest, TestFaultsChangeTheHandshakeAnswers) {
    keyer_sim::Options options;
    options.version = 17;
    Start(options);
    EXPECT_EQ(sim_->Command("echo-answer 54"), "ok");
    host_->Write({0x00, 0x04, 0x55});
    EXPECT_EQ(host_->Read(1), Bytes{0x54});
    EXPECT_EQ(sim_->Command("echo-answer normal"), "ok");
    EXPECT_EQ(sim_->Command("no-version on"), "ok");
    host_->Write({0x00, 0x04, 0x41, 0x00, 0x02});
    EXPECT_EQ(host_->ReadUntilQuiet(), Bytes{0x41});
    EXPECT_EQ(sim_->Command("no-version off"), "ok");
    host_->Write({0x00, 0x03});
    EXPECT_EQ(sim_->Command("silent on"), "ok");
    host_->Write({0x00, 0x04, 0x55, 0x00, 0x02});
    EXPECT_EQ(host_->ReadUntilQuiet(), Bytes{});
    EXPECT_EQ(sim_->Command("silent off"), "ok");
    host_->Write({0x00, 0x03, 0x00, 0x02});
    EXPECT_EQ(host_->Read(1), Bytes{17});

    EXPECT_EQ(sim_->Command("echo-answer 1G").rfind("error", 0), 0u);
    EXPECT_EQ(sim_->Command("silent maybe").rfind("error", 0), 0u);
    EXPECT_EQ(sim_->Command("fly").rfind("error", 0), 0u);
}

TEST_F(KeyerSimTest, KeysTextWithEchoAndBusyStatus) {
    Start();
    host_->OpenHost();
    host_->Write({0x0E, 0x04, 'C', 'Q'});  // serial echo on
    const Bytes answer = host_->ReadUntilQuiet(400ms);
    EXPECT_EQ(answer, (Bytes{0xC4, 'C', 'Q', 0xC0}));
    EXPECT_EQ(sim_->Keyed(), "CQ");
}

TEST_F(KeyerSimTest, KeyingTakesMorseTimeAtTheCurrentSpeed) {
    keyer_sim::Options options;
    options.speedup = 10.0;
    Start(options);
    host_->OpenHost();
    // At 20 WPM a dit is 60 ms, 6 ms at this speed-up; PARIS with its word gap is 50 dits.
    host_->Write({0x02, 20, 'P', 'A', 'R', 'I', 'S', ' '});
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(sim_->WaitForKeyed("PARIS ", 5000ms));
    const auto at_20 = std::chrono::steady_clock::now() - start;
    host_->Write({0x02, 40, 'P', 'A', 'R', 'I', 'S', ' '});
    const auto start_40 = std::chrono::steady_clock::now();
    ASSERT_TRUE(sim_->WaitForKeyed("PARIS PARIS ", 5000ms));
    const auto at_40 = std::chrono::steady_clock::now() - start_40;
    // Only the lower bound is strict; a loaded machine may be slower, never faster.
    EXPECT_GE(at_20, 290ms);
    EXPECT_GE(at_40, 145ms);
    EXPECT_LT(at_40, at_20);
}

// Every argument byte here is a printable letter: a command parsed with one argument too
// few would key it.
TEST_F(KeyerSimTest, ParsesEveryCommandByItsArgumentCount) {
    Start();
    host_->OpenHost();
    Bytes commands = {0x01, 'a', 0x02, 'b', 0x03, 'c', 0x04, 'd', 'e', 0x05, 'f', 'g', 'h'};
    commands.insert(commands.end(), {0x06, 0x00, 0x07, 0x08, 0x09, 'i', 0x0B, 0x00, 0x0D, 'j'});
    commands.insert(commands.end(), {0x0E, 0x00, 0x10, 'k', 0x11, 'l', 0x12, 'm', 0x13, 0x14, 0});
    commands.insert(commands.end(), {0x15, 0x17, 'n'});
    commands.push_back(0x0F);
    for (int i = 0; i < 15; ++i) {
        commands.push_back(static_cast<uint8_t>('A' + i));
    }
    commands[commands.size() - 15] = 0x00;  // mode register: no echo
    commands[commands.size() - 14] = 30;    // 30 WPM
    host_->Write(commands);
    host_->Write({0x18, 'o', 0x19, 'p', 0x1A, 1, 0x1C, 25, 0x1D, 'q', 0x1E, 0x1F});
    host_->Write({0x1B, 'M', 'N', 'Z'});
    ASSERT_TRUE(sim_->WaitForKeyed("MNZ", 3000ms)) << sim_->Keyed();
    const std::string state = sim_->Command("state");
    EXPECT_NE(state.find("wpm=30 mode=00"), std::string::npos) << state;
}

TEST_F(KeyerSimTest, BackspaceClearAndPauseWorkOnTheBuffer) {
    Start();
    host_->OpenHost();
    host_->Write({0x06, 0x01, 'A', 'B', 'C', 0x08});
    ASSERT_TRUE(sim_->WaitForReceived(14, 1000ms));
    EXPECT_NE(sim_->Command("state").find("buffered=2 keydown=0 pause=1"), std::string::npos)
        << sim_->Command("state");
    host_->Write({0x0A, 'E', 0x06, 0x00});
    ASSERT_TRUE(sim_->WaitForKeyed("E", 2000ms)) << sim_->Keyed();
    host_->Write({0x0B, 0x01});
    ASSERT_TRUE(sim_->WaitForReceived(20, 1000ms));
    EXPECT_NE(sim_->Command("state").find("keydown=1"), std::string::npos);
}

TEST_F(KeyerSimTest, RaisesHoldAboveHighWaterAndDropsItAtLowWater) {
    keyer_sim::Options options;
    options.buffer_capacity = 16;
    options.high_water = 8;
    options.low_water = 2;
    Start(options);
    host_->OpenHost();
    host_->Write({0x06, 0x01});
    host_->Write(Bytes(8, 'E'));
    EXPECT_EQ(host_->ReadUntilQuiet(), Bytes{});  // paused and at the mark: no status yet
    host_->Write({'E'});
    EXPECT_EQ(host_->Read(1), Bytes{0xC1});
    host_->Write({0x06, 0x00});
    const Bytes drain = host_->ReadUntilQuiet(400ms);
    EXPECT_EQ(drain, (Bytes{0xC5, 0xC4, 0xC0})) << drain.size();
    EXPECT_EQ(sim_->Keyed(), std::string(9, 'E'));
}

TEST_F(KeyerSimTest, AnswersThePotAndReportsItsTurns) {
    Start();
    host_->OpenHost();
    host_->Write({0x07});
    EXPECT_EQ(host_->Read(1), Bytes{0x8A});  // 20 WPM over a minimum of 10
    EXPECT_EQ(sim_->Command("pot 25"), "ok");
    EXPECT_EQ(host_->Read(1), Bytes{0x8F});
    EXPECT_EQ(sim_->Command("pot 25"), "ok");
    host_->Write({0x05, 15, 20, 0x00, 0x07});
    EXPECT_EQ(host_->ReadUntilQuiet(), Bytes{0x8A});
}

TEST_F(KeyerSimTest, PaddlesBreakInAndEchoOnlyWithPaddleEcho) {
    Start();
    host_->OpenHost();
    EXPECT_EQ(sim_->Command("paddle 2"), "ok");
    EXPECT_EQ(host_->Read(1), Bytes{0xDE});
    host_->Write({0x0E, 0x40, 'T', 'E', 'S', 'T'});
    EXPECT_EQ(host_->Read(1), Bytes{0xC4});
    EXPECT_EQ(sim_->Command("paddle-key R"), "ok");
    EXPECT_EQ(host_->ReadUntilQuiet(300ms), (Bytes{0xC6, 'R', 0xC0}));
    const std::string keyed = sim_->Keyed();
    EXPECT_EQ(keyed.back(), 'R');
    EXPECT_LT(keyed.size(), 5u) << keyed;  // the rest of TEST was dropped

    host_->Write({0x0E, 0x00});
    EXPECT_EQ(sim_->Command("paddle-key K"), "ok");
    EXPECT_EQ(host_->ReadUntilQuiet(300ms), (Bytes{0xC4, 0xC0}));
    EXPECT_EQ(sim_->Command("paddle 5").rfind("error", 0), 0u);
}

// "ET" at 30 WPM: a dit (40 ms) on the left paddle, the gap between characters, a dah on
// the right one; `sent` times each report as it went, in real time despite the speed-up.
TEST_F(KeyerSimTest, TheFistKeysTextOnThePaddlesAndSentTimesEachReport) {
    Start();
    EXPECT_EQ(sim_->Command("fist 30 E").rfind("error", 0), 0u);  // host mode closed
    host_->OpenHost();
    EXPECT_EQ(sim_->Command("fist 30 E#").rfind("error", 0), 0u);
    const size_t before = std::stoul(sim_->Command("sent").substr(3));
    EXPECT_EQ(sim_->Command("fist 30 ET"), "ok 4 280");
    EXPECT_EQ(host_->Read(4), (Bytes{0xDE, 0xDC, 0xDD, 0xDC}));
    std::istringstream sent(sim_->Command("sent"));
    std::string word;
    sent >> word >> word;
    std::vector<long long> us;
    while (sent >> word) {
        us.push_back(std::stoll(word));
    }
    ASSERT_EQ(us.size(), before + 4);
    const long long expected_ms[] = {40, 120, 120};
    for (size_t i = 0; i < 3; ++i) {
        const long long spacing_ms = (us[before + i + 1] - us[before + i]) / 1000;
        EXPECT_GT(spacing_ms, expected_ms[i] - 10) << i;
        EXPECT_LT(spacing_ms, expected_ms[i] + 30) << i;
    }
}

TEST_F(KeyerSimTest, ButtonsNeedAVersion20Keyer) {
    Start();
    EXPECT_EQ(sim_->Command("button 1").rfind("error", 0), 0u);  // host mode closed
    host_->OpenHost();
    EXPECT_EQ(sim_->Command("button 4"), "ok");
    EXPECT_EQ(host_->Read(2), (Bytes{0xD8, 0xC0}));
    EXPECT_EQ(sim_->Command("version 19"), "ok");
    EXPECT_EQ(sim_->Command("button 1").rfind("error", 0), 0u);
}

TEST_F(KeyerSimTest, InjectsRawBytesAndUnplugs) {
    Start();
    EXPECT_EQ(sim_->Command("inject 41 C1 zz").rfind("error", 0), 0u);
    EXPECT_EQ(sim_->Command("inject 41 C1"), "ok");
    EXPECT_EQ(host_->Read(2), (Bytes{0x41, 0xC1}));
    EXPECT_EQ(sim_->Command("unplug"), "ok");
    EXPECT_TRUE(host_->HungUp());
    EXPECT_EQ(sim_->Command("inject 41"), "error unplugged");
}

TEST_F(KeyerSimTest, PublishesItsPathAsALinkAndRemovesIt) {
    TempFolder folder;
    keyer_sim::Options options;
    options.link_path = folder.File("com1");
    Start(options);
    EXPECT_EQ(sim_->PortPath(), options.link_path);
    host_->OpenHost();
    sim_->Stop();
    EXPECT_NE(access(options.link_path.c_str(), F_OK), 0);
}

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The standalone program: the control channel over TCP, the published files, a clean end
// on SIGTERM.
TEST(KeyerSimProgramTest, ServesControlLinesAndEndsOnSigterm) {
    TempFolder folder;
    const std::string port_file = folder.File("port");
    const std::string pty_file = folder.File("pty");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        execl(PELLMAR_KEYER_SIM_PROGRAM, "keyer_sim", "--version", "21", "--control-port-file",
              port_file.c_str(), "--pty-file", pty_file.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    WaitUntil([&] { return access(port_file.c_str(), F_OK) == 0; }, 2s, 10ms);
    const int port = std::atoi(ReadWhole(port_file).c_str());
    ASSERT_GT(port, 0);
    HostEnd host(ReadWhole(pty_file));
    ASSERT_TRUE(host.ok());
    host.OpenHost(21);

    const int control = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    ASSERT_EQ(connect(control, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const std::string lines = "received\nstate\n";
    ASSERT_EQ(send(control, lines.data(), lines.size(), 0), static_cast<ssize_t>(lines.size()));
    std::string replies;
    while (std::count(replies.begin(), replies.end(), '\n') < 2) {
        char buffer[256];
        const ssize_t got = recv(control, buffer, sizeof buffer, 0);
        ASSERT_GT(got, 0);
        replies.append(buffer, static_cast<size_t>(got));
    }
    EXPECT_EQ(replies.substr(0, replies.find('\n')), "ok 13 13 13 00 04 55 00 02");
    EXPECT_NE(replies.find("\nok host=1 "), std::string::npos) << replies;
    close(control);

    kill(child, SIGTERM);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_NE(access(port_file.c_str(), F_OK), 0);
}

}  // namespace

// Two real pellmar.exe stations linked over loopback, each in its own folder with its own
// configuration file and its own emulated keyer. with_keyer_sims.sh starts the emulators for
// each case and links them into the Wine prefix; emulator 0 is the server's keyer and
// emulator 1 the client's. The server is the RemoteSide at the far site, the client the
// ControlPoint at home.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/resource_ids.h"
#include "gtest/gtest.h"
#include "settings/settings_record.h"
#include "tests/wine/keyer_sim_control.h"
#include "tests/wine/station.h"
#include "tests/wine/ui_driver.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Generous: two programs share two cores with Wine, and the client's connect holds its
// window thread for a quarter second on purpose.
constexpr int kWaitMs = 15000;
// Different speeds, so that a keyer shows whose settings it was given last.
constexpr uint8_t kServerWpm = 16;
constexpr uint8_t kClientWpm = 22;
constexpr const char* kEndConnectLog = "\r\n--------------End Connect Log------------\r\n";

void Put32(std::vector<uint8_t>* image, size_t offset, uint32_t value) {
    std::memcpy(image->data() + offset, &value, sizeof value);
}

std::vector<uint8_t> StationImage(uint32_t com_port, uint32_t net_flags, uint16_t ip_port,
                                  uint8_t wpm) {
    std::vector<uint8_t> image = DefaultConfigImage();
    image[offsetof(SettingsRecord, keyer_settings) + offsetof(KeyerSettings, wpm)] = wpm;
    Put32(&image, offsetof(SettingsRecord, com_port), com_port);
    Put32(&image, offsetof(SettingsRecord, open_at_startup), 0);
    Put32(&image, offsetof(SettingsRecord, net_flags), net_flags);
    const char address[] = "127.0.0.1";
    std::memset(image.data() + offsetof(SettingsRecord, ip_address), 0, kTextFieldSize);
    std::memcpy(image.data() + offsetof(SettingsRecord, ip_address), address, sizeof address);
    Put32(&image, offsetof(SettingsRecord, ip_port), ip_port);
    return image;
}

// A port nobody holds right now: the system picks it for a bind to port 0.
uint16_t FreeLoopbackPort() {
    SOCKET probe = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (probe == INVALID_SOCKET) {
        return 0;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    int length = sizeof address;
    uint16_t port = 0;
    if (bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    closesocket(probe);
    return port;
}

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

size_t CountOf(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

// Polls a control until its text ends with `tail`; the last text either way.
std::string WaitForTextEnding(HWND window, int id, const std::string& tail, int timeout_ms) {
    std::string text = ui::ReadText(window, id);
    for (int waited = 0; !EndsWith(text, tail) && waited < timeout_ms; waited += 50) {
        Sleep(50);
        text = ui::ReadText(window, id);
    }
    return text;
}

// Polls a control until its text differs from `from`; the last text either way.
std::string WaitForTextChange(HWND window, int id, const std::string& from, int timeout_ms) {
    std::string text = ui::ReadText(window, id);
    for (int waited = 0; text == from && waited < timeout_ms; waited += 50) {
        Sleep(50);
        text = ui::ReadText(window, id);
    }
    return text;
}

bool EndsWith(const Bytes& bytes, const Bytes& tail) {
    return bytes.size() >= tail.size() &&
           std::equal(tail.begin(), tail.end(),
                      bytes.end() - static_cast<std::ptrdiff_t>(tail.size()));
}

std::string Hex(const Bytes& bytes) {
    std::string text;
    char part[4];
    for (uint8_t byte : bytes) {
        std::snprintf(part, sizeof part, " %02X", byte);
        text += part;
    }
    return text;
}

// One emulator's control channel, with the waits these cases need.
class KeyerControl : public KeyerSimControl {
  public:
    // The wire as soon as it ends with `tail`, or as it is after the time-out.
    Bytes ReceivedEndingWith(const Bytes& tail, int timeout_ms) {
        Bytes bytes = Received();
        for (int waited = 0; !EndsWith(bytes, tail) && waited < timeout_ms; waited += 50) {
            Sleep(50);
            bytes = Received();
        }
        return bytes;
    }

    // One `name=value` field of the emulator's state line, or "" when it is missing.
    std::string StateField(const std::string& name) {
        std::istringstream state(Command("state"));
        std::string word;
        while (state >> word) {
            if (word.rfind(name + "=", 0) == 0) {
                return word.substr(name.size() + 1);
            }
        }
        return std::string();
    }

    // Polls the field until it reads `value`; the last reading either way.
    std::string WaitForStateField(const std::string& name, const std::string& value,
                                  int timeout_ms) {
        std::string seen = StateField(name);
        for (int waited = 0; seen != value && waited < timeout_ms; waited += 50) {
            Sleep(50);
            seen = StateField(name);
        }
        return seen;
    }
};

struct Emulator {
    int com_port = 0;
    int control_port = 0;
};

bool EmulatorFromEnvironment(int index, Emulator* emulator) {
    const std::string prefix = "PELLMAR_KEYER_SIM_" + std::to_string(index) + "_";
    const char* com = std::getenv((prefix + "COM_PORT").c_str());
    const char* control = std::getenv((prefix + "CONTROL_PORT").c_str());
    if (com == nullptr || control == nullptr) {
        return false;
    }
    emulator->com_port = std::atoi(com);
    emulator->control_port = std::atoi(control);
    return emulator->com_port > 0 && emulator->control_port > 0;
}

class TwoStationsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Emulator server_keyer;
        Emulator client_keyer;
        ASSERT_TRUE(EmulatorFromEnvironment(0, &server_keyer) &&
                    EmulatorFromEnvironment(1, &client_keyer))
            << "run these tests through tests/wine/with_keyer_sims.sh, which starts the "
               "emulators";
        WSADATA data;
        ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
        winsock_started_ = true;
        ASSERT_TRUE(server_keyer_.Connect(server_keyer.control_port));
        ASSERT_TRUE(client_keyer_.Connect(client_keyer.control_port));
        ASSERT_EQ(server_keyer_.Command("reset"), "ok");
        ASSERT_EQ(client_keyer_.Command("reset"), "ok");

        // Both stations are killed with the job's last handle, so even a test program that
        // is itself killed leaves no station running in the prefix.
        job_ = CreateJobObjectA(nullptr, nullptr);
        ASSERT_NE(job_, nullptr);
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        ASSERT_TRUE(SetInformationJobObject(job_, JobObjectExtendedLimitInformation, &limits,
                                            sizeof limits));

        port_ = FreeLoopbackPort();
        ASSERT_NE(port_, 0);
        server_ = std::make_unique<Station>();
        server_->WriteConfig(StationImage(static_cast<uint32_t>(server_keyer.com_port),
                                          ServerNetFlags(), port_, kServerWpm));
        client_ = std::make_unique<Station>();
        client_image_ = StationImage(static_cast<uint32_t>(client_keyer.com_port),
                                     kNetModeClient | kNetRoleControlPoint, port_, kClientWpm);
        client_->WriteConfig(client_image_);

        ASSERT_TRUE(StartInJob(server_.get()));
        ui::Click(server_->window(), IDC_OPEN_CLOSE);
        ASSERT_TRUE(ui::WaitForText(server_->window(), IDC_NET_STATUS, "Listening for Request....",
                                    kWaitMs))
            << ui::ReadText(server_->window(), IDC_LOG_PANE);

        ASSERT_TRUE(StartInJob(client_.get()));
        ui::Click(client_->window(), IDC_OPEN_CLOSE);
        ASSERT_TRUE(
            ui::WaitForText(client_->window(), IDC_NET_STATUS, "Connected to server.", kWaitMs))
            << ui::ReadText(client_->window(), IDC_NET_STATUS) << "\n"
            << ui::ReadText(client_->window(), IDC_LOG_PANE);
    }

    void TearDown() override {
        client_.reset();
        server_.reset();
        if (job_ != nullptr) {
            CloseHandle(job_);
        }
        server_keyer_.Close();
        client_keyer_.Close();
        if (winsock_started_) {
            WSACleanup();
        }
    }

    virtual uint32_t ServerNetFlags() const {
        return kNetModeServer | kNetIpAddrOverride | kNetRoleRemoteSide;
    }

    bool StartInJob(Station* station) {
        if (!station->Start()) {
            return false;
        }
        HANDLE process =
            OpenProcess(PROCESS_SET_QUOTA | PROCESS_TERMINATE, FALSE, station->process_id());
        const bool assigned = process != nullptr && AssignProcessToJobObject(job_, process);
        if (process != nullptr) {
            CloseHandle(process);
        }
        return assigned;
    }

    HWND server() const { return server_->window(); }
    HWND client() const { return client_->window(); }

    // The Open/Close press that closes a linked station: its three lines reset, and its
    // keyer handed back with base mode and then host close.
    void PressCloseAndExpectClosed(HWND station, KeyerControl* keyer) {
        ui::Click(station, IDC_OPEN_CLOSE);
        ASSERT_TRUE(ui::WaitForText(station, IDC_OPEN_CLOSE, "Open", kWaitMs))
            << ui::ReadText(station, IDC_OPEN_CLOSE);
        EXPECT_EQ(ui::ReadText(station, IDC_NET_STATUS), "Network Connection Closed");
        EXPECT_EQ(ui::ReadText(station, IDC_REMOTE_STATUS), "Remote Tarvel Closed");
        EXPECT_EQ(ui::ReadText(station, IDC_LOCAL_STATUS), "Local Tarvel Closed");
        const Bytes host_close = {0x00, 0x0A, 0x00, 0x03};
        const Bytes wire = keyer->ReceivedEndingWith(host_close, kWaitMs);
        EXPECT_TRUE(EndsWith(wire, host_close)) << Hex(wire);
    }

    KeyerControl server_keyer_;
    KeyerControl client_keyer_;
    std::unique_ptr<Station> server_;
    std::unique_ptr<Station> client_;
    uint16_t port_ = 0;
    std::vector<uint8_t> client_image_;

  private:
    bool winsock_started_ = false;
    HANDLE job_ = nullptr;
};

TEST_F(TwoStationsTest, BothStationsShowTheLinkAndTheirKeyers) {
    EXPECT_TRUE(ui::WaitForText(client(), IDC_REMOTE_STATUS, "Remote Tarvel Ver:23", kWaitMs))
        << ui::ReadText(client(), IDC_REMOTE_STATUS);
    EXPECT_TRUE(ui::WaitForText(server(), IDC_NET_STATUS, "Connected to Client.", kWaitMs))
        << ui::ReadText(server(), IDC_NET_STATUS);
    EXPECT_EQ(ui::ReadText(client(), IDC_NET_STATUS), "Connected to server.");
    EXPECT_EQ(ui::ReadText(client(), IDC_LOCAL_STATUS), "Local Tarvel V23 OnLine");
    EXPECT_EQ(ui::ReadText(server(), IDC_LOCAL_STATUS), "Local Tarvel V23 OnLine");
    EXPECT_EQ(ui::ReadText(client(), IDC_OPEN_CLOSE), "Close");
    EXPECT_EQ(ui::ReadText(server(), IDC_OPEN_CLOSE), "Close");
    const std::string log = ui::ReadText(client(), IDC_LOG_PANE);
    EXPECT_TRUE(EndsWith(log, kEndConnectLog)) << log;
}

TEST_F(TwoStationsTest, ControlPointsSettingsDriveTheRemoteSidesKeyer) {
    // The server loaded its own block at the accept; the ControlPoint's block follows the
    // connect and replaces it, with serial echo forced on so that what the far keyer sends
    // comes back over the link. The ControlPoint's own keyer keeps the block unchanged.
    EXPECT_EQ(server_keyer_.WaitForStateField("wpm", std::to_string(kClientWpm), kWaitMs),
              std::to_string(kClientWpm));
    EXPECT_EQ(server_keyer_.WaitForStateField("mode", "04", kWaitMs), "04");
    EXPECT_EQ(client_keyer_.StateField("wpm"), std::to_string(kClientWpm));
    EXPECT_EQ(client_keyer_.StateField("mode"), "00");
    EXPECT_EQ(server_keyer_.StateField("host"), "1");
    EXPECT_EQ(client_keyer_.StateField("host"), "1");
}

TEST_F(TwoStationsTest, HeartbeatAnswersBlinkTheClientsMark) {
    // The ControlPoint sends a heartbeat every 2 s and each answer alternates the mark. It
    // starts empty, so seeing both of its texts takes two answers.
    bool seen_plus = false;
    bool seen_blank = false;
    std::string last;
    for (int waited = 0; waited < 12000 && !(seen_plus && seen_blank); waited += 50) {
        last = ui::ReadText(client(), IDC_HEARTBEAT);
        seen_plus = seen_plus || last == "+";
        seen_blank = seen_blank || last == " ";
        Sleep(50);
    }
    EXPECT_TRUE(seen_plus) << "last mark '" << last << "'";
    EXPECT_TRUE(seen_blank) << "last mark '" << last << "'";
    // The RemoteSide only answers; it sends no heartbeat of its own, so no answer comes back.
    EXPECT_EQ(ui::ReadText(server(), IDC_HEARTBEAT), "");
}

TEST_F(TwoStationsTest, ServerGoneLeavesTheClientClosableAndItsKeyerClosed) {
    ASSERT_TRUE(ui::WaitForText(client(), IDC_REMOTE_STATUS, "Remote Tarvel Ver:23", kWaitMs));
    server_->Kill();

    ASSERT_TRUE(ui::WaitForText(client(), IDC_NET_STATUS, "Connection Closed", kWaitMs))
        << ui::ReadText(client(), IDC_NET_STATUS);
    EXPECT_EQ(ui::ReadText(client(), IDC_REMOTE_STATUS), "Remote Tarvel Ver:23");
    EXPECT_EQ(ui::ReadText(client(), IDC_OPEN_CLOSE), "Close");

    PressCloseAndExpectClosed(client(), &client_keyer_);
}

TEST_F(TwoStationsTest, ServerGoesOnListeningWhenTheClientClosesAndTakesItBack) {
    ASSERT_TRUE(ui::WaitForText(server(), IDC_NET_STATUS, "Connected to Client.", kWaitMs));
    ASSERT_TRUE(ui::WaitForText(client(), IDC_REMOTE_STATUS, "Remote Tarvel Ver:23", kWaitMs));

    ASSERT_NO_FATAL_FAILURE(PressCloseAndExpectClosed(client(), &client_keyer_));

    EXPECT_TRUE(ui::WaitForText(server(), IDC_NET_STATUS, "Connection Closed", kWaitMs))
        << ui::ReadText(server(), IDC_NET_STATUS);
    EXPECT_EQ(ui::ReadText(server(), IDC_OPEN_CLOSE), "Close");
    EXPECT_EQ(ui::ReadText(server(), IDC_LOCAL_STATUS), "Local Tarvel V23 OnLine");

    // No press at the server: it still listens and takes the same client back.
    ui::Click(client(), IDC_OPEN_CLOSE);
    ASSERT_TRUE(ui::WaitForText(client(), IDC_NET_STATUS, "Connected to server.", kWaitMs))
        << ui::ReadText(client(), IDC_NET_STATUS) << "\n"
        << ui::ReadText(client(), IDC_LOG_PANE);
    EXPECT_TRUE(ui::WaitForText(client(), IDC_REMOTE_STATUS, "Remote Tarvel Ver:23", kWaitMs));
    EXPECT_EQ(ui::ReadText(client(), IDC_OPEN_CLOSE), "Close");
    EXPECT_TRUE(ui::WaitForText(server(), IDC_NET_STATUS, "Connected to Client.", kWaitMs))
        << ui::ReadText(server(), IDC_NET_STATUS);
    const std::string server_log = ui::ReadText(server(), IDC_LOG_PANE);
    EXPECT_EQ(CountOf(server_log, "\r\nAccepting Request...."), 2u) << server_log;
    const std::string client_log = ui::ReadText(client(), IDC_LOG_PANE);
    EXPECT_EQ(CountOf(client_log, "\r\n--------------Begin Connect Log------------"), 2u)
        << client_log;
    EXPECT_EQ(CountOf(client_log, kEndConnectLog), 2u) << client_log;
    EXPECT_TRUE(EndsWith(client_log, kEndConnectLog)) << client_log;
}

TEST_F(TwoStationsTest, ServerClosingTheLinkLeavesTheClientClosable) {
    ASSERT_TRUE(ui::WaitForText(server(), IDC_NET_STATUS, "Connected to Client.", kWaitMs));
    ASSERT_TRUE(ui::WaitForText(client(), IDC_REMOTE_STATUS, "Remote Tarvel Ver:23", kWaitMs));

    ASSERT_NO_FATAL_FAILURE(PressCloseAndExpectClosed(server(), &server_keyer_));

    EXPECT_TRUE(ui::WaitForText(client(), IDC_NET_STATUS, "Connection Closed", kWaitMs))
        << ui::ReadText(client(), IDC_NET_STATUS);
    EXPECT_EQ(ui::ReadText(client(), IDC_REMOTE_STATUS), "Remote Tarvel Ver:23");
    EXPECT_EQ(ui::ReadText(client(), IDC_OPEN_CLOSE), "Close");
    EXPECT_EQ(ui::ReadText(client(), IDC_LOCAL_STATUS), "Local Tarvel V23 OnLine");
}

TEST_F(TwoStationsTest, SecondClientIsTurnedAwayAndTheLinkGoesOn) {
    ASSERT_TRUE(ui::WaitForText(server(), IDC_NET_STATUS, "Connected to Client.", kWaitMs));

    SOCKET intruder = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    ASSERT_NE(intruder, INVALID_SOCKET);
    const DWORD timeout_ms = kWaitMs;
    setsockopt(intruder, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout_ms),
               sizeof timeout_ms);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port_);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int connected = connect(intruder, reinterpret_cast<sockaddr*>(&address), sizeof address);
    char byte = 0;
    // The server takes the connection and closes it again at once: an orderly end.
    const int got = connected == 0 ? recv(intruder, &byte, 1, 0) : -2;
    closesocket(intruder);
    EXPECT_EQ(connected, 0);
    EXPECT_EQ(got, 0);

    const std::string log = WaitForTextEnding(server(), IDC_LOG_PANE,
                                              "\r\nConnection refused: already linked", kWaitMs);
    EXPECT_TRUE(EndsWith(log, "\r\nConnection refused: already linked")) << log;
    EXPECT_EQ(ui::ReadText(server(), IDC_NET_STATUS), "Connected to Client.");
    EXPECT_EQ(ui::ReadText(client(), IDC_NET_STATUS), "Connected to server.");
    // Heartbeats still cross the first link and come back answered.
    const std::string mark = ui::ReadText(client(), IDC_HEARTBEAT);
    EXPECT_NE(WaitForTextChange(client(), IDC_HEARTBEAT, mark, kWaitMs), mark);
}

TEST_F(TwoStationsTest, ClientExitWhileLinkedEndsTheLinkButNotItsKeyer) {
    ASSERT_TRUE(ui::WaitForText(server(), IDC_NET_STATUS, "Connected to Client.", kWaitMs));
    ASSERT_TRUE(ui::WaitForText(client(), IDC_REMOTE_STATUS, "Remote Tarvel Ver:23", kWaitMs));
    // The last thing the client gives its own keyer is the load of its block again, at the
    // connect: the block, a speed-pot request and 0x15, in one write.
    const size_t block = offsetof(SettingsRecord, keyer_settings);
    Bytes load = {0x0F};
    load.insert(load.end(), client_image_.begin() + block,
                client_image_.begin() + block + sizeof(KeyerSettings));
    load.insert(load.end(), {0x07, 0x15});
    const Bytes before = client_keyer_.ReceivedEndingWith(load, kWaitMs);
    ASSERT_TRUE(EndsWith(before, load)) << Hex(before);

    ui::Click(client(), IDC_EXIT);
    EXPECT_EQ(client_->WaitForExit(kWaitMs), 0);
    EXPECT_TRUE(ui::WaitForText(server(), IDC_NET_STATUS, "Connection Closed", kWaitMs))
        << ui::ReadText(server(), IDC_NET_STATUS);
    EXPECT_EQ(ui::ReadText(server(), IDC_OPEN_CLOSE), "Close");
    EXPECT_EQ(ui::ReadText(server(), IDC_LOCAL_STATUS), "Local Tarvel V23 OnLine");
    // Exit leaves the keyer as it is: no base mode, no host close on its wire.
    EXPECT_EQ(Hex(client_keyer_.Received()), Hex(before));
    EXPECT_EQ(client_keyer_.StateField("host"), "1");
}

// The same pair with the server's keyer port switched off in its configuration.
class TwoStationsServerWithoutKeyerTest : public TwoStationsTest {
  protected:
    uint32_t ServerNetFlags() const override {
        return TwoStationsTest::ServerNetFlags() | kNetLocalKeyerDisabled;
    }
};

TEST_F(TwoStationsServerWithoutKeyerTest, ClientSeesNoRemoteKeyerAndTheServersPortStaysUnused) {
    EXPECT_TRUE(ui::WaitForText(client(), IDC_REMOTE_STATUS, "Remote Tarvel Ver:255", kWaitMs))
        << ui::ReadText(client(), IDC_REMOTE_STATUS);
    EXPECT_TRUE(ui::WaitForText(server(), IDC_NET_STATUS, "Connected to Client.", kWaitMs));
    EXPECT_EQ(ui::ReadText(server(), IDC_LOCAL_STATUS), "Local Tarvel Closed");
    EXPECT_EQ(ui::ReadText(server(), IDC_OPEN_CLOSE), "Close");
    EXPECT_EQ(ui::ReadText(client(), IDC_LOCAL_STATUS), "Local Tarvel V23 OnLine");
    const std::string server_log = ui::ReadText(server(), IDC_LOG_PANE);
    EXPECT_EQ(server_log.find("openComm"), std::string::npos) << server_log;
    // A heartbeat answered means the server has handled everything the client sent before
    // it, the settings block included, which found no keyer to go to.
    EXPECT_TRUE(ui::WaitForText(client(), IDC_HEARTBEAT, "+", kWaitMs));
    EXPECT_EQ(Hex(server_keyer_.Received()), "");
    EXPECT_EQ(server_keyer_.StateField("host"), "0");
}

}  // namespace

// The Win32 keyer port and host mode against the keyer emulator, through COM links in the
// Wine prefix. with_keyer_sims.sh starts a fresh emulator for each case, links its pty as
// the COM ports it lists in PELLMAR_KEYER_SIM_0_COM_PORTS and passes the emulator's control
// port in PELLMAR_KEYER_SIM_0_CONTROL_PORT, through which the test reads back the wire.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "keyer/keyer_link.h"
#include "keyer/serial_port.h"
#include "tools/common/wait_until.h"
#include "tools/keyer_recorder/recorded_keyer_events.h"
#include "tools/wine_kit/keyer_sim_control.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

const Bytes kHandshake = {0x13, 0x13, 0x13, 0x00, 0x04, 0x55, 0x00, 0x02};
constexpr int kShortNamePort = 9;
constexpr int kNamespacePort = 10;
constexpr int kPastNamespacePort = 17;

// Milliseconds, as a number, so that a failed bound prints readably.
long long Since(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// A direct open of a COM device, beside the keyer port, to look at the device itself.
HANDLE OpenDevice(const std::string& name) {
    return CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
}

// Reads what the device holds, waiting at most `timeout_ms` (a total read time-out).
Bytes ReadDevice(HANDLE handle, DWORD count, DWORD timeout_ms) {
    COMMTIMEOUTS timeouts{};
    timeouts.ReadTotalTimeoutConstant = timeout_ms;
    SetCommTimeouts(handle, &timeouts);
    Bytes buffer(count);
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD got = 0;
    if (!ReadFile(handle, buffer.data(), count, &got, &overlapped)) {
        got = 0;
        if (GetLastError() == ERROR_IO_PENDING &&
            WaitForSingleObject(overlapped.hEvent, 10000) == WAIT_OBJECT_0) {
            GetOverlappedResult(handle, &overlapped, &got, FALSE);
        } else {
            CancelIoEx(handle, &overlapped);
            GetOverlappedResult(handle, &overlapped, &got, TRUE);
            got = 0;
        }
    }
    CloseHandle(overlapped.hEvent);
    buffer.resize(got);
    return buffer;
}

class SerialPortTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* port = std::getenv("PELLMAR_KEYER_SIM_0_CONTROL_PORT");
        const char* com_ports = std::getenv("PELLMAR_KEYER_SIM_0_COM_PORTS");
        ASSERT_TRUE(port != nullptr && com_ports != nullptr)
            << "run these tests through tools/wine_kit/with_keyer_sims.sh, which starts the "
               "emulator";
        std::istringstream numbers(com_ports);
        int n = 0;
        while (numbers >> n) {
            linked_.push_back(n);
        }
        WSADATA data;
        ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
        winsock_started_ = true;
        ASSERT_TRUE(control_.Connect(std::atoi(port))) << "no keyer emulator on 127.0.0.1:" << port;
        ASSERT_EQ(Command("reset"), "ok");
    }

    void TearDown() override {
        // Leaves the emulator's pty free for the next case however this one ended.
        keyer_.CloseHost();
        keyer_.port().Close();
        EXPECT_EQ(control_.failure(), "");
        control_.Close();
        if (winsock_started_) {
            WSACleanup();
        }
    }

    bool Linked(int n) const {
        return std::find(linked_.begin(), linked_.end(), n) != linked_.end();
    }

    std::string Command(const std::string& line) { return control_.Command(line); }
    Bytes Received() { return control_.Received(); }

    // The wire as soon as it holds `count` bytes, or as it is after the time-out.
    Bytes ReceivedWhenAtLeast(size_t count, std::chrono::milliseconds timeout = 5000ms) {
        Bytes bytes;
        WaitUntil([&] { return (bytes = Received()).size() >= count; }, timeout, 10ms);
        return bytes;
    }

    std::string State() { return Command("state"); }

    // One byte to the keyer port: 1 when it was written.
    int WriteByte(uint8_t byte) { return keyer_.port().Write(&byte, 1); }

    // Port and host open as the connection sequence does them; the version through `v`.
    void OpenHost(int port, uint8_t* v) {
        ASSERT_EQ(keyer_.port().Open(port), 0);
        ASSERT_EQ(keyer_.OpenHost(v), 0);
    }

    std::vector<int> linked_;
    bool winsock_started_ = false;
    KeyerSimControl control_;
    KeyerLink keyer_{*RecordingKeyerListener()};
};

TEST_F(SerialPortTest, HostOpenPutsExactlyTheHandshakeOnTheWireAndReadsTheVersion) {
    uint8_t version = 0;
    OpenHost(kShortNamePort, &version);
    EXPECT_EQ(version, 23);
    EXPECT_EQ(ReceivedWhenAtLeast(kHandshake.size()), kHandshake);
    EXPECT_EQ(State().rfind("ok host=1 ", 0), 0u) << State();
    // Nothing more until the caller's first command: an idle writer sends nothing.
    Sleep(300);
    EXPECT_EQ(Received(), kHandshake);
}

TEST_F(SerialPortTest, ReadTimesOutAfterAQuarterSecondRightAfterTheOpen) {
    ASSERT_EQ(keyer_.port().Open(kShortNamePort), 0);
    uint8_t byte = 0x77;
    const auto start = Clock::now();
    EXPECT_EQ(keyer_.port().Read(&byte, 1), 0);
    const long long waited = Since(start);
    EXPECT_EQ(byte, 0x77);
    EXPECT_GE(waited, 200);
    EXPECT_LT(waited, 2000);
}

TEST_F(SerialPortTest, ReadTimesOutWithinTenMillisecondsInHostMode) {
    uint8_t version = 0;
    OpenHost(kShortNamePort, &version);
    // The keyer reader is reading the same port meanwhile; with nothing sent, both reads
    // only time out. The bound is far above 10 ms and far below the 250 ms of the open.
    uint8_t byte = 0;
    const auto start = Clock::now();
    EXPECT_EQ(keyer_.port().Read(&byte, 1), 0);
    EXPECT_LT(Since(start), 200);
}

TEST_F(SerialPortTest, ReadOfMoreThanArrivesGivesNothingNotAPart) {
    ASSERT_EQ(keyer_.port().Open(kShortNamePort), 0);
    ASSERT_EQ(Command("inject 41"), "ok");
    uint8_t buffer[2] = {0, 0};
    const auto start = Clock::now();
    EXPECT_EQ(keyer_.port().Read(buffer, 2), 0);
    EXPECT_GE(Since(start), 200);
    ASSERT_EQ(Command("inject 42 43"), "ok");
    EXPECT_EQ(keyer_.port().Read(buffer, 2), 1);
    EXPECT_EQ(buffer[0], 0x42);
    EXPECT_EQ(buffer[1], 0x43);
}

TEST_F(SerialPortTest, OpenDiscardsWhatArrivedBeforeIt) {
    // The emulator holds its pty's slave open, so bytes sent before an open wait there; a
    // direct open without a purge shows that they do.
    ASSERT_EQ(Command("inject 41"), "ok");
    const HANDLE device = OpenDevice("\\\\.\\COM9");
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    EXPECT_EQ(ReadDevice(device, 1, 1000), Bytes{0x41});
    CloseHandle(device);

    ASSERT_EQ(Command("inject 42 43"), "ok");
    ASSERT_EQ(keyer_.port().Open(kShortNamePort), 0);
    uint8_t byte = 0;
    EXPECT_EQ(keyer_.port().Read(&byte, 1), 0);
    ASSERT_EQ(Command("inject 44"), "ok");
    EXPECT_EQ(keyer_.port().Read(&byte, 1), 1);
    EXPECT_EQ(byte, 0x44);
}

TEST_F(SerialPortTest, SecondOpenWhileOpenIsRefusedAndKeepsTheOpenPort) {
    ASSERT_EQ(keyer_.port().Open(kShortNamePort), 0);
    // Wine 8 does not apply the share mode to a serial device (a second CreateFileA with no
    // sharing succeeds), unlike Windows, so here only the port layer's own refusal stands
    // between the two.
    EXPECT_EQ(keyer_.port().Open(kShortNamePort), -4);
    EXPECT_EQ(keyer_.port().Open(kNamespacePort), -4);
    uint8_t version = 0;
    EXPECT_EQ(keyer_.OpenHost(&version), 0);
    EXPECT_EQ(version, 23);
    EXPECT_EQ(ReceivedWhenAtLeast(kHandshake.size()), kHandshake);
}

TEST_F(SerialPortTest, CloseAfterBaseModeSendsBaseModeThenHostCloseAndFreesThePort) {
    uint8_t version = 0;
    OpenHost(kShortNamePort, &version);
    ASSERT_EQ(keyer_.SetBaseMode(), 0);
    ASSERT_EQ(keyer_.CloseHost(), 0);
    Bytes expected = kHandshake;
    expected.insert(expected.end(), {0x00, 0x0A, 0x00, 0x03});
    // The writer's writes completed before the close returned, but the emulator reads
    // the pty on its own thread.
    EXPECT_EQ(ReceivedWhenAtLeast(expected.size()), expected);
    Sleep(100);
    EXPECT_EQ(Received(), expected);
    EXPECT_EQ(State().rfind("ok host=0 ", 0), 0u) << State();
    EXPECT_EQ(keyer_.CloseHost(), -9);

    ASSERT_EQ(keyer_.port().Open(kShortNamePort), 0);
    version = 0;
    ASSERT_EQ(keyer_.OpenHost(&version), 0);
    EXPECT_EQ(version, 23);
    expected.insert(expected.end(), kHandshake.begin(), kHandshake.end());
    EXPECT_EQ(ReceivedWhenAtLeast(expected.size()), expected);
}

TEST_F(SerialPortTest, PortNumbersNameTheirDevices) {
    EXPECT_EQ(KeyerPortDeviceName(1), "com1:");
    EXPECT_EQ(KeyerPortDeviceName(kShortNamePort), "com9:");
    EXPECT_EQ(KeyerPortDeviceName(kNamespacePort), "\\\\.\\COM10");
    EXPECT_EQ(KeyerPortDeviceName(16), "\\\\.\\COM16");
    EXPECT_EQ(KeyerPortDeviceName(kPastNamespacePort), "\\\\.\\COM17");
}

TEST_F(SerialPortTest, ShortNamePortReachesTheKeyer) {
    ASSERT_TRUE(Linked(kShortNamePort));
    uint8_t version = 0;
    OpenHost(kShortNamePort, &version);
    EXPECT_EQ(version, 23);
}

TEST_F(SerialPortTest, DeviceNamespacePortReachesTheKeyer) {
    ASSERT_TRUE(Linked(kNamespacePort));
    uint8_t version = 0;
    OpenHost(kNamespacePort, &version);
    EXPECT_EQ(version, 23);
    EXPECT_EQ(ReceivedWhenAtLeast(kHandshake.size()), kHandshake);
}

// Only COM1 to COM9 are DOS device names (on Windows too): Wine takes "com17:" for a file
// "com17:" in the current folder, which does not exist, and reports file not found. So every
// port from 10 up, not only those up to 16, opens under its device-namespace name.
TEST_F(SerialPortTest, PortPastTheFixedNamesOpensInTheDeviceNamespace) {
    ASSERT_TRUE(Linked(kPastNamespacePort));
    const HANDLE device = OpenDevice("com17:");
    EXPECT_EQ(device, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    if (device != INVALID_HANDLE_VALUE) {
        CloseHandle(device);
    }
    // A port that is not there fails to open and leaves no handle behind: the next one opens.
    EXPECT_EQ(keyer_.port().Open(kPastNamespacePort + 1), -4);
    uint8_t version = 0;
    OpenHost(kPastNamespacePort, &version);
    EXPECT_EQ(version, 23);
    EXPECT_EQ(ReceivedWhenAtLeast(kHandshake.size()), kHandshake);
}

TEST_F(SerialPortTest, ReaderSortsWhatTheKeyerSendsInHostMode) {
    uint8_t version = 0;
    OpenHost(kShortNamePort, &version);
    // Status with busy set, an echoed letter, a speed-pot report and a paddle report.
    ASSERT_EQ(Command("inject C4 41 85 DD"), "ok");
    const std::vector<KeyerEvent> seen = WaitForKeyerEvents(4, 5s);
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[0], (KeyerEvent{kStatusEvent, 0x04}));
    EXPECT_EQ(seen[1], (KeyerEvent{kEchoEvent, 0x41}));
    EXPECT_EQ(seen[2].type, kSpeedPotEvent);
    EXPECT_EQ(seen[3], (KeyerEvent{kPaddleEvent, 0x01}));
    EXPECT_EQ(keyer_.Status(), 0x04);
    EXPECT_EQ(keyer_.TakeEchoByte(), 0x41);
}

// On a pty the RTS and DTR changes are taken (Wine ignores that a pty has no modem lines),
// but the modem status query fails: there are no lines to report. The keyer port relies on
// the first, to raise DTR at the open and drop it at host close.
TEST_F(SerialPortTest, LineChangesSucceedAndLeaveThePortWorking) {
    const HANDLE device = OpenDevice("\\\\.\\COM9");
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    const auto set_line = [device](bool rts, bool on) {
        DCB state{};
        state.DCBlength = sizeof state;
        if (!GetCommState(device, &state)) {
            return false;
        }
        if (rts) {
            state.fRtsControl = on ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
        } else {
            state.fDtrControl = on ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
        }
        return SetCommState(device, &state) != FALSE;
    };
    EXPECT_TRUE(set_line(true, true));
    EXPECT_TRUE(set_line(true, false));
    EXPECT_TRUE(set_line(false, false));
    EXPECT_TRUE(set_line(false, true));
    DWORD status = 0;
    EXPECT_FALSE(GetCommModemStatus(device, &status));
    CloseHandle(device);
    uint8_t version = 0;
    OpenHost(kShortNamePort, &version);
    EXPECT_EQ(version, 23);
}

TEST_F(SerialPortTest, CancelEndsAWaitingReadAndRefusesTransfersUntilTheNextOpen) {
    ASSERT_EQ(keyer_.port().Open(kShortNamePort), 0);
    keyer_.port().SetReadTimeout(5000);
    int result = -1;
    const auto start = Clock::now();
    std::thread reader([this, &result] {
        uint8_t byte = 0;
        result = keyer_.port().Read(&byte, 1);
    });
    Sleep(200);
    keyer_.port().CancelTransfers();
    reader.join();
    EXPECT_EQ(result, 0);
    // Well short of the five-second time-out the read was given.
    EXPECT_LT(Since(start), 3000);
    EXPECT_EQ(WriteByte(0x41), 0);
    Sleep(100);
    EXPECT_EQ(Received(), Bytes{});

    keyer_.port().Close();
    uint8_t version = 0;
    OpenHost(kShortNamePort, &version);
    EXPECT_EQ(ReceivedWhenAtLeast(kHandshake.size()), kHandshake);
}

// A keyer that goes away makes every read fail at once; the read still takes its
// time-out, or the keyer reader would spin on the dead port.
TEST_F(SerialPortTest, ReadFromAnUnpluggedKeyerStillTakesTheTimeOut) {
    ASSERT_EQ(keyer_.port().Open(kShortNamePort), 0);
    ASSERT_EQ(Command("unplug"), "ok");
    Sleep(100);
    uint8_t byte = 0;
    const auto start = Clock::now();
    EXPECT_EQ(keyer_.port().Read(&byte, 1), 0);
    EXPECT_GE(Since(start), 200);
    EXPECT_EQ(WriteByte(0x41), 0);
}

TEST_F(SerialPortTest, HostCloseAfterAnUnplugReturnsAndReleasesThePort) {
    uint8_t version = 0;
    OpenHost(kShortNamePort, &version);
    ASSERT_EQ(Command("unplug"), "ok");
    Sleep(100);
    EXPECT_EQ(keyer_.CloseHost(), 0);
    EXPECT_EQ(keyer_.IsHostOpen(), 0);
    // The pty is gone with the keyer, so its link leads nowhere.
    EXPECT_EQ(keyer_.port().Open(kShortNamePort), -4);
}

// The keyer reader's wait: no time-out of its own, ended by the close's interrupt, and a
// byte that comes with the interrupt left on the port rather than taken and dropped.
TEST_F(SerialPortTest, ReaderWaitOutlastsTheReadTimeOutAndEndsAtTheInterrupt) {
    ASSERT_EQ(keyer_.port().Open(kShortNamePort), 0);
    keyer_.port().SetReadTimeout(10);
    std::atomic<int> result{-1};
    std::atomic<int> byte{0};
    auto wait = [&] {
        uint8_t received = 0;
        const int got = keyer_.port().WaitForByte(&received);
        byte = received;
        result = got;
    };
    std::thread waiter(wait);
    Sleep(150);
    EXPECT_EQ(result.load(), -1) << "the wait ended with nothing to read";
    ASSERT_EQ(Command("inject 41"), "ok");
    waiter.join();
    EXPECT_EQ(result.load(), 1);
    EXPECT_EQ(byte.load(), 0x41);

    result = -1;
    waiter = std::thread(wait);
    Sleep(100);
    keyer_.port().InterruptWait();
    waiter.join();
    EXPECT_EQ(result.load(), 0);

    ASSERT_EQ(Command("inject 42"), "ok");
    Sleep(100);
    uint8_t left = 0;
    EXPECT_EQ(keyer_.port().WaitForByte(&left), 0);
    EXPECT_EQ(keyer_.port().Read(&left, 1), 1);
    EXPECT_EQ(left, 0x42);
    EXPECT_EQ(WriteByte(0x55), 1);
    EXPECT_EQ(ReceivedWhenAtLeast(1), Bytes{0x55});
}

// The whole close while the keyer says nothing: the reader is in its wait, not in a read
// that times out, and the close still ends it and puts the host close on the wire.
TEST_F(SerialPortTest, HostCloseEndsTheReadersWaitOnASilentKeyer) {
    uint8_t version = 0;
    OpenHost(kShortNamePort, &version);
    Sleep(300);
    EXPECT_EQ(keyer_.CloseHost(), 0);
    // The close returns as soon as the writer has written, before the emulator has read.
    const Bytes wire = ReceivedWhenAtLeast(kHandshake.size() + 2);
    ASSERT_GE(wire.size(), 2u);
    EXPECT_EQ(Bytes(wire.end() - 2, wire.end()), (Bytes{0x00, 0x03}));
    // The port is free again at once: both threads are gone.
    EXPECT_EQ(keyer_.port().Open(kShortNamePort), 0);
}

}  // namespace

#include "tests/wine/station_fixtures.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "app/resource_ids.h"
#include "settings/settings_record.h"

namespace {

void Put32(std::vector<uint8_t>* image, size_t offset, uint32_t value) {
    std::memcpy(image->data() + offset, &value, sizeof value);
}

}  // namespace

Bytes StationImage(uint32_t com_port, uint32_t net_flags, uint16_t ip_port, uint8_t wpm) {
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

void PutMessage(Bytes* image, int number, const std::string& text) {
    uint8_t* slot = image->data() + offsetof(SettingsRecord, messages) +
                    static_cast<size_t>(number - 1) * kTextFieldSize;
    std::memset(slot, 0, kTextFieldSize);
    std::memcpy(slot, text.data(), std::min(text.size(), kTextFieldSize - 1));
}

Bytes KeyerControl::ReceivedEndingWith(const Bytes& tail, int timeout_ms) {
    Bytes bytes = Received();
    for (int waited = 0; !EndsWith(bytes, tail) && waited < timeout_ms; waited += 50) {
        Sleep(50);
        bytes = Received();
    }
    return bytes;
}

Bytes KeyerControl::ReceivedContaining(const Bytes& part, int timeout_ms) {
    Bytes bytes = Received();
    for (int waited = 0;
         std::search(bytes.begin(), bytes.end(), part.begin(), part.end()) == bytes.end() &&
         waited < timeout_ms;
         waited += 50) {
        Sleep(50);
        bytes = Received();
    }
    return bytes;
}

std::string KeyerControl::StateField(const std::string& name) {
    std::istringstream state(Command("state"));
    std::string word;
    while (state >> word) {
        if (word.rfind(name + "=", 0) == 0) {
            return word.substr(name.size() + 1);
        }
    }
    return std::string();
}

std::string KeyerControl::WaitForStateField(const std::string& name, const std::string& value,
                                            int timeout_ms) {
    std::string seen = StateField(name);
    for (int waited = 0; seen != value && waited < timeout_ms; waited += 50) {
        Sleep(50);
        seen = StateField(name);
    }
    return seen;
}

KeyerFlood::KeyerFlood(int control_port, const std::string& line) {
    connected_ = control_.Connect(control_port);
    thread_ = std::thread([this, line] {
        while (!stop_.load()) {
            if (pouring.load()) {
                control_.Command(line);
            }
            Sleep(2);
        }
    });
}

KeyerFlood::~KeyerFlood() {
    stop_ = true;
    thread_.join();
}

int AnswerTimeMs(HWND window, int timeout_ms) {
    const DWORD start = GetTickCount();
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, static_cast<UINT>(timeout_ms),
                             &result)) {
        return timeout_ms;
    }
    return static_cast<int>(GetTickCount() - start);
}

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

void StationTestBase::SetUp() {
    WSADATA data;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    winsock_started_ = true;
    job_ = CreateJobObjectA(nullptr, nullptr);
    ASSERT_NE(job_, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    ASSERT_TRUE(
        SetInformationJobObject(job_, JobObjectExtendedLimitInformation, &limits, sizeof limits));
}

void StationTestBase::TearDown() {
    if (job_ != nullptr) {
        CloseHandle(job_);
        job_ = nullptr;
    }
    if (winsock_started_) {
        WSACleanup();
        winsock_started_ = false;
    }
}

bool StationTestBase::StartInJob(Station* station, bool wait_for_window) {
    if (!(wait_for_window ? station->Start() : station->Launch())) {
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

void KeyedStationTest::SetUp() {
    StationTestBase::SetUp();
    ASSERT_TRUE(EmulatorFromEnvironment(0, &emulator_))
        << "run these tests through tests/wine/with_keyer_sims.sh, which starts the emulator";
    ASSERT_TRUE(keyer_.Connect(emulator_.control_port));
    ASSERT_EQ(keyer_.Command("reset"), "ok");

    Bytes image = StationImage(static_cast<uint32_t>(emulator_.com_port), kNetModeOff, 0, kWpm);
    AdjustImage(&image);
    station_ = std::make_unique<Station>();
    station_->WriteConfig(image);
    ASSERT_TRUE(StartInJob(station_.get()));
    ui::Click(window(), IDC_OPEN_CLOSE);
    ASSERT_TRUE(ui::WaitForText(window(), IDC_OPEN_CLOSE, "Close", kWaitMs))
        << ui::ReadText(window(), IDC_LOG_PANE);
    ASSERT_TRUE(ui::WaitForText(window(), IDC_LOCAL_STATUS, "Local Tarvel V23 OnLine", kWaitMs));
    // The settings block is the attach's last command; once the emulator holds its speed the
    // attach is over and what follows on the wire is the case's own.
    ASSERT_EQ(keyer_.WaitForStateField("wpm", std::to_string(kWpm), kWaitMs), std::to_string(kWpm));
    ForgetWireSoFar();
}

void KeyedStationTest::TearDown() {
    station_.reset();
    keyer_.Close();
    StationTestBase::TearDown();
}

Bytes KeyedStationTest::WireSinceMarkContaining(const Bytes& part, int timeout_ms) {
    Bytes wire = keyer_.Received();
    for (int waited = 0;; waited += 50) {
        const Bytes since(
            wire.begin() + static_cast<std::ptrdiff_t>(std::min(wire_mark_, wire.size())),
            wire.end());
        if (std::search(since.begin(), since.end(), part.begin(), part.end()) != since.end() ||
            waited >= timeout_ms) {
            return since;
        }
        Sleep(50);
        wire = keyer_.Received();
    }
}

bool SaveNamedScreenshot(HWND window, const std::string& name) {
    return SaveNamedScreenshot(std::vector<HWND>{window}, name);
}

bool SaveNamedScreenshot(const std::vector<HWND>& windows, const std::string& name) {
    CreateDirectoryA((ui::OwnFolder() + "screenshots").c_str(), nullptr);
    const std::string shot = ui::OwnFolder() + "screenshots\\" + name + ".bmp";
    const bool saved = ui::SaveScreenshot(windows, shot);
    std::printf("screenshot: %s\n", shot.c_str());
    return saved;
}

#include "tools/wine_kit/station_kit.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "settings/settings_record.h"
#include "tools/common/wait_until.h"

namespace {

constexpr std::chrono::milliseconds kPoll{50};

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

void PutMessage(Bytes* image, int number, const std::string& text) {
    uint8_t* slot = image->data() + offsetof(SettingsRecord, messages) +
                    static_cast<size_t>(number - 1) * kTextFieldSize;
    std::memset(slot, 0, kTextFieldSize);
    std::memcpy(slot, text.data(), std::min(text.size(), kTextFieldSize - 1));
}

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

SOCKET ConnectToLoopback(uint16_t port, DWORD receive_timeout_ms, const char* from) {
    SOCKET client = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (client == INVALID_SOCKET) {
        return INVALID_SOCKET;
    }
    setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&receive_timeout_ms),
               sizeof receive_timeout_ms);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = from != nullptr ? inet_addr(from) : 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if ((from != nullptr &&
         bind(client, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) ||
        connect(client, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        closesocket(client);
        return INVALID_SOCKET;
    }
    return client;
}

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

bool EndsWith(const Bytes& bytes, const Bytes& tail) {
    return bytes.size() >= tail.size() &&
           std::equal(tail.begin(), tail.end(),
                      bytes.end() - static_cast<std::ptrdiff_t>(tail.size()));
}

size_t CountOf(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
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

std::string WaitForTextEnding(HWND window, int id, const std::string& tail, int timeout_ms) {
    std::string text;
    WaitUntil([&] { return EndsWith(text = ui::ReadText(window, id), tail); },
              std::chrono::milliseconds(timeout_ms), kPoll);
    return text;
}

std::string WaitForTextChange(HWND window, int id, const std::string& from, int timeout_ms) {
    std::string text;
    WaitUntil([&] { return (text = ui::ReadText(window, id)) != from; },
              std::chrono::milliseconds(timeout_ms), kPoll);
    return text;
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
    const char* device = std::getenv((prefix + "DEVICE").c_str());
    emulator->com_port = std::atoi(com);
    emulator->control_port = std::atoi(control);
    emulator->device = device != nullptr ? device : "";
    return emulator->com_port > 0 && emulator->control_port > 0;
}

Job::Job() {
    job_ = CreateJobObjectA(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (job_ != nullptr &&
        !SetInformationJobObject(job_, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
        CloseHandle(job_);
        job_ = nullptr;
    }
}

Job::~Job() {
    if (job_ != nullptr) {
        CloseHandle(job_);
    }
}

bool Job::Add(DWORD process_id) {
    HANDLE process = OpenProcess(PROCESS_SET_QUOTA | PROCESS_TERMINATE, FALSE, process_id);
    const bool added = process != nullptr && AssignProcessToJobObject(job_, process);
    if (process != nullptr) {
        CloseHandle(process);
    }
    return added;
}

bool SaveNamedScreenshot(HWND window, const std::string& name) {
    return SaveNamedScreenshot(std::vector<HWND>{window}, name);
}

bool SaveNamedScreenshot(const std::vector<HWND>& windows, const std::string& name,
                         const std::vector<std::string>& captions) {
    CreateDirectoryA((ui::OwnFolder() + "screenshots").c_str(), nullptr);
    const std::string shot = ui::OwnFolder() + "screenshots\\" + name + ".bmp";
    const bool saved = ui::SaveScreenshot(windows, shot, captions);
    std::printf("screenshot: %s\n", shot.c_str());
    return saved;
}

#include "tools/wine_kit/native_site.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include "tools/common/wait_until.h"

namespace {

constexpr std::chrono::milliseconds kPoll{20};
// What the site writes before a line's text: "YYYY-MM-DD HH:MM:SS.mmm ".
constexpr size_t kStampLength = 24;
// The lines that tell a field of the window rather than a line of the Connect log, and the
// site's own first and last lines.
const char* const kNotTheLog[] = {
    "Network: ", "Local keyer: ", "Remote keyer: ", "Link: ",       "Tune: ",
    "Pause: ",   "Speed: ",       "Error: ",        "pellmar-site "};
constexpr const char* kNetworkPrefix = "Network: ";

bool StartsWith(const std::string& text, const std::string& head) {
    return text.compare(0, head.size(), head) == 0;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

bool StartUnixProgram(const std::string& unix_path, const std::string& arguments) {
    const std::string program = WindowsPathOf(unix_path);
    std::string command = unix_path + " " + arguments;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(program.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &info)) {
        return false;
    }
    for (HANDLE handle : {info.hProcess, info.hThread}) {
        if (handle != nullptr) {
            CloseHandle(handle);
        }
    }
    return true;
}

std::string WindowsPathOf(const std::string& unix_path) {
    std::string path = "Z:" + unix_path;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

NativeSite::NativeSite(const std::string& program, const std::string& keyer_device,
                       int life_seconds)
    : program_(program), keyer_device_(keyer_device), life_seconds_(life_seconds) {
    static int sequence = 0;
    unix_folder_ = "/tmp/pellmar-native-site-" + std::to_string(GetCurrentProcessId()) + "-" +
                   std::to_string(GetTickCount()) + "-" + std::to_string(sequence++);
    folder_ = WindowsPathOf(unix_folder_) + "\\";
    CreateDirectoryA(folder_.c_str(), nullptr);
}

NativeSite::~NativeSite() {
    Kill();
    RemoveFolder(folder_);
}

bool NativeSite::Launch(int /*timeout_ms*/) {
    problem_.clear();
    if (program_.empty() || !Exists(WindowsPathOf(program_))) {
        problem_ = "no native site at '" + program_ +
                   "' (PELLMAR_SITE): build the host preset first (scripts/build host)\n";
        return false;
    }
    if (keyer_device_.empty()) {
        problem_ = "no keyer device for the native site: run through with_keyer_sims.sh\n";
        return false;
    }
    // What an earlier run left would read as this run's.
    for (const char* file : {"pid", "status", "out", "err"}) {
        DeleteFileA((folder_ + file).c_str());
    }
    // The inner shell hands its pid to the site (exec), so that the pid file names the site.
    std::ofstream(folder_ + "run.sh", std::ios::binary | std::ios::trunc)
        << "PATH=/usr/bin:/bin\n"
        << "cd '" << unix_folder_ << "' || exit 1\n"
        << "timeout -k 2 " << life_seconds_
        << " sh -c 'echo $$ >pid.new && mv pid.new pid && exec \"$0\" \"$@\"' '" << program_
        << "' --config '" << unix_folder_ << "/pellmar.cfg' --keyer '" << keyer_device_
        << "' >out 2>err\n"
        << "echo $? >status.new && mv status.new status\n";
    if (!StartUnixProgram("/bin/sh", unix_folder_ + "/run.sh")) {
        problem_ = "Wine did not start /bin/sh\n";
        return false;
    }
    return true;
}

bool NativeSite::Ended() {
    return Exists(folder_ + "status");
}

std::vector<std::string> NativeSite::Texts() const {
    std::vector<std::string> texts;
    std::istringstream out(ReadFile(folder_ + "out"));
    for (std::string line; std::getline(out, line);) {
        texts.push_back(line.size() >= kStampLength ? line.substr(kStampLength) : line);
    }
    return texts;
}

std::string NativeSite::NetStatus() {
    const std::vector<std::string> texts = Texts();
    for (auto text = texts.rbegin(); text != texts.rend(); ++text) {
        if (StartsWith(*text, kNetworkPrefix)) {
            return text->substr(std::string(kNetworkPrefix).size());
        }
    }
    return std::string();
}

std::vector<std::string> NativeSite::LogLines() {
    std::vector<std::string> lines;
    for (const std::string& text : Texts()) {
        bool of_the_log = true;
        for (const char* head : kNotTheLog) {
            of_the_log = of_the_log && !StartsWith(text, head);
        }
        if (of_the_log) {
            lines.push_back(text);
        }
    }
    return lines;
}

std::string NativeSite::Shown() {
    return problem_ + ReadFile(folder_ + "out") + ReadFile(folder_ + "err");
}

bool NativeSite::Running() const {
    return Exists(folder_ + "pid") && !Exists(folder_ + "status");
}

int NativeSite::pid() const {
    return Running() ? std::atoi(ReadFile(folder_ + "pid").c_str()) : 0;
}

bool NativeSite::Signal(const char* name) const {
    const int site = pid();
    return site > 0 &&
           StartUnixProgram("/bin/kill", std::string("-") + name + " " + std::to_string(site));
}

long NativeSite::WaitForStatus(int timeout_ms) const {
    std::string status;
    WaitUntil([&] { return !(status = ReadFile(folder_ + "status")).empty(); },
              std::chrono::milliseconds(timeout_ms), kPoll);
    return status.empty() ? -1 : std::atol(status.c_str());
}

long NativeSite::Exit(int timeout_ms) {
    if (!Running() || !Signal("TERM")) {
        return -1;
    }
    return WaitForStatus(timeout_ms);
}

void NativeSite::Kill() {
    if (Running() && Signal("KILL")) {
        WaitForStatus(5000);
    }
}

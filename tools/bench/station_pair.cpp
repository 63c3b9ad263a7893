#include "tools/bench/station_pair.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "app/resource_ids.h"
#include "keyer/keyer_wire.h"
#include "settings/settings_record.h"

namespace {

std::string Lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

bool Fail(std::string* error, const std::string& what) {
    *error = what;
    return false;
}

// Longer than the longest bench run; a bench that dies leaves no site running for long.
constexpr int kBenchSiteLifeSeconds = 900;

bool StartNativeSite(const PairOptions& options, const Bytes& image, StationPair* pair,
                     std::string* error) {
    const char* device = std::getenv("PELLMAR_KEYER_SIM_0_DEVICE");
    if (device == nullptr) {
        return Fail(error, "no pty for the native site's keyer (PELLMAR_KEYER_SIM_0_DEVICE)");
    }
    pair->native = std::make_unique<NativeSite>(options.native_site, device, kBenchSiteLifeSeconds);
    pair->native->WriteConfig(image);
    if (!options.server_ini.empty()) {
        pair->native->WriteIni(options.server_ini);
    }
    if (!pair->native->StartListening(options.wait_ms)) {
        return Fail(error,
                    "the native site does not listen: it wrote \"" + pair->native->Shown() + "\"");
    }
    return true;
}

// The RemoteSide as a Wine pellmar.exe, opened and listening.
bool StartServer(const PairOptions& options, const Bytes& image, Job* job, StationPair* pair,
                 std::string* error) {
    pair->server = std::make_unique<PellmarProcess>();
    pair->server->WriteConfig(image);
    if (!options.server_ini.empty()) {
        std::ofstream(pair->server->folder() + "pellmar.ini", std::ios::binary)
            << options.server_ini;
    }
    if (!options.program.empty()) {
        pair->server->SetProgram(options.program);
    }
    if (!pair->server->Start()) {
        return Fail(error, "the RemoteSide did not start");
    }
    job->Add(pair->server->process_id());
    ui::Click(pair->server->window(), IDC_OPEN_CLOSE);
    if (!ui::WaitForText(pair->server->window(), IDC_NET_STATUS, "Listening for Request....",
                         options.wait_ms)) {
        return Fail(error, "the RemoteSide does not listen: it shows \"" +
                               ui::ReadText(pair->server->window(), IDC_NET_STATUS) +
                               "\", its log pane \"" +
                               ui::ReadText(pair->server->window(), IDC_LOG_PANE) + "\"");
    }
    return true;
}

}  // namespace

void StopNativeSite(StationPair* pair) {
    if (pair->native) {
        pair->native->Exit(5000);
        pair->native.reset();
    }
}

bool StartStationPair(const PairOptions& options, Job* job, StationPair* pair, std::string* error) {
    Emulator server_emulator;
    Emulator client_emulator;
    if (!EmulatorFromEnvironment(0, &server_emulator) ||
        !EmulatorFromEnvironment(1, &client_emulator)) {
        return Fail(error, "run me through tools/wine_kit/with_keyer_sims.sh with two emulators");
    }
    if (!pair->server_keyer.Connect(server_emulator.control_port) ||
        !pair->client_keyer.Connect(client_emulator.control_port) ||
        pair->server_keyer.Command("reset") != "ok" ||
        pair->client_keyer.Command("reset") != "ok") {
        return Fail(error, "the emulators' control channels do not answer");
    }
    const uint16_t port = FreeLoopbackPort();
    const Bytes server_image =
        StationImage(static_cast<uint32_t>(server_emulator.com_port),
                     kNetModeServer | kNetIpAddrOverride | kNetRoleRemoteSide, port, options.wpm);
    pair->client = std::make_unique<PellmarProcess>();
    const uint16_t client_port = options.client_port ? options.client_port(port) : port;
    Bytes client_image =
        StationImage(static_cast<uint32_t>(client_emulator.com_port),
                     kNetModeClient | kNetRoleControlPoint, client_port, options.wpm);
    if (options.adjust_client) {
        options.adjust_client(&client_image);
    }
    pair->client->WriteConfig(client_image);
    if (!options.program.empty()) {
        pair->client->SetProgram(options.program);
    }
    if (!options.native_site.empty()) {
        if (!StartNativeSite(options, server_image, pair, error)) {
            return false;
        }
    } else if (!StartServer(options, server_image, job, pair, error)) {
        return false;
    }
    if (!pair->client->Start()) {
        return Fail(error, "the ControlPoint did not start");
    }
    job->Add(pair->client->process_id());
    return LinkClient(pair, options.wait_ms, error);
}

bool LinkClient(StationPair* pair, int wait_ms, std::string* error) {
    const size_t mark = pair->server_keyer.Received().size();
    ui::Click(pair->client->window(), IDC_OPEN_CLOSE);
    if (!ui::WaitForText(pair->client->window(), IDC_REMOTE_STATUS, "Remote Tarvel Ver:23",
                         wait_ms)) {
        return Fail(error, "the stations did not link: the ControlPoint shows \"" +
                               ui::ReadText(pair->client->window(), IDC_NET_STATUS) + "\"");
    }
    // The settings block ends with a speed-pot request and the load's end (07 15), which no
    // text and no other command sends: once they are on the far wire, the ControlPoint's block
    // is loaded.
    const Bytes loaded = {keyer_wire::kRequestSpeedPot, keyer_wire::kEndLoad};
    const Bytes since = pair->server_keyer.ReceivedSince(mark, loaded, wait_ms);
    if (std::search(since.begin(), since.end(), loaded.begin(), loaded.end()) == since.end()) {
        return Fail(error, "the ControlPoint's settings never reached the RemoteSide's keyer");
    }
    return true;
}

std::string ReadUnixFile(const std::string& path) {
    std::ifstream file(WindowsPathOf(path), std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

std::vector<std::string> UnixFolder(const std::string& path) {
    std::vector<std::string> names;
    const std::string pattern = WindowsPathOf(path + "/*");
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(pattern.c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) {
        return names;
    }
    do {
        if (entry.cFileName[0] != '.') {
            names.push_back(entry.cFileName);
        }
    } while (FindNextFileA(search, &entry));
    FindClose(search);
    return names;
}

int UnixPidWith(const std::string& part) {
    const std::string wanted = Lower(part);
    char prefix[MAX_PATH] = {};
    GetEnvironmentVariableA("WINEPREFIX", prefix, sizeof prefix);
    const std::string ours = std::string("WINEPREFIX=") + prefix + '\0';
    for (const std::string& name : UnixFolder("/proc")) {
        if (name.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        std::string command = ReadUnixFile("/proc/" + name + "/cmdline");
        std::replace(command.begin(), command.end(), '\0', ' ');
        if (Lower(command).find(wanted) == std::string::npos) {
            continue;
        }
        if (prefix[0] == '\0' ||
            ReadUnixFile("/proc/" + name + "/environ").find(ours) != std::string::npos) {
            return std::atoi(name.c_str());
        }
    }
    return 0;
}

int UnixPidOf(const PellmarProcess& station) {
    // Its command line under Linux ends with its own folder and the program.
    std::string folder = station.folder();
    folder.pop_back();
    return UnixPidWith(folder.substr(folder.rfind('\\') + 1) + "\\pellmar.exe");
}

long StatusField(int pid, const std::string& field) {
    std::istringstream status(ReadUnixFile("/proc/" + std::to_string(pid) + "/status"));
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field + ":", 0) == 0) {
            return std::atol(line.c_str() + field.size() + 1);
        }
    }
    return -1;
}

int WineServerPidFromEnvironment() {
    const char* pid = std::getenv("PELLMAR_WINESERVER_PID");
    return pid != nullptr ? std::atoi(pid) : 0;
}

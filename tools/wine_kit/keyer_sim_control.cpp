#include "tools/wine_kit/keyer_sim_control.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <sstream>

#include "tools/common/wait_until.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr std::chrono::milliseconds kPoll{50};

bool Holds(const Bytes& bytes, const Bytes& part) {
    return std::search(bytes.begin(), bytes.end(), part.begin(), part.end()) != bytes.end();
}

}  // namespace

bool KeyerSimControl::Connect(int port) {
    Close();
    socket_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (socket_ == INVALID_SOCKET) {
        return false;
    }
    // A control line is answered at once; five seconds means the emulator is gone.
    const DWORD timeout_ms = 5000;
    setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout_ms),
               sizeof timeout_ms);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

void KeyerSimControl::Close() {
    if (socket_ != INVALID_SOCKET) {
        closesocket(socket_);
        socket_ = INVALID_SOCKET;
    }
}

std::string KeyerSimControl::Command(const std::string& line) {
    const std::string request = line + "\n";
    if (send(socket_, request.data(), static_cast<int>(request.size()), 0) !=
        static_cast<int>(request.size())) {
        return "error send";
    }
    std::string reply;
    char c = 0;
    while (recv(socket_, &c, 1, 0) == 1) {
        if (c == '\n') {
            return reply;
        }
        reply += c;
    }
    return "error no reply to " + line;
}

Bytes KeyerSimControl::Received() {
    const std::string line = Command("received");
    std::istringstream reply(line);
    std::string word;
    reply >> word;
    if (word != "ok" && failure_.empty()) {
        failure_ = line;
    }
    Bytes bytes;
    while (reply >> word) {
        bytes.push_back(static_cast<uint8_t>(std::strtoul(word.c_str(), nullptr, 16)));
    }
    return bytes;
}

std::vector<TimedByte> KeyerSimControl::TimedBytes(const std::string& verb) {
    std::vector<TimedByte> bytes;
    std::istringstream reply(Command(verb));
    std::string word;
    if (!(reply >> word) || word != "ok" || !(reply >> word)) {
        return bytes;
    }
    while (reply >> word) {
        const size_t colon = word.find(':');
        if (colon != std::string::npos) {
            bytes.push_back(
                {std::atof(word.substr(0, colon).c_str()),
                 static_cast<uint8_t>(std::strtoul(word.c_str() + colon + 1, nullptr, 16))});
        }
    }
    return bytes;
}

Bytes KeyerSimControl::ReceivedEndingWith(const Bytes& tail, int timeout_ms) {
    Bytes bytes;
    WaitUntil(
        [&] {
            bytes = Received();
            return bytes.size() >= tail.size() &&
                   std::equal(tail.begin(), tail.end(),
                              bytes.end() - static_cast<std::ptrdiff_t>(tail.size()));
        },
        std::chrono::milliseconds(timeout_ms), kPoll);
    return bytes;
}

Bytes KeyerSimControl::ReceivedContaining(const Bytes& part, int timeout_ms) {
    return ReceivedSince(0, part, timeout_ms);
}

Bytes KeyerSimControl::ReceivedSince(size_t mark, const Bytes& part, int timeout_ms) {
    Bytes since;
    WaitUntil(
        [&] {
            const Bytes wire = Received();
            since.assign(wire.begin() + static_cast<std::ptrdiff_t>(std::min(mark, wire.size())),
                         wire.end());
            return Holds(since, part);
        },
        std::chrono::milliseconds(timeout_ms), kPoll);
    return since;
}

std::string KeyerSimControl::StateField(const std::string& name) {
    std::istringstream state(Command("state"));
    std::string word;
    while (state >> word) {
        if (word.rfind(name + "=", 0) == 0) {
            return word.substr(name.size() + 1);
        }
    }
    return std::string();
}

std::string KeyerSimControl::WaitForStateField(const std::string& name, const std::string& value,
                                               int timeout_ms) {
    std::string seen;
    WaitUntil([&] { return (seen = StateField(name)) == value; },
              std::chrono::milliseconds(timeout_ms), kPoll);
    return seen;
}

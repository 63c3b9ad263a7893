#include "tests/wine/keyer_sim_control.h"

#include <cstdlib>
#include <sstream>

#include "gtest/gtest.h"

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

std::vector<uint8_t> KeyerSimControl::Received() {
    std::istringstream reply(Command("received"));
    std::string word;
    reply >> word;
    EXPECT_EQ(word, "ok");
    std::vector<uint8_t> bytes;
    while (reply >> word) {
        bytes.push_back(static_cast<uint8_t>(std::strtoul(word.c_str(), nullptr, 16)));
    }
    return bytes;
}

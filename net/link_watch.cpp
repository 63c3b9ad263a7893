#include "net/link_watch.h"

#include <atomic>
#include <cstdint>

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<int64_t> silence_for_test_ms{0};

Clock::time_point last_heard;
bool heartbeat_heard = false;
// The data socket whose framing is lost; written by any sender, read by the window's thread.
std::atomic<SocketHandle> cut_short_socket{kNoSocket};

std::chrono::milliseconds SilencePeriod() {
    const int64_t test_ms = silence_for_test_ms.load();
    return test_ms > 0 ? std::chrono::milliseconds(test_ms) : kLinkSilencePeriod;
}

}  // namespace

void SetLinkSilencePeriodForTest(std::chrono::milliseconds period) {
    silence_for_test_ms.store(period.count());
}

void StartLinkWatch() {
    last_heard = Clock::now();
    heartbeat_heard = false;
    // A handle can be given out again for the next link; what was true of the old
    // connection must not end the new one.
    cut_short_socket.store(kNoSocket);
}

void NoteLinkPacket(const Packet& packet) {
    last_heard = Clock::now();
    if (HasPacketMarker(packet) && PacketType(packet) == PKT_HEARTBEAT) {
        heartbeat_heard = true;
    }
}

bool IsLinkHeardFrom() {
    return Clock::now() - last_heard < SilencePeriod();
}

bool IsLinkSilent(bool sends_heartbeats) {
    return (sends_heartbeats || heartbeat_heard) && !IsLinkHeardFrom();
}

void NoteCutShortSend(SocketHandle socket) {
    cut_short_socket.store(socket);
}

bool IsFramingLost(SocketHandle socket) {
    return socket != kNoSocket && cut_short_socket.load() == socket;
}

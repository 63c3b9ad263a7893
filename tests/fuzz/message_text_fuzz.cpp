// A stored message's text: any bytes in its 256-byte slot, as a configuration file written
// by other means may hold them, sent the way the sender thread sends it, one step per
// character, with the window as the recording window and the keyer closed or attached and
// slow, linked or not.
//
// The input: a byte of `net_flags`, a byte of station state (bit 0 linked, bit 1 keyer
// attached), a byte that picks the message (its value modulo 6), then the bytes of that
// slot and of the slots after it, 256 bytes each, as far as the input lasts.
//
// What must hold: nothing past the slot's last byte or its terminator is read; each step
// produces at most a command and its argument, and a command that takes an argument comes
// from a token only together with it; no byte below 0x20 is sent but a token's; what a step
// produces reaches the log pane byte for byte and the keyer's queue whole or not at all, and
// never not at all while the sender may only go on when the queue has room.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/main_window_view.h"
#include "app/resource_ids.h"
#include "keyer/keyer_link.h"
#include "messages/message_sender.h"
#include "net/socket_api.h"
#include "settings/settings_record.h"
#include "station/station.h"
#include "tests/fuzz/fuzz_station.h"
#include "tests/support/recording_window.h"

namespace {

constexpr uint8_t kStateLinked = 0x01;
constexpr uint8_t kStateKeyerAttached = 0x02;

// The bytes a step handed to the log pane: each as a one-character insertion, a NUL as an
// empty one.
struct Produced {
    uint8_t bytes[2] = {0, 0};
    std::size_t count = 0;
};

Produced LoggedSince(RecordingWindow& window, std::size_t first_call) {
    Produced produced;
    for (const RecordingWindow::Call& call : window.CallsFrom(first_call)) {
        if (call.kind == "replace" && call.id == IDC_LOG_PANE) {
            FuzzCheck(call.text.size() <= 1, "one byte at a time to the log pane");
            FuzzCheck(produced.count < 2, "a step produces a command and its argument at most");
            produced.bytes[produced.count++] =
                call.text.empty() ? 0 : static_cast<uint8_t>(call.text[0]);
        }
    }
    return produced;
}

// Waits as the sender does until IsLinkBusy reports not busy, here by letting the other
// station or the keyer catch up at once. False when nothing could: with neither link nor
// keyer the message waits until something stops it.
bool WaitWhileBusy(Station& station) {
    KeyerLink& keyer = StationFuzzAccess::Keyer(station);
    while (station.IsLinkBusy()) {
        if (station.IsLinked()) {
            StationFuzzAccess::State(station).remote_busy = 0;
        } else if (keyer.IsQueueNearlyFull() == 1) {
            TakeQueuedBytes(keyer);
        } else {
            return false;
        }
    }
    return true;
}

void SendMessage(RecordingWindow& window, Station& station, int number, bool keyer_attached) {
    // Exactly the slot's size, so that a read past it is caught where it happens.
    const std::unique_ptr<char[]> text(new char[kTextFieldSize]);
    MessageSender& sender = StationFuzzAccess::Sender(station);
    KeyerLink& keyer = StationFuzzAccess::Keyer(station);
    FuzzCheck(sender.BeginMessage(number, text.get()), "every message number has a text");
    for (std::size_t at = 0; text[at] != '\0'; ++at) {
        FuzzCheck(at + 1 < kTextFieldSize, "the text ends within its slot");
        if (!WaitWhileBusy(station)) {
            return;
        }
        const std::size_t first_call = window.CallCount();
        const std::size_t queued_before = QueuedCount(keyer);
        FuzzCheck(sender.SendCharacter(text[at]), "the step hands its bytes on");
        const Produced produced = LoggedSince(window, first_call);
        if (produced.count == 2) {
            FuzzCheck(keyer_wire::BufferedCommandArgumentCount(produced.bytes[0]) == 1,
                      "two bytes are one command with its one argument");
        } else if (produced.count == 1) {
            const uint8_t byte = produced.bytes[0];
            FuzzCheck(byte >= keyer_wire::kFirstTextByte || byte == keyer_wire::kBufferedMerge ||
                          byte == keyer_wire::kBufferedCancelSpeed,
                      "below 0x20 a byte alone is a token's command, never text");
        }

        if (!keyer_attached) {
            continue;
        }
        const std::size_t queued = QueuedCount(keyer);
        FuzzCheck(queued >= queued_before, "nothing leaves the queue in a step");
        const std::size_t added = queued - queued_before;
        FuzzCheck(added == 0 || added == produced.count,
                  "a step reaches the keyer's queue whole or not at all");
        FuzzCheck(added == produced.count || station.IsLinked(),
                  "unlinked, the sender waits for room rather than lose text");
        FuzzCheck(added == 0 || QueueEndsWith(keyer, produced.bytes, added),
                  "the keyer's queue gets the bytes the step produced");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    RecordingWindow window;
    MainWindowView view{window};
    SocketLoop sockets;
    Station station(view, view, sockets);
    FuzzInput input(data, size);

    station.settings().PublishNetFlags(input.Byte());
    const uint8_t state = input.Byte();
    StationFuzzAccess::Net(station).SetLinked((state & kStateLinked) != 0);
    const bool keyer_attached = (state & kStateKeyerAttached) != 0;
    if (keyer_attached) {
        OpenStalledKeyer(23, station);
    }
    const int number = 1 + input.Byte() % kMessageCount;
    for (int slot = number - 1; slot < kMessageCount; ++slot) {
        const uint8_t* bytes = nullptr;
        const std::size_t count = input.Take(kTextFieldSize, &bytes);
        std::memcpy(station.settings().record().messages[slot], bytes, count);
    }
    SendMessage(window, station, number, keyer_attached);
    return 0;
}

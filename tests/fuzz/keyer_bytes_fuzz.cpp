// The bytes a keyer sends, as a faulty keyer or a noisy serial line may bring them: each
// through the reader's sorting and the keyer event dispatcher, with the window as the
// recording window, in every role and link state, from a keyer of either version.
//
// The input: a byte of `net_flags`, a byte of station state (bit 0 linked, bit 1 a keyer of
// the extended version, bit 2 speed from the pot, bit 3 a stored message being sent), the
// speed pot's minimum last sent to the keyer, then the keyer's bytes.
//
// The station's sender records a message's start and runs no thread: a thread sending the
// message would make an input run differently each time. Everything else is the program's
// own.
//
// What must hold, byte by byte: a status byte, and only a status byte that is not a button
// report, sets the status the writer obeys, and a break-in among its bits empties the
// queue; a pot byte sets the pot speed from the minimum; an echo is the last echo; a button
// report starts a message only where local keying is taken and none is going out; and the
// echo line stays within its limit however much arrives.
#include <cstddef>
#include <cstdint>

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
constexpr uint8_t kStateExtendedKeyer = 0x02;
constexpr uint8_t kStatePotSpeed = 0x04;
constexpr uint8_t kStateSendingMessage = 0x08;

constexpr std::size_t kMinWpmByte = 6;
// The bits of a button report that name the keyer's buttons M1 to M4.
constexpr uint8_t kButtonBits = 0x17;

int messages_started = 0;

bool IsPaddleByte(uint8_t byte) {
    return (byte & 0xDC) == 0xDC;
}

bool BreakInPending(KeyerLink& keyer) {
    return (keyer.state().pending.load() & PassBit(PassStep::kBreakIn)) != 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    RecordingWindow window;
    MainWindowView view{window};
    SocketLoop sockets;
    Station station(view, view, sockets, StationSetup{{}, {}, [](int) { ++messages_started; }, {}});
    FuzzInput input(data, size);

    station.settings().PublishNetFlags(input.Byte());
    const uint8_t state = input.Byte();
    StationFuzzAccess::Net(station).SetLinked((state & kStateLinked) != 0);
    OpenStalledKeyer((state & kStateExtendedKeyer) != 0 ? 23 : 10, station);
    StationFuzzAccess::State(station).pot_speed_active = (state & kStatePotSpeed) != 0 ? 1 : 0;
    if ((state & kStateSendingMessage) != 0) {
        StationFuzzAccess::Sender(station).Start(1, 1);
    }
    messages_started = 0;
    const uint8_t min_wpm = input.Byte();
    KeyerLink& keyer = StationFuzzAccess::Keyer(station);
    keyer.state().sent_settings[kMinWpmByte] = min_wpm;

    while (!input.Empty()) {
        const uint8_t byte = input.Byte();
        const uint8_t status_before = keyer.state().status;
        const int sending_before = station.MessageGoingOut();
        const int started_before = messages_started;
        keyer.state().pending = 0;

        keyer.TakeKeyerByte(byte);

        const uint8_t status = byte & 0x3F;
        const bool status_byte = !IsPaddleByte(byte) && byte >= 0xC0;
        const bool button_report = status_byte && keyer.IsButtonReport(status);
        if (status_byte && !button_report) {
            FuzzCheck(keyer.state().status == status,
                      "a status byte sets the status the writer obeys");
            FuzzCheck(BreakInPending(keyer) == ((status & keyer_wire::kStatusBreakIn) != 0),
                      "a break-in, and only a break-in, empties the queue");
        } else {
            FuzzCheck(keyer.state().status == status_before, "only a status byte sets the status");
            FuzzCheck(!BreakInPending(keyer), "only a status byte breaks in");
        }
        if (!IsPaddleByte(byte) && byte >= 0x80 && byte < 0xC0) {
            FuzzCheck(station.PotSpeed() == static_cast<uint8_t>((byte & 0x7F) + min_wpm),
                      "the pot speed counts from the minimum last sent");
        }
        if (byte < 0x80) {
            FuzzCheck(keyer.state().last_echo == byte, "an echo is the last echo");
        }
        const bool may_start = button_report && station.RoleAcceptsLocalKeying() &&
                               sending_before == 0 && (status & kButtonBits) != 0;
        FuzzCheck(messages_started - started_before == (may_start ? 1 : 0),
                  "a keyer button starts a message only where and when it may");
    }
    FuzzCheck(window.Text(IDC_ECHO_LINE).size() <=
                  static_cast<std::size_t>(KeptTextOf(IDC_ECHO_LINE)->limit),
              "the echo line stays within its limit");
    return 0;
}

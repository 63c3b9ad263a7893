// The byte stream from the network, as a hostile or broken peer may send it: cut into reads
// of any size, through the station's reassembly into 20-byte packets and its receive
// dispatcher, with the keyer closed or attached and slow, in any role and link state.
//
// The input: a byte of `net_flags`, a byte of station state (bit 0 linked, bit 1 keyer
// attached, bit 2 a keyer of the extended version, bit 3 `local_keyer_open`, bit 4 a stored
// message being sent), then reads. Each read is a byte whose low five bits give its length,
// that many bytes of stream, and what happens next by the byte's top three bits: 3 the same
// read arrives again and again (a flood), 4 the keyer keys what is queued, 5 the link timer
// moves the receive backlog on, 6 both, 7 the link ends as when the peer closes; anything
// else nothing.
//
// What must hold: every 20 bytes make one packet, in order; the transmit queue holds only
// whole units (a buffered command never without its arguments); the echo line and the log
// pane stay within their limits; and while the keyer is attached and nothing took text back
// (no Clear, no backspace, no end of the link, no overflow of the backlog), every text byte
// that arrived and that the keyer may have is in the keyer, its queue or the backlog, once
// and in order.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "app/main_window_view.h"
#include "app/resource_ids.h"
#include "app/window.h"
#include "keyer/keyer_link.h"
#include "net/packet.h"
#include "net/socket_api.h"
#include "settings/settings_record.h"
#include "station/receive_backlog.h"
#include "station/station.h"
#include "tests/fuzz/fuzz_station.h"
#include "tests/support/recording_window.h"

namespace {

constexpr uint8_t kStateLinked = 0x01;
constexpr uint8_t kStateKeyerAttached = 0x02;
constexpr uint8_t kStateExtendedKeyer = 0x04;
constexpr uint8_t kStateLocalKeyerOpen = 0x08;
constexpr uint8_t kStateSendingMessage = 0x10;

constexpr uint8_t kReadLengthMask = 0x1F;
constexpr int kActionFlood = 3;
// Enough floods in one input overflow the receive backlog.
constexpr int kFloodRepeats = 256;
constexpr int kActionKeyerKeys = 4;
constexpr int kActionLinkTimer = 5;
constexpr int kActionBoth = 6;
constexpr int kActionLinkEnds = 7;

// The text bytes a station passes towards its keyer, as the other station sent them: an
// argument byte whatever its value, otherwise text and buffered commands only.
class ExpectedText {
  public:
    void Receive(uint8_t byte) {
        if (arguments_due_ > 0) {
            --arguments_due_;
        } else if (byte >= keyer_wire::kFirstTextByte ||
                   (byte >= keyer_wire::kFirstBufferedCommand &&
                    byte <= keyer_wire::kLastBufferedCommand)) {
            arguments_due_ = keyer_wire::BufferedCommandArgumentCount(byte);
        } else {
            return;
        }
        bytes_.push_back(byte);
    }
    const std::vector<uint8_t>& Bytes() const { return bytes_; }

  private:
    std::vector<uint8_t> bytes_;
    int arguments_due_ = 0;
};

bool HoldsWholeUnits(const std::vector<uint8_t>& queued) {
    std::size_t at = 0;
    while (at < queued.size()) {
        at += 1 + static_cast<std::size_t>(keyer_wire::BufferedCommandArgumentCount(queued[at]));
    }
    return at == queued.size();
}

// The station's end of the connection, and what the checks need to know of what went
// through it.
struct Receiver {
    explicit Receiver(Station& receiving) : station(receiving) {}

    Station& station;
    PacketReassembler reassembler;
    std::size_t stream_bytes = 0;
    std::size_t packets = 0;
    ExpectedText expected;
    bool text_taken_back = false;
    bool backlog_filled = false;

    // One read, as the read notification hands it on.
    void Read(const uint8_t* bytes, std::size_t count) {
        reassembler.Append(bytes, count);
        stream_bytes += count;
        Packet packet;
        while (reassembler.Next(&packet)) {
            ++packets;
            if (HasPacketMarker(packet)) {
                const uint8_t type = PacketType(packet);
                if (type == PKT_TEXT_CHAR) {
                    expected.Receive(PacketValue(packet));
                } else if (type == PKT_CLEAR || type == PKT_BACKSPACE) {
                    text_taken_back = true;
                }
            }
            StationFuzzAccess::Net(station).NoteLinkPacket(packet);
            station.processIPpacket(packet);
            // A byte is refused only when it meets a full backlog, which is seen here first.
            backlog_filled =
                backlog_filled || station.TextWaitingForKeyer().size() == kReceiveBacklogSize;
        }
        FuzzCheck(packets == stream_bytes / kPacketSize, "every 20 bytes make one packet");
        FuzzCheck(reassembler.PendingBytes() == stream_bytes % kPacketSize,
                  "a partial packet waits for the rest");
    }

    // As the peer's close: the partial packet goes with the connection.
    void EndLink() {
        StationFuzzAccess::Net(station).SetLinked(false);
        reassembler.Reset();
        stream_bytes = packets * kPacketSize;
        station.ReleaseKeyerControl();
        text_taken_back = true;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    RecordingWindow window;
    MainWindowView view{window};
    // A started message stays started, with no thread to send it and make an input run
    // differently each time.
    SocketLoop sockets;
    Station station(view, view, sockets, StationSetup{{}, {}, [](int) {}, {}});
    FuzzInput input(data, size);

    station.settings().PublishNetFlags(input.Byte());
    const uint8_t state = input.Byte();
    NetLink& net = StationFuzzAccess::Net(station);
    KeyerLink& keyer = StationFuzzAccess::Keyer(station);
    net.SetLinked((state & kStateLinked) != 0);
    const bool keyer_attached = (state & kStateKeyerAttached) != 0;
    if (keyer_attached) {
        OpenStalledKeyer((state & kStateExtendedKeyer) != 0 ? 23 : 10, station);
    }
    StationFuzzAccess::State(station).local_keyer_open =
        (state & kStateLocalKeyerOpen) != 0 ? 1 : 0;
    if ((state & kStateSendingMessage) != 0) {
        StationFuzzAccess::Sender(station).Start(1, 1);
    }

    Receiver receiver(station);
    std::vector<uint8_t> keyed;
    while (!input.Empty()) {
        const uint8_t control = input.Byte();
        const int action = control >> 5;
        const uint8_t* bytes = nullptr;
        const std::size_t count = input.Take(control & kReadLengthMask, &bytes);
        for (int read = 0; read < (action == kActionFlood ? kFloodRepeats : 1); ++read) {
            receiver.Read(bytes, count);
        }
        if (action == kActionKeyerKeys || action == kActionBoth) {
            const std::vector<uint8_t> taken = TakeQueuedBytes(keyer);
            keyed.insert(keyed.end(), taken.begin(), taken.end());
        }
        if (action == kActionLinkTimer || action == kActionBoth) {
            station.MoveLinkTextOn();
        }
        if (action == kActionLinkEnds) {
            receiver.EndLink();
        }
        FuzzCheck(HoldsWholeUnits(QueuedBytes(keyer)), "the transmit queue holds whole units only");
    }

    for (const KeptText& kept : kKeptTexts) {
        FuzzCheck(window.Text(kept.id).size() <= static_cast<std::size_t>(kept.limit),
                  "the echo line and the log pane stay within their limits");
    }
    if (keyer_attached && !receiver.text_taken_back && !receiver.backlog_filled) {
        std::vector<uint8_t> arrived = keyed;
        const std::vector<uint8_t> queued = QueuedBytes(keyer);
        const std::vector<uint8_t> waiting = station.TextWaitingForKeyer();
        arrived.insert(arrived.end(), queued.begin(), queued.end());
        arrived.insert(arrived.end(), waiting.begin(), waiting.end());
        FuzzCheck(arrived == receiver.expected.Bytes(),
                  "text from the link is kept, once and in order");
    }
    return 0;
}

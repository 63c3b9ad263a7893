#include "net/packet_protocol.h"

#include <cstring>
#include <string>

#include "app/resource_ids.h"
#include "app/runtime_state.h"
#include "app/status_texts.h"
#include "app/window.h"
#include "keyer/keyer_commands.h"
#include "keyer/keyer_reader.h"
#include "net/link_state.h"
#include "net/link_watch.h"
#include "net/receive_backlog.h"
#include "net/socket_api.h"
#include "settings/settings_record.h"

std::atomic<int32_t> bad_packet_count{0};

namespace {

// Bit 0 alternates with the heartbeat counter, so the mark blinks while answers come in.
constexpr uint8_t kHeartbeatBlinkBit = 0x01;

// Remote Sidetone: the output bit that gives the other keyer its sidetone.
constexpr uint8_t kPinRemoteSidetone = 0x02;
// Linked in Converse, the local keyer neither enables PTT nor drives the outputs 0x04 and
// 0x08; the record keeps the operator's values for when the link is gone.
constexpr uint8_t kConversePinMask = 0xF2;

void ShowRemoteVersion(uint8_t version) {
    SetControlText(IDC_REMOTE_STATUS, "Remote Tarvel Ver:" + std::to_string(version));
}

void ApplyRemoteStatus(uint8_t status) {
    remote_busy.store((status & kStatusHold) != 0 ? 1 : 0);
    if ((status & kStatusBreakIn) != 0) {
        // The other operator broke in: a stored message still going out here must stop.
        sending_message.store(0);
    }
    SetControlText(IDC_BUSY_STATUS, (status & kStatusBusy) != 0 ? kBusyText : kBlankText);
    SetControlText(IDC_WAIT_STATUS, (status & kStatusWait) != 0 ? kWaitText : kBlankText);
}

void SendVersionReply() {
    const uint8_t version = local_keyer_open.load() == 1 ? keyer_version.load() : kNoKeyerVersion;
    SendPacket(PKT_VERSION_REPLY, version, 0, nullptr);
}

void AnswerVersionRequest() {
    if (!IsNetServer()) {
        // Only a client asks, so a request here means both ends are set up as clients.
        ReplaceSelection(IDC_LOG_PANE, "\r\nprocessIPpacket: client/server mismatch");
        return;
    }
    SendVersionReply();
}

}  // namespace

void RetellKeyerVersion() {
    if (IsLinked() && IsNetServer()) {
        SendVersionReply();
    }
}

void InsertEchoCharacter(uint8_t character) {
    // A NUL-terminated one-character text, as the edit control takes it: a NUL code is
    // an empty insertion there, and here too.
    const char text[2] = {static_cast<char>(character), '\0'};
    ReplaceSelection(IDC_ECHO_LINE, text);
}

namespace {

// A lost packet is not repeated: the stream has no acknowledgement to repeat it on, and the
// link's own close notification tells the station when the peer has gone. A packet cut short
// is another matter: the peer would read every later packet shifted, so nothing more goes on
// that connection, and the Main window's thread ends the link when it next looks.
void SendStream(const uint8_t* bytes, std::size_t count) {
    const SocketHandle socket = DataSocket();
    if (IsFramingLost(socket)) {
        return;
    }
    if (SendWhole(socket, bytes, count) == kSendCutShort) {
        NoteCutShortSend(socket);
    }
}

}  // namespace

void SendPacket(uint8_t type, uint8_t value, uint8_t second_value, const uint8_t* payload) {
    const Packet packet = BuildPacket(type, value, second_value, payload);
    SendStream(packet.bytes, kPacketSize);
}

void SendTextPackets(const uint8_t* bytes, int count) {
    uint8_t stream[kMaxTextPackets * kPacketSize];
    if (count < 1 || count > kMaxTextPackets) {
        return;
    }
    for (int i = 0; i < count; ++i) {
        const Packet packet = BuildPacket(PKT_TEXT_CHAR, bytes[i]);
        std::memcpy(stream + i * kPacketSize, packet.bytes, kPacketSize);
    }
    SendStream(stream, static_cast<std::size_t>(count) * kPacketSize);
}

void processIPpacket(const Packet& packet) {
    if (!HasPacketMarker(packet)) {
        ++bad_packet_count;
        return;
    }
    const uint8_t value = PacketValue(packet);
    switch (PacketType(packet)) {
        case PKT_VERSION_REQUEST:
            AnswerVersionRequest();
            break;
        case PKT_TEXT_CHAR:
            ReceiveTextByte(value);
            break;
        case PKT_KEYER_SETTINGS: {
            const KeyerSettings block = PacketKeyerSettings(packet);
            LoadKeyerSettings(&block);
            break;
        }
        case PKT_SPEED:
            SetKeyerSpeed(value);
            break;
        case PKT_HEARTBEAT:
            SendPacket(PKT_HEARTBEAT_REPLY, value, 0, nullptr);
            break;
        case PKT_CLEAR:
            // Everything sent before the Clear goes, at once, however much of it still waits.
            DropReceiveBacklog();
            ClearKeyerBuffer();
            FeedKeyerFromBacklog();
            break;
        case PKT_PAUSE:
            SetKeyerPause(value);
            break;
        case PKT_TUNE:
            SetKeyerKeyDown(value);
            break;
        case PKT_BACKSPACE:
            if (!TakeBackReceivedByte()) {
                KeyerBackspace();
            }
            break;
        case PKT_VERSION_REPLY:
            ShowRemoteVersion(value);
            break;
        case PKT_ECHO_CHAR:
            InsertEchoCharacter(value);
            break;
        case PKT_STATUS:
            ApplyRemoteStatus(value);
            break;
        case PKT_HEARTBEAT_REPLY:
            SetControlText(IDC_HEARTBEAT, (value & kHeartbeatBlinkBit) != 0 ? " " : "+");
            break;
        case PKT_PADDLE:
            SetKeyerPaddleInput(value);
            break;
        default:
            // Types without a meaning are left for later versions of the protocol, so they
            // are not a sign of a broken stream and are not counted.
            break;
    }
}

int IsLinkBusy() {
    if (IsLinked()) {
        return remote_busy.load();
    }
    return IsKeyerQueueNearlyFull();
}

void ApplyKeyerSettings() {
    // The adjustments are made on a copy rather than on the record and undone afterwards:
    // the keyer reader and the message sender read the record without a lock, and must
    // never see a block that is half the operator's and half the other side's.
    KeyerSettings block = settings.keyer_settings;
    if (!IsLinked()) {
        LoadKeyerSettings(&block);
        return;
    }
    const uint32_t flags = settings.net_flags;
    if ((flags & kNetRoleControlPoint) != 0) {
        LoadKeyerSettings(&block);
        if ((flags & kNetRemoteSidetone) != 0) {
            block.pin_config |= kPinRemoteSidetone;
            block.sidetone &= kSidetoneFrequencyMask;
        } else {
            block.pin_config &= static_cast<uint8_t>(~kPinRemoteSidetone);
        }
        // The other keyer sends what arrives over the link, so it echoes what it sends
        // from the serial line rather than what its own paddles key.
        block.mode_register &= static_cast<uint8_t>(~kModePaddleEcho);
        block.mode_register |= kModeSerialEcho;
        SendPacket(PKT_KEYER_SETTINGS, 0, 0, reinterpret_cast<const uint8_t*>(&block));
        return;
    }
    if ((flags & kNetRoleRemoteSide) != 0) {
        LoadKeyerSettings(&block);
        return;
    }
    block.pin_config &= kConversePinMask;
    LoadKeyerSettings(&block);
}

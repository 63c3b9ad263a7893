// What the other station's packets do here, and the settings block both stations load.
#include <chrono>
#include <string>

#include "keyer/keyer_link.h"
#include "settings/settings_record.h"
#include "station/keyer_settings_packet.h"
#include "station/station.h"

namespace {

constexpr char kBacklogFullText[] = "\r\nprocessIPpacket: receive backlog full, text lost";
constexpr char kClientServerMismatchText[] = "\r\nprocessIPpacket: client/server mismatch";

// Bit 0 alternates with the heartbeat counter, so the mark blinks while answers come in.
constexpr uint8_t kHeartbeatBlinkBit = 0x01;

// Remote Sidetone: the output bit that gives the other keyer its sidetone.
constexpr uint8_t kPinRemoteSidetone = 0x02;
// Linked in Converse, the local keyer neither enables PTT nor drives the outputs 0x04 and
// 0x08; the record keeps the operator's values for when the link is gone.
constexpr uint8_t kConversePinMask = 0xF2;

}  // namespace

void Station::ApplyRemoteStatus(uint8_t status) {
    state_.remote_busy.store((status & keyer_wire::kStatusHold) != 0 ? 1 : 0);
    if ((status & keyer_wire::kStatusBreakIn) != 0) {
        // The other operator broke in: a stored message still going out here must stop.
        sender_.Stop();
    }
    view_.ShowBusy((status & keyer_wire::kStatusBusy) != 0);
    view_.ShowWait((status & keyer_wire::kStatusWait) != 0 ? WaitState::kWait : WaitState::kNone);
}

void Station::SendVersionReply() {
    const uint8_t version =
        state_.local_keyer_open.load() == 1 ? keyer_.Version() : kNoKeyerVersion;
    net_.SendPacket(PKT_VERSION_REPLY, version, 0, nullptr);
}

void Station::AnswerVersionRequest() {
    if (!IsServer()) {
        // Only a client asks, so a request here means both ends are set up as clients; that
        // holds for the whole link, however often the peer asks.
        if (!told_mismatch_on_link_) {
            told_mismatch_on_link_ = true;
            Log(kClientServerMismatchText);
        }
        return;
    }
    SendVersionReply();
}

void Station::RetellKeyerVersion() {
    if (net_.IsLinked() && IsServer()) {
        SendVersionReply();
    }
}

void Station::processIPpacket(const Packet& packet) {
    if (!HasPacketMarker(packet)) {
        ++state_.bad_packet_count;
        return;
    }
    const uint8_t value = PacketValue(packet);
    switch (PacketType(packet)) {
        case PKT_VERSION_REQUEST:
            AnswerVersionRequest();
            break;
        case PKT_TEXT_CHAR:
            if (receive_backlog_.Receive(value)) {
                Log(kBacklogFullText);
            }
            break;
        case PKT_KEYER_SETTINGS: {
            link_keyer_block_ = PacketKeyerSettings(packet);
            link_keyer_speed_.reset();  // the block carries a speed of its own
            keyer_.LoadSettings(&*link_keyer_block_);
            break;
        }
        case PKT_SPEED:
            link_keyer_speed_ = value;
            keyer_.SetSpeed(value);
            break;
        case PKT_HEARTBEAT:
            AnswerHeartbeat(packet);
            break;
        case PKT_CLEAR:
            // Everything sent before the Clear goes, at once, however much of it still waits.
            receive_backlog_.Drop();
            keyer_.ClearBuffer();
            receive_backlog_.Feed();
            break;
        case PKT_PAUSE:
            keyer_.SetPause(value);
            break;
        case PKT_TUNE:
            if (TakeKeyingFromLink(PKT_TUNE, value)) {
                keyer_.SetKeyDown(value);
            }
            break;
        case PKT_BACKSPACE:
            if (!receive_backlog_.TakeBack()) {
                keyer_.Backspace();
            }
            break;
        case PKT_VERSION_REPLY:
            // A peer may send the same version without end; only a change is worth a line.
            if (shown_remote_version_ != value) {
                shown_remote_version_ = value;
                view_.ShowRemoteKeyerVersion(value);
            }
            break;
        case PKT_ECHO_CHAR:
            ++state_.keyed_echoes;
            view_.InsertEcho(value);
            break;
        case PKT_STATUS:
            ApplyRemoteStatus(value);
            break;
        case PKT_HEARTBEAT_REPLY:
            view_.BlinkHeartbeat((value & kHeartbeatBlinkBit) == 0);
            TakePaddleDelay(packet);
            if (round_trips_.AnswerHeard(value, std::chrono::steady_clock::now())) {
                RefreshLinkHealth();
            }
            break;
        case PKT_PADDLE:
            if (TakeKeyingFromLink(PKT_PADDLE, value)) {
                PlayPaddleFromLink(packet);
            }
            break;
        default:
            // Types without a meaning are left for later versions of the protocol, so they
            // are not a sign of a broken stream and are not counted.
            break;
    }
}

bool Station::IsLinkBusy() const {
    if (net_.IsLinked()) {
        return state_.remote_busy.load() != 0;
    }
    // kKeyerHostNotOpen, nonzero too: with neither link nor keyer nothing would take a byte.
    return keyer_.IsQueueNearlyFull() != 0;
}

void Station::ApplyKeyerSettings() {
    // The adjustments are made on a copy rather than on the record and undone afterwards:
    // the keyer reader and the message sender read the record without a lock, and must
    // never see a block that is half the operator's and half the other side's.
    KeyerSettings block = record().keyer_settings;
    if (!net_.IsLinked()) {
        keyer_.LoadSettings(&block);
        return;
    }
    const uint32_t flags = settings_.NetFlags();
    if ((flags & kNetRoleControlPoint) != 0) {
        keyer_.LoadSettings(&block);
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
        net_.Send(BuildKeyerSettingsPacket(block));
        return;
    }
    if ((flags & kNetRoleRemoteSide) != 0) {
        keyer_.LoadSettings(&block);
        return;
    }
    block.pin_config &= kConversePinMask;
    keyer_.LoadSettings(&block);
}

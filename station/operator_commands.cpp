// The operator's commands. While linked a command goes to the other station; otherwise to the
// local keyer.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "keyer/keyer_link.h"
#include "messages/message_sender.h"
#include "settings/field_number.h"
#include "settings/settings_record.h"
#include "station/station.h"

namespace {

// A WPM field with more digits than this holds no speed, leading zeros or not.
constexpr std::size_t kMostWpmDigits = 9;

int MaxWpm(const KeyerSettings& keyer) {
    return keyer.min_wpm + keyer.wpm_range;
}

}  // namespace

// The new speed goes to the other station while linked, and to the local keyer always.
void Station::ApplySpeed() {
    const uint8_t wpm = record().keyer_settings.wpm;
    if (net_.IsLinked()) {
        net_.SendPacket(PKT_SPEED, wpm);
    }
    keyer_.SetSpeed(wpm);
}

void Station::EnterSpeed(const std::string& field_text) {
    const std::optional<uint32_t> number = UnsignedFromText(field_text, kMostWpmDigits);
    if (!number || *number < record().keyer_settings.min_wpm ||
        *number > static_cast<uint32_t>(MaxWpm(record().keyer_settings))) {
        view_.ShowSpeed(record().keyer_settings.wpm);
        return;
    }
    record().keyer_settings.wpm = static_cast<uint8_t>(*number);
    ApplySpeed();
    view_.FocusTyping();
}

void Station::StepSpeed(SpeedStep step) {
    if (state_.pot_speed_active.load() != 0) {
        return;
    }
    uint8_t& wpm = record().keyer_settings.wpm;
    if (step == SpeedStep::kUp && wpm < MaxWpm(record().keyer_settings)) {
        ++wpm;
    } else if (step == SpeedStep::kDown && wpm > record().keyer_settings.min_wpm) {
        --wpm;
    }
    // Sent even when nothing changed: the end of a scroll, which follows every click, and a
    // step at a limit repeat the speed.
    ApplySpeed();
    view_.ShowSpeed(wpm);
    view_.FocusTyping();
}

void Station::Clear() {
    SendLoggerReplyNow();
    view_.ClearTypedText();
    typed_ahead_.clear();
    sender_.Stop();
    if (net_.IsLinked()) {
        net_.SendPacket(PKT_CLEAR, 0);
    }
    keyer_.ClearBuffer();
    state_.pause_on = 0;
    view_.ShowPause(false);
    state_.tune_on = 0;
    view_.ShowTune(false);
    if (net_.IsLinked()) {
        net_.SendPacket(PKT_PAUSE, 0);
        net_.SendPacket(PKT_TUNE, 0);
    } else {
        keyer_.SetPause(0);
        keyer_.SetKeyDown(0);
    }
    view_.FocusTyping();
}

void Station::ToggleTune() {
    if (!RoleAcceptsLocalKeying()) {
        return;
    }
    SetTune(state_.tune_on.load() != 1);
    view_.FocusTyping();
}

void Station::SetTune(bool on) {
    view_.ShowTune(on);
    state_.tune_on = on ? 1 : 0;
    if (net_.IsLinked()) {
        net_.SendPacket(PKT_TUNE, on ? 1 : 0);
    } else {
        keyer_.SetKeyDown(on ? 1 : 0);
    }
}

void Station::TogglePause() {
    const uint8_t on = state_.pause_on.load() == 1 ? 0 : 1;
    view_.ShowPause(on == 1);
    state_.pause_on = on;
    if (!net_.IsLinked()) {
        keyer_.SetPause(on);
    } else if ((settings_.NetFlags() & kNetRoleRemoteSide) == 0) {
        // A RemoteSide's pause is its own: the keying comes from the other station.
        net_.SendPacket(PKT_PAUSE, on);
    }
    view_.FocusTyping();
}

bool Station::SendStoredMessage(int number) {
    // The sender itself refuses while a message is being sent.
    const bool started = RoleAcceptsLocalKeying() && sender_.Start(number, number);
    view_.FocusTyping();
    return started;
}

bool Station::IsBusy() {
    return IsLinkBusy();
}

// Each byte goes to the other station first, then to the local keyer, then to the typing
// pane. The two bytes of a command with its argument are handed on in one piece each time.
void Station::HandOn(const uint8_t* bytes, int count) {
    if (net_.IsLinked()) {
        // In one write: a Clear sent from the window's thread meanwhile goes before both or
        // after both, never between a command and its argument.
        net_.SendTextPackets(bytes, count);
    }
    keyer_.QueueBytes(bytes, count);
    for (int i = 0; i < count; ++i) {
        // A one-character text: a NUL byte shows nothing.
        const char text[2] = {static_cast<char>(bytes[i]), '\0'};
        view_.AppendTypedText(text);
    }
}

void Station::OnMessageError(MessageError error) {
    view_.ReportProblem(error == MessageError::kBadCommand ? Problem::kMessageBadCommand
                                                           : Problem::kMessageTokenMismatch);
}

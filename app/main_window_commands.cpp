#include "app/main_window_commands.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "app/field_number.h"
#include "app/resource_ids.h"
#include "app/runtime_state.h"
#include "app/status_texts.h"
#include "app/window.h"
#include "keyer/keyer_commands.h"
#include "net/link_state.h"
#include "net/packet.h"
#include "net/packet_protocol.h"
#include "settings/settings_record.h"

namespace {

constexpr uint8_t kBackspace = 8;
// A WPM field with more digits than this holds no speed, leading zeros or not.
constexpr std::size_t kMostWpmDigits = 9;

constexpr int kScrollLineUp = 0;
constexpr int kScrollLineDown = 1;

// Tune and Pause: each a flag, and a caption that offers the other state.
struct TwoStateButton {
    std::atomic<uint8_t>& on;
    int id;
    const char* caption_when_off;
    const char* caption_when_on;
};
const TwoStateButton kTuneButton{tune_on, IDC_TUNE, kTuneCaption, kTuneOnCaption};
const TwoStateButton kPauseButton{pause_on, IDC_PAUSE, kPauseCaption, kPauseOnCaption};

void SetButtonState(const TwoStateButton& button, uint8_t on) {
    SetControlText(button.id, on == 1 ? button.caption_when_on : button.caption_when_off);
    button.on = on;
}

void FlipButtonState(const TwoStateButton& button) {
    SetButtonState(button, button.on.load() == 1 ? 0 : 1);
}

void Send(uint8_t type, uint8_t value) {
    SendPacket(type, value, 0, nullptr);
}

int MaxWpm() {
    return settings.keyer_settings.min_wpm + settings.keyer_settings.wpm_range;
}

// The new speed goes to the other station while linked, and to the local keyer always.
void ApplySpeed() {
    const uint8_t wpm = settings.keyer_settings.wpm;
    if (IsLinked()) {
        Send(PKT_SPEED, wpm);
    }
    SetKeyerSpeed(wpm);
}

void ShowWpm() {
    SetControlText(IDC_WPM, std::to_string(settings.keyer_settings.wpm));
}

void DeleteLastLogCharacter() {
    const int length = ControlTextLength(IDC_LOG_PANE);
    if (length > 0) {
        SetSelection(IDC_LOG_PANE, length - 1, kTextEnd);
        ReplaceSelection(IDC_LOG_PANE, "");
    }
}

}  // namespace

void OnTypedCharacter(unsigned int character_code) {
    if (!RoleAcceptsLocalKeying()) {
        return;
    }
    uint8_t character = static_cast<uint8_t>(character_code & 0xFF);
    if (character >= 'a' && character <= 'z') {
        character = static_cast<uint8_t>(character - 'a' + 'A');
    }
    if (character == kBackspace) {
        // Taking back a character is never refused as busy, and it leaves a stored message
        // going on.
        if (IsLinked()) {
            Send(PKT_BACKSPACE, 0);
        } else {
            KeyerBackspace();
        }
        DeleteLastLogCharacter();
        return;
    }
    if (character < kFirstTextByte) {
        // Enter, and the control codes that Tab, Escape and Ctrl with a letter type: as text
        // they would reach the keyer as commands, and one of them keys the transmitter.
        return;
    }
    if (IsLinkBusy() != 0) {
        return;
    }
    sending_message = 0;  // a stored message being sent stops at its next step
    if (IsLinked()) {
        Send(PKT_TEXT_CHAR, character);
    }
    QueueKeyerByte(character);
    AppendText(IDC_LOG_PANE, std::string(1, static_cast<char>(character)));
}

void OnSpeedEntry() {
    const std::optional<uint32_t> number =
        UnsignedFromText(GetControlText(IDC_WPM), kMostWpmDigits);
    if (!number || *number < settings.keyer_settings.min_wpm ||
        *number > static_cast<uint32_t>(MaxWpm())) {
        ShowWpm();
        return;
    }
    settings.keyer_settings.wpm = static_cast<uint8_t>(*number);
    ApplySpeed();
    FocusControl(IDC_LOG_PANE);
}

void OnSpinBar(int scroll_code) {
    if (pot_speed_active.load() != 0) {
        return;
    }
    uint8_t& wpm = settings.keyer_settings.wpm;
    if (scroll_code == kScrollLineUp && wpm < MaxWpm()) {
        ++wpm;
    } else if (scroll_code == kScrollLineDown && wpm > settings.keyer_settings.min_wpm) {
        --wpm;
    }
    // Sent even when nothing changed: the end-of-scroll code that follows every click, and an
    // arrow at a limit, repeat the speed.
    ApplySpeed();
    ShowWpm();
    FocusControl(IDC_LOG_PANE);
}

void OnClearButton() {
    SetSelection(IDC_LOG_PANE, 0, kTextEnd);
    ReplaceSelection(IDC_LOG_PANE, "");
    sending_message = 0;
    if (IsLinked()) {
        Send(PKT_CLEAR, 0);
    }
    ClearKeyerBuffer();
    SetButtonState(kPauseButton, 0);
    SetButtonState(kTuneButton, 0);
    if (IsLinked()) {
        Send(PKT_PAUSE, 0);
        Send(PKT_TUNE, 0);
    } else {
        SetKeyerPause(0);
        SetKeyerKeyDown(0);
    }
    FocusControl(IDC_LOG_PANE);
}

void OnTuneButton() {
    if (!RoleAcceptsLocalKeying()) {
        return;
    }
    FlipButtonState(kTuneButton);
    if (IsLinked()) {
        Send(PKT_TUNE, tune_on.load());
    } else {
        SetKeyerKeyDown(tune_on.load());
    }
    FocusControl(IDC_LOG_PANE);
}

void OnPauseButton() {
    FlipButtonState(kPauseButton);
    if (!IsLinked()) {
        SetKeyerPause(pause_on.load());
    } else if ((settings.net_flags & kNetRoleRemoteSide) == 0) {
        // A RemoteSide's pause is its own: the keying comes from the other station.
        Send(PKT_PAUSE, pause_on.load());
    }
    FocusControl(IDC_LOG_PANE);
}

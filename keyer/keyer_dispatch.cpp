// What the keyer sends, by the link and this station's role.
//
// Not linked, the keyer is the operator's own and everything shows here. Linked, the role
// decides: a RemoteSide is where nobody watches, so its keyer's status and echo go to the
// ControlPoint; a ControlPoint's own keyer echoes the operator's paddles, which become text
// for the other keyer, while its status means nothing to anyone; in Converse both stations
// send what their paddles key, and each shows its own too.
//
// All of it runs on the keyer reader thread, between two reads, so every window call here
// is a synchronous call into the Main window's thread. That thread therefore never waits
// for the reader without carrying out such calls (the keyer's close), and at exit the
// window seam closes before the window goes; after that these calls do nothing.
#include "keyer/keyer_dispatch.h"

#include <string>

#include "app/resource_ids.h"
#include "app/runtime_state.h"
#include "app/status_texts.h"
#include "app/window.h"
#include "keyer/keyer_commands.h"
#include "keyer/keyer_reader.h"
#include "messages/message_sender.h"
#include "net/link_state.h"
#include "net/packet.h"
#include "net/packet_protocol.h"
#include "net/receive_backlog.h"
#include "settings/settings_record.h"

namespace {

// The code that tells the other keyer which paddle to press. It names one paddle only; with
// both closed it names the right one.
constexpr uint8_t kLeftPaddleCode = 2;
constexpr uint8_t kRightPaddleCode = 1;

// The keyer's own message buttons, in the order of their bits in a button report: the first
// pressed one counts.
struct KeyerButton {
    uint8_t bit;
    int control;
    const char* caption;
    int message;
};
constexpr KeyerButton kKeyerButtons[] = {
    {keyer_wire::kButtonM1, IDC_M1, "M1", 1},
    {keyer_wire::kButtonM2, IDC_M2, "M2", 2},
    {keyer_wire::kButtonM3, IDC_M3, "M3", 3},
    {keyer_wire::kButtonM4, IDC_M4, "M4", 4},
};
constexpr const char* kPressedButtonCaption = "X";
// What `sending_message` holds while a keyer button's message goes out, whichever button.
constexpr int32_t kSendingFromKeyerButton = 1;

void OnKeyerButtons(uint8_t report) {
    for (const KeyerButton& button : kKeyerButtons) {
        if ((report & button.bit) != 0) {
            SetControlText(button.control, kPressedButtonCaption);
            // Refused while a message is going out: that one goes on, and only the caption
            // shows the press.
            StartMessage(button.message, kSendingFromKeyerButton);
            return;
        }
    }
    for (const KeyerButton& button : kKeyerButtons) {
        SetControlText(button.control, button.caption);
    }
}

void ShowLocalStatus(uint8_t status) {
    if ((status & kStatusBreakIn) != 0) {
        // The operator took over with the paddles: a stored message must not go on under
        // them.
        sending_message.store(0);
    }
    SetControlText(IDC_BUSY_STATUS, (status & kStatusBusy) != 0 ? kBusyText : kBlankText);
    const char* wait = (status & kStatusWait) != 0      ? kWaitText
                       : (status & kStatusBreakIn) != 0 ? kBreakInText
                                                        : kBlankText;
    SetControlText(IDC_WAIT_STATUS, wait);
}

void OnStatus(uint8_t status) {
    if (IsKeyerButtonReport(status)) {
        // Keying from this station's own buttons follows the role rule. A report that the
        // rule refuses is dropped rather than passed on as status: its button bits would
        // read as hold and break-in at the other station.
        if (RoleAcceptsLocalKeying()) {
            OnKeyerButtons(status);
        }
        return;
    }
    if (!IsLinked()) {
        ShowLocalStatus(status);
        return;
    }
    if (NetRole() != kNetRoleControlPoint) {
        ReportKeyerStatus(status);
    }
}

void OnSpeedPot(uint8_t wpm) {
    pot_wpm.store(wpm);
    if (pot_speed_active.load() == 0) {
        return;
    }
    if (IsLinked()) {
        const uint32_t role = NetRole();
        if (role == kNetRoleRemoteSide) {
            return;  // the other station sets this keyer's speed
        }
        if (role == kNetRoleControlPoint) {
            SendPacket(PKT_SPEED, wpm, 0, nullptr);
        }
    }
    SetControlText(IDC_WPM, std::to_string(wpm));
    SetKeyerSpeed(wpm);
}

void OnEcho(uint8_t character) {
    if (IsLinked()) {
        const uint32_t role = NetRole();
        if (role == kNetRoleRemoteSide) {
            SendPacket(PKT_ECHO_CHAR, character, 0, nullptr);
            return;
        }
        SendPacket(PKT_TEXT_CHAR, character, 0, nullptr);
        if (role == kNetRoleControlPoint) {
            return;
        }
    }
    InsertEchoCharacter(character);
}

void OnPaddles(uint8_t paddles) {
    // With "Letter Paddle" chosen only the characters the paddles key travel, as echo;
    // a station without a link has nobody to tell, and its field stays as it was.
    if (!IsLinked() || (settings.net_flags & kNetLetterPaddle) != 0) {
        return;
    }
    std::string shown = "  ";
    uint8_t code = 0;
    if ((paddles & keyer_wire::kPaddleLeft) != 0) {
        shown[0] = 'L';
        code = kLeftPaddleCode;
    }
    if ((paddles & keyer_wire::kPaddleRight) != 0) {
        shown[1] = 'R';
        code = kRightPaddleCode;
    }
    SendPacket(PKT_PADDLE, code, 0, nullptr);
    SetControlText(IDC_PADDLES, shown);
}

}  // namespace

void DispatchKeyerEvent(int type, uint8_t value) {
    switch (type) {
        case kStatusEvent:
            OnStatus(value);
            break;
        case kSpeedPotEvent:
            OnSpeedPot(value);
            break;
        case kEchoEvent:
            OnEcho(value);
            break;
        case kPaddleEvent:
            OnPaddles(value);
            break;
        default:
            break;
    }
}

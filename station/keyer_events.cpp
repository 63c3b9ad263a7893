// What the keyer sends, by the link and this station's role.
//
// Not linked, the keyer is the operator's own and everything shows here. Linked, the role
// decides: a RemoteSide is where nobody watches, so its keyer's status and echo go to the
// ControlPoint; a ControlPoint's own keyer echoes the operator's paddles, which become text
// for the other keyer, while its status means nothing to anyone; in Converse both stations
// send what their paddles key, and each shows its own too.
//
// All of it runs on the keyer reader thread, between two reads: what it shows goes to the
// view, which hands it over without waiting, so the reader never waits for the window.
#include "keyer/keyer_link.h"
#include "messages/message_sender.h"
#include "settings/settings_record.h"
#include "station/station.h"

namespace {

// The code that tells the other keyer which paddle to press. It names one paddle only; with
// both closed it names the right one.
constexpr uint8_t kLeftPaddleCode = 2;
constexpr uint8_t kRightPaddleCode = 1;

// The keyer's own message buttons, in the order of their bits in a button report: the first
// pressed one counts.
struct KeyerButton {
    uint8_t bit;
    int message;
};
constexpr KeyerButton kKeyerButtons[] = {
    {keyer_wire::kButtonM1, 1},
    {keyer_wire::kButtonM2, 2},
    {keyer_wire::kButtonM3, 3},
    {keyer_wire::kButtonM4, 4},
};
// What the sender's Sending() holds while a keyer button's message goes out, whichever button.
constexpr int32_t kSendingFromKeyerButton = 1;

}  // namespace

void Station::OnKeyerButtons(uint8_t report) {
    for (const KeyerButton& button : kKeyerButtons) {
        if ((report & button.bit) != 0) {
            view_.ShowKeyerButtonPressed(button.message);
            // Refused while a message is going out: that one goes on, and only the view
            // shows the press.
            sender_.Start(button.message, kSendingFromKeyerButton);
            return;
        }
    }
    view_.ShowKeyerButtonPressed(0);
}

void Station::ShowLocalStatus(uint8_t status) {
    if ((status & keyer_wire::kStatusBreakIn) != 0) {
        // The operator took over with the paddles: a stored message must not go on under
        // them.
        sender_.Stop();
    }
    view_.ShowBusy((status & keyer_wire::kStatusBusy) != 0);
    view_.ShowWait((status & keyer_wire::kStatusWait) != 0      ? WaitState::kWait
                   : (status & keyer_wire::kStatusBreakIn) != 0 ? WaitState::kBreakIn
                                                                : WaitState::kNone);
}

void Station::OnKeyerStatus(uint8_t status) {
    if (keyer_.IsButtonReport(status)) {
        // Keying from this station's own buttons follows the role rule. A report that the
        // rule refuses is dropped rather than passed on as status: its button bits would
        // read as hold and break-in at the other station.
        if (RoleAcceptsLocalKeying()) {
            OnKeyerButtons(status);
        }
        return;
    }
    if (!net_.IsLinked()) {
        ShowLocalStatus(status);
        return;
    }
    if (settings_.NetRole() != kNetRoleControlPoint) {
        status_relay_.ReportKeyerStatus(status);
    }
}

void Station::OnSpeedPot(uint8_t wpm) {
    state_.pot_wpm.store(wpm);
    if (state_.pot_speed_active.load() == 0) {
        return;
    }
    if (net_.IsLinked()) {
        const uint32_t role = settings_.NetRole();
        if (role == kNetRoleRemoteSide) {
            return;  // the other station sets this keyer's speed
        }
        if (role == kNetRoleControlPoint) {
            net_.SendPacket(PKT_SPEED, wpm, 0, nullptr);
        }
    }
    view_.ShowSpeed(wpm);
    keyer_.SetSpeed(wpm);
}

void Station::OnKeyerEcho(uint8_t character) {
    if (!net_.IsLinked()) {
        ++state_.keyed_echoes;
    } else {
        const uint32_t role = settings_.NetRole();
        if (role == kNetRoleRemoteSide) {
            net_.SendPacket(PKT_ECHO_CHAR, character, 0, nullptr);
            return;
        }
        net_.SendPacket(PKT_TEXT_CHAR, character, 0, nullptr);
        if (role == kNetRoleControlPoint) {
            return;
        }
    }
    view_.InsertEcho(character);
}

void Station::OnPaddles(uint8_t paddles) {
    // With "Letter Paddle" chosen only the characters the paddles key travel, as echo;
    // a station without a link has nobody to tell, and its field stays as it was.
    if (!net_.IsLinked() || (settings_.NetFlags() & kNetLetterPaddle) != 0) {
        return;
    }
    const bool left = (paddles & keyer_wire::kPaddleLeft) != 0;
    const bool right = (paddles & keyer_wire::kPaddleRight) != 0;
    const uint8_t code = right ? kRightPaddleCode : left ? kLeftPaddleCode : 0;
    SendPaddleCode(code);
    view_.ShowPaddles(left, right);
}

void Station::OnKeyerLost() {
    state_.keyer_lost.store(true);
}

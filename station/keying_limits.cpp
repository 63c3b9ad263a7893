// How long keying that came over the link may hold the key at a RemoteSide. A home station
// whose operator walked away with Tune on, or whose paddle contact stuck, must not keep the
// site's transmitter keyed: after the limit the site lets go as the operator would (a key-up,
// a paddle release), says so, and the link goes on.
//
// A peer that lets go just before each limit and presses again meets the keying budget
// instead (keying_budget.h): Tune, paddles and the PTT that the link's text switches on share
// one allowance of each minute. Over it the site lets go of all three at once and takes no
// press until the minute has room again, and a peer that goes over again and again loses its
// link.
#include <chrono>
#include <string>

#include "keyer/keyer_link.h"
#include "station/station.h"

namespace {

using Clock = std::chrono::steady_clock;

// The paddle codes: none, right, left, or both.
constexpr uint8_t kHighestPaddleCode = 3;

constexpr char kTooOftenText[] =
    "\r\nLink closed: keying from the link went over its budget three times in 10 minutes.";

bool Expired(const std::optional<Clock::time_point>& since, uint32_t limit_seconds) {
    return since && limit_seconds != 0 &&
           Clock::now() - *since >= std::chrono::seconds(limit_seconds);
}

}  // namespace

bool Station::IsKeyingFromLinkDown() const {
    return tune_from_link_since_ || paddles_from_link_since_ || ptt_from_link_on_;
}

bool Station::TakeKeyingFromLink(uint8_t type, uint8_t value) {
    if (type == PKT_PADDLE && value > kHighestPaddleCode) {
        return false;
    }
    const Clock::time_point now = Clock::now();
    if (value != 0 && settings_.NetRole() == kNetRoleRemoteSide && !keying_budget_.HasRoom(now)) {
        return false;
    }
    std::optional<Clock::time_point>& since =
        type == PKT_TUNE ? tune_from_link_since_ : paddles_from_link_since_;
    if (value == 0) {
        since.reset();
    } else if (!since) {
        since = now;
    }
    keying_budget_.Note(IsKeyingFromLinkDown(), now);
    return true;
}

bool Station::MayPttFromLinkGoOn() {
    return settings_.NetRole() != kNetRoleRemoteSide || keying_budget_.HasRoom(Clock::now());
}

void Station::OnPttFromLink(bool on) {
    ptt_from_link_on_ = on;
    keying_budget_.Note(IsKeyingFromLinkDown(), Clock::now());
}

void Station::EnforceKeyingLimits() {
    if (settings_.NetRole() != kNetRoleRemoteSide) {
        return;
    }
    if (Expired(tune_from_link_since_, limits_.tune_seconds)) {
        tune_from_link_since_.reset();
        keyer_.SetKeyDown(0);
        Log("\r\nTune from the link released after " + std::to_string(limits_.tune_seconds) +
            " s.");
    }
    if (Expired(paddles_from_link_since_, limits_.paddle_seconds)) {
        paddles_from_link_since_.reset();
        keyer_.SetPaddleInput(0);
        Log("\r\nPaddles from the link released after " + std::to_string(limits_.paddle_seconds) +
            " s.");
    }
    keying_budget_.Note(IsKeyingFromLinkDown(), Clock::now());
    EnforceKeyingBudget();
}

void Station::EnforceKeyingBudget() {
    const KeyingBudget::Verdict verdict = keying_budget_.Check(Clock::now());
    if (verdict == KeyingBudget::Verdict::kWithin) {
        return;
    }
    LetGoOfKeyingFromLink();
    Log("\r\nKeying from the link released: over " +
        std::to_string(keying_budget_.Allowance().count()) + " s in a minute.");
    if (verdict == KeyingBudget::Verdict::kTrippedTooOften) {
        EndLinkAsLost(kTooOftenText);
    }
}

void Station::LetGoOfKeyingFromLink() {
    if (ptt_from_link_on_) {
        // PTT off queued behind text the keyer still holds would wait for all of it.
        receive_backlog_.Drop();
        keyer_.ClearBuffer();
        keyer_.EndPtt();
        receive_backlog_.Feed();
    }
    keyer_.Release();
    ForgetKeyingFromLink();
}

void Station::ForgetKeyingFromLink() {
    tune_from_link_since_.reset();
    paddles_from_link_since_.reset();
    ptt_from_link_on_ = false;
    keying_budget_.Note(false, Clock::now());
}

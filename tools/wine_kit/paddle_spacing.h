// Paddles keyed at home and pressed at the far keyer: how well the far keyer's paddle inputs
// keep the spacing of the changes home's operator made. The operator is home's keyer
// emulator's fist, whose `sent` log says when each paddle report actually went; the far
// emulator's `log` says when each paddle input (14 v) arrived. Each time is on its own
// emulator's clock, so only the spacing of two changes is compared, never a time across the
// two clocks.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "tools/wine_kit/keyer_sim_control.h"

struct PaddleSpacing {
    size_t changes = 0;  // the paddle reports the fist sent
    size_t inputs = 0;   // the paddle inputs that reached the far keyer
    // |far spacing - fist spacing| of each two consecutive changes that both arrived, in ms.
    std::vector<double> errors_ms;
};

// Has home's fist key `text` at `wpm` and waits until the far keyer has taken as many paddle
// inputs, or a few seconds more. False, with the reason in `error`, when the fist would not.
// Nothing polls the far emulator while the fist plays, so its times are undisturbed.
bool KeyPaddlesAcrossTheLink(KeyerSimControl* home, KeyerSimControl* site, int wpm,
                             const std::string& text, PaddleSpacing* spacing, std::string* error);

// The paddle delay home's link field shows ("Link 23 ms, paddles 40 ms"); -1 when it shows
// none.
int ShownPaddleDelayMs(const std::string& link_field);

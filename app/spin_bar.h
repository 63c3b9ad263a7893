// The WPM field's spin bar: what each of its scroll codes (the low word of the scroll
// message's first parameter) asks of the speed.
#pragma once

#include "station/station.h"

inline SpeedStep SpeedStepOfScrollCode(int scroll_code) {
    constexpr int kScrollLineUp = 0;
    constexpr int kScrollLineDown = 1;
    return scroll_code == kScrollLineUp     ? SpeedStep::kUp
           : scroll_code == kScrollLineDown ? SpeedStep::kDown
                                            : SpeedStep::kRepeat;
}

// A pointer that rests on the Main window costs the program nothing, and the buttons that have
// keys still say which when the pointer rests on them.
//
// A themed control learns that the pointer came and went through TrackMouseEvent: on the
// first move over it, it asks for a hover after 1 ms and for the pointer's leaving, and a
// tooltip window that watches its tools polls the pointer every 100 ms while it rests on one.
// Windows raises hovers and leaves from the pointer's own events; Wine raises them by polling
// the pointer's place on a timer at the hover period, and once the hover has come it goes on
// polling for the leave at that period (its timers' floor, 10 ms) for as long as the pointer
// stays. Each poll is a round trip to the Wine server on the window's thread, the thread that
// carries the link's events: a pointer left on the Clear button cost 1,900 wake-ups a second.
//
// So the window asks for hovers and leaves itself, before a control's own handling of a move
// sees that nothing is tracked yet, which keeps the control from asking for its 1 ms hover:
// - On the pointer's arrival over a control, the control is told of a hover at once, so that
//   it shows itself hot as before, and the window asks for the leave and for a hover after the
//   system's hover time.
// - That hover shows the control's tip, if it has one, and asks for the next hover a tip's
//   life later, which hides the tip. From then on Wine polls only once per tip's life.
// - A move onto another control, or onto the window's own surface, ends the last control's
//   tracking at once, without a poll.
// The tips are tracking tooltips, which run no timers of their own.
#pragma once

#include <windows.h>

// For every child control of `window`, from now until the window goes; `tips` names, for each
// control that has one, the tip shown when the pointer rests on it.
struct PointerTip {
    int control_id;
    const char* text;
};
void KeepPointerRestCheap(HWND window, const PointerTip* tips, int tip_count);

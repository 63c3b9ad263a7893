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
// So no control of the window sees the pointer come (a move with no mouse button held never
// reaches it), and the window asks for hovers and leaves itself, only where a tip needs them:
// - Over a button that has a key, a hover after the system's hover time shows the tip; then
//   hovers every 250 ms, so that the pointer's leave hides the tip soon, until the tip's life
//   (5 s) is over. From then on nothing is watched until the pointer has been elsewhere.
// - Over any other control nothing is watched at all.
// - A move onto another control, or onto the window's own surface, ends the last control's
//   watch at once, without a poll.
// The tips are tracking tips, which run no timer of their own. The controls no longer show
// themselves hot under the pointer; that is the whole price.
#pragma once

#include <windows.h>

// For every child control of `window`, from now until the window goes; `tips` names, for each
// control that has one, the tip shown when the pointer rests on it.
struct PointerTip {
    int control_id;
    const char* text;
};
void KeepPointerRestCheap(HWND window, const PointerTip* tips, int tip_count);

// Bringing the station on line and taking it off: the Open/Close button, and the opening
// that the Settings record may ask for at start. Both run on the Main window's thread.
#pragma once

#include "app/window.h"

// The opening at start when `open_at_startup` is set; a Net Server waits 30 s first, so a
// remote site's network is up before it listens.
void RunStartupConnection(WindowHandle main_window);
// Open when nothing is open; otherwise close the keyer (settings saved first) and the link.
void OnOpenCloseButton(WindowHandle main_window);
// On the link timer's tick: once the keyer reader has given the local keyer up as lost (its
// port refuses every read, as an unplugged adapter's does), closes it as Close would and
// says so in the local keyer field and the Connect log. A link goes on; a Net Server tells
// the other station that it has no keyer now.
void CloseLocalKeyerIfLost();

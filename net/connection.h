// The connection sequence: attach the local keyer, then listen as a Net Server or start
// connecting as a Net Client, telling the operator every step in the Connect log.
#pragma once

#include "app/window.h"

// 1 when every stage the Settings record asks for is done or under way; 0 when one failed,
// with the reason in the Connect log and nothing left held by the failed stage. Runs on
// the Main window's thread, which receives the socket events.
int OpenConnection(WindowHandle main_window);

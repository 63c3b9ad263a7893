// The Main window's message buttons M1 to M6.
#pragma once

// Message button `number` (1..6): starts that message while none is being sent and the role
// takes keying from this station; the focus goes to the log pane either way.
void OnMessageButton(int number);

// The operator's commands in the Main window, as the window procedure hands them over: a
// typed character, the speed from the WPM field or its spin bar, Clear, Tune and Pause. Each
// works through the window seam, so host tests drive them with a recording window. While
// linked, a command goes to the other station; otherwise to the local keyer.
#pragma once

// A character typed at the Main window or into the log pane (`WM_CHAR`'s code).
void OnTypedCharacter(unsigned int character_code);
// Enter in the WPM field.
void OnSpeedEntry();
// The spin bar's scroll code (the low 16 bits of `WM_VSCROLL`'s first parameter).
void OnSpinBar(int scroll_code);
void OnClearButton();
void OnTuneButton();
void OnPauseButton();

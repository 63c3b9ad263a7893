// Drives a running pellmar.exe through its Main window the way a person's input arrives:
// clicks and keys are posted to the controls as the system would deliver them, texts are
// read with window messages. Used by the Wine tests and by the pellmar_ui command.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace ui {

struct Program {
    HANDLE process = nullptr;
    DWORD process_id = 0;
    HWND window = nullptr;  // the Main window, once found
};

// Starts `exe` with `folder` as its working folder and `arguments` after its name on the
// command line. False when it cannot be started.
bool StartProgram(const std::string& exe, const std::string& folder, Program* program,
                  const std::string& arguments = "");
// Waits until the process has a visible top-level window of class "PellmarClass".
HWND WaitForMainWindow(Program* program, int timeout_ms);
// Any process's Main window (the first one found), for the command-line driver.
HWND FindAnyMainWindow(int timeout_ms);
// Waits for the process to end; returns its exit code, or -1 on time-out.
long WaitForExit(Program* program, int timeout_ms);
// Ends the process if it still runs and releases its handle.
void StopProgram(Program* program);

HWND Control(HWND window, int id);
// A left click on a button (press and release over it).
void Click(HWND window, int id);
// Each character as a typed key reaching the control.
void TypeText(HWND window, int id, const std::string& text);
// One typed key, returning once the control's thread has handled it (false when it did not
// within a few seconds), so the caller can look at what the key did.
bool TypeKeyAndWait(HWND window, int id, unsigned char c);
// A key pressed and released with the control focused, as the system posts it (VK_F1,
// VK_ESCAPE ...).
void PressKey(HWND window, int id, UINT key);
// Puts `text` on the clipboard, as copying it in another program would; false when the
// clipboard cannot be opened.
bool PutOnClipboard(const std::string& text);
// A right click on a control, or on the window's own surface when `id` is 0.
void RightClick(HWND window, int id);
// The caption's close box.
void PressCloseBox(HWND window);
// A click on an arrow of a vertical scroll bar control: what the bar tells its parent for
// the press (line up for the upper arrow, line down for the lower) and for the release.
void ClickScrollArrow(HWND window, int id, bool up);
// A command as the dialog manager sends it (for ids such as Escape's cancel command).
void SendCommand(HWND window, int id);
// Selects the whole text of an edit control, so that what is typed next replaces it.
void SelectAll(HWND window, int id);
// The control that has the keyboard focus on the window's thread.
HWND FocusedControl(HWND window);

std::string ReadText(HWND window, int id);
std::string WindowText(HWND window);
std::string ClassOf(HWND window);
bool IsControlEnabled(HWND window, int id);
// Polls until the keyboard focus of the window's thread is on the control; false on time-out.
bool WaitForFocus(HWND window, int id, int timeout_ms);
// Polls until the control's enabled state is `enabled`; false on time-out.
bool WaitForEnabled(HWND window, int id, bool enabled, int timeout_ms);
// Polls until the control shows `text` exactly; false on time-out.
bool WaitForText(HWND window, int id, const std::string& text, int timeout_ms);

// A message box or dialog of the given process (0: any) whose caption is `caption`.
HWND WaitForMessageBox(DWORD process_id, const std::string& caption, int timeout_ms);
HWND WaitForDialog(DWORD process_id, const std::string& caption, int timeout_ms);
// Polls until the window has gone (or is hidden); false on time-out.
bool WaitForWindowGone(HWND window, int timeout_ms);

// An edit field's text replaced, as a paste over all of it would.
void SetText(HWND window, int id, const std::string& text);
bool IsChecked(HWND window, int id);
// Drop-down lists: the entries in list order, the selected position (-1: none), and a
// choice of position.
std::vector<std::string> ListEntries(HWND window, int id);
int SelectedPosition(HWND window, int id);
void Select(HWND window, int id, int position);
std::string MessageBoxText(HWND box);
void DismissMessageBox(HWND box);

// Moves two top-level windows side by side, `left` at (margin, margin) and `right` beside it
// with the same margin between them; their sizes stay.
void PlaceSideBySide(HWND left, HWND right, int margin);

// Saves what the screen shows of the window as a 24-bit BMP file.
bool SaveScreenshot(HWND window, const std::string& path);
// The same for the smallest rectangle that holds all the windows. With `captions`, the
// picture gets a band on top in which each window has its caption (the first the first's)
// centred above it: what the windows' own captions cannot say, such as which is home.
bool SaveScreenshot(const std::vector<HWND>& windows, const std::string& path,
                    const std::vector<std::string>& captions = {});

// The folder of the running test program (with a trailing backslash).
std::string OwnFolder();

}  // namespace ui

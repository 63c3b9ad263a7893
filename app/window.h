// The controls of one dialog window as portable code sees them. The Main window's view
// (app/main_window_view.h) and the Message Editor's form are given the WindowBackend of their
// window and change controls only through it, so host tests run them over a recording window
// (tests/support/recording_window.h) where Windows has the real controls
// (app/win32_window.h).
//
// One thread. A window's controls are its own thread's: no other thread calls its backend,
// so no call here waits for another thread, and the window may go as soon as its own thread
// is done with it. What the station's worker threads show reaches the Main window through its
// view, which queues their calls and has the window's thread apply them. A message box is
// shown on the window's thread as well; the box's own message loop keeps the window's
// messages flowing while it waits for a person.
//
// The echo line and the log pane keep only their newest text. An edit control silently
// refuses text past its limit, so a station that runs for days would one day stop showing
// what its keyers send. Every insertion into either goes through InsertText or AppendText
// below, whoever makes it (the typed text, the Connect log, a stored message, the echoes from
// the keyer reader and the link), so the oldest text is dropped here, in one place: once an
// insertion would take the text past its limit, the text is cut back, the insertion included,
// and the insertion goes at the end, where the caret then stands. The cut is rare, so an
// insertion costs one length query more than the insertion itself.
//
// The echo line keeps less than the log pane: it is one line, and inserting into a single-line
// edit costs time in proportion to its length (under Wine about 2 ms at 4000 characters and
// 9 ms at 12000, for every echoed character), while the multi-line pane stays near 1 ms.
#pragma once

#include <string>

#include "app/resource_ids.h"

// A window as the owner of a message box, opaque to all but the platform's backend. The
// default names no window: the box has no owner.
struct WindowHandle {
    void* window = nullptr;

    friend bool operator==(WindowHandle a, WindowHandle b) { return a.window == b.window; }
    friend bool operator!=(WindowHandle a, WindowHandle b) { return !(a == b); }
};
inline constexpr WindowHandle kNoOwner{};

constexpr int kTextEnd = -1;

// Once an insertion would take the text past `limit`, it is cut back to `after_cut`.
struct KeptText {
    int id;
    int limit;
    int after_cut;
};
inline constexpr KeptText kKeptTexts[] = {
    {IDC_ECHO_LINE, 4000, 3000},
    {IDC_LOG_PANE, 16000, 12000},
};
// Null for a control that keeps all its text.
const KeptText* KeptTextOf(int id);

// The icon a message box shows beside its text.
enum class BoxIcon { kNone, kWarning };

class WindowBackend {
  public:
    virtual ~WindowBackend() = default;

    virtual WindowHandle Handle() = 0;
    virtual void SetControlText(int id, const std::string& text) = 0;
    virtual std::string GetControlText(int id) = 0;
    virtual int TextLength(int id) { return static_cast<int>(GetControlText(id).size()); }
    // Edit controls: selects `start` to `end` (character positions, clamped to the text;
    // kTextEnd stands for the end of the text). A selection of no characters is the caret.
    virtual void SetSelection(int id, int start, int end) = 0;
    // Replaces the selection with `text` (no undo); the caret ends after the inserted text.
    // Keeps no newest text: InsertText does.
    virtual void ReplaceSelection(int id, const std::string& text) = 0;
    virtual void EnableControl(int id, bool enabled) = 0;
    virtual void FocusControl(int id) = 0;
    // An OK message box; returns the button pressed (1 for OK), 0 when none could be shown.
    virtual int ShowMessageBox(WindowHandle owner, const std::string& text,
                               const std::string& caption, BoxIcon icon) = 0;
    // A Yes/No box with No as the default button; true only when Yes was pressed. A backend
    // that cannot ask answers No, which keeps things as they are.
    virtual bool AskYesNo(WindowHandle /*owner*/, const std::string& /*text*/,
                          const std::string& /*caption*/) {
        return false;
    }
    // The system's warning sound, where there is one.
    virtual void WarningBeep() {}
};

// Replaces the selection of control `id` with `text`; the echo line and the log pane keep
// their newest text (see above).
void InsertText(WindowBackend& window, int id, const std::string& text);
// Caret to the end of the text, then inserts there as InsertText does.
void AppendText(WindowBackend& window, int id, const std::string& text);

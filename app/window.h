// The Main window as the rest of the program sees it. Code outside the window procedures
// (the keyer reader, the message sender, the network handlers, the settings file) changes
// controls only through these calls. On Windows each is a synchronous call that the
// window's own thread carries out, so that thread must never wait for a thread that may be
// inside one of them. Host tests install a recording window instead.
//
// At exit the window goes while the keyer reader or a message sender may still be calling
// in. CloseWindowSeam, on the window's thread, turns every later call into nothing and
// waits, carrying out the calls sent to it meanwhile, until no thread is inside one; only
// then may the window and its backend go. A message box is the exception: it waits for a
// person, not for the window, so the close does not wait for it.
//
// The echo line and the log pane keep only their newest text. An edit control silently
// refuses text past its limit, so a station that runs for days would one day stop showing
// what its keyers send. Every insertion into either goes through here, whoever makes it
// (the typed text, the Connect log, a stored message, the echoes from the keyer reader and
// the link), so the oldest text is dropped here, in one place: once an insertion would take
// the text past its limit, the text is cut back, the insertion included, and the insertion
// goes at the end, where the caret then stands. The cut is rare, so an insertion costs one
// length query more than the insertion itself; the query, the cut and the insertion are one
// call of the window's thread, so another thread's insertion never lands between them.
//
// The echo line keeps less than the log pane: it is one line, and inserting into a single-line
// edit costs time in proportion to its length (under Wine about 2 ms at 4000 characters and
// 9 ms at 12000, for every echoed character), while the multi-line pane stays near 1 ms.
#pragma once

#include <functional>
#include <string>

#include "app/resource_ids.h"

// An opaque window handle: the owner of a message box. Null means no owner.
using WindowHandle = void*;

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
    // Edit controls: selects `start` to `end` (character positions, clamped to the text;
    // kTextEnd stands for the end of the text). A selection of no characters is the caret.
    virtual void SetSelection(int id, int start, int end) = 0;
    // Replaces the selection with `text` (no undo); the caret ends after the inserted text.
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
    // On the window's thread, while it waits for other threads: carries out the calls they
    // have sent it, or waits a moment when there are none.
    virtual void CarryOutSentCalls() = 0;
    virtual int TextLength(int id) { return static_cast<int>(GetControlText(id).size()); }
    // Runs `work`, which calls this backend, as one call: no other thread's call to the
    // window runs in the middle of it.
    virtual void RunAsOneCall(const std::function<void()>& work) { work(); }
    // The system's warning sound, where there is one.
    virtual void WarningBeep() {}
};

// Installs the implementation that the calls below go to, and opens the seam; null removes
// it, and the calls then do nothing. Installed before any other thread starts.
void InstallWindowBackend(WindowBackend* backend);
// At exit, on the window's thread: see above. Afterwards the backend may be destroyed.
void CloseWindowSeam();
// On the window's thread, while it waits for another thread that may be inside one of the
// calls below: carries out the calls sent meanwhile, or waits a moment when there are none
// (or no window is open).
void CarryOutSentWindowCalls();

WindowHandle MainWindowHandle();
void SetControlText(int id, const std::string& text);
std::string GetControlText(int id);
int ControlTextLength(int id);
void SetSelection(int id, int start, int end);
void ReplaceSelection(int id, const std::string& text);
// Caret to the end of the text, then insert there.
void AppendText(int id, const std::string& text);
void EnableControl(int id, bool enabled);
void FocusControl(int id);
int ShowMessageBox(WindowHandle owner, const std::string& text, const std::string& caption,
                   BoxIcon icon = BoxIcon::kNone);
bool AskYesNo(WindowHandle owner, const std::string& text, const std::string& caption);
void WarningBeep();

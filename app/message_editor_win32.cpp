#include "app/message_editor_win32.h"

#include <optional>

#include "app/resource_ids.h"
#include "app/win32_window.h"
#include "forms/message_editor_form.h"
#include "station/station.h"

namespace {

// The editor's fields on the dialog's controls.
class EditorControls final : public MessageEditorFields {
  public:
    explicit EditorControls(HWND dialog) : controls_(dialog) {}

    void ShowHeading(const std::string& heading) override {
        controls_.SetControlText(IDC_EDITOR_HEADING, heading);
    }
    std::string ArgumentText() override { return controls_.GetControlText(IDC_EDITOR_ARGUMENT); }
    std::string MessageText() override { return controls_.GetControlText(IDC_EDITOR_TEXT); }
    void SelectInMessage(int start, int end) override {
        controls_.SetSelection(IDC_EDITOR_TEXT, Position(start), Position(end));
    }
    void ReplaceSelectionInMessage(const std::string& text) override {
        controls_.ReplaceSelection(IDC_EDITOR_TEXT, text);
    }
    void FocusMessage() override { controls_.FocusControl(IDC_EDITOR_TEXT); }

  private:
    static int Position(int position) { return position == kMessageTextEnd ? kTextEnd : position; }

    Win32Window controls_;
};

// Enter (IDOK) is no command: it must not close the editor.
std::optional<EditorCommand> CommandOf(int id) {
    switch (id) {
        case IDC_EDITOR_RESTORE:
            return EditorCommand::kRestore;
        case IDC_EDITOR_SAVE:
            return EditorCommand::kSave;
        case IDC_EDITOR_CANCEL:
        case IDCANCEL:  // Escape
            return EditorCommand::kClose;
        case IDC_EDITOR_SET_PTT:
            return EditorCommand::kInsertPttOn;
        case IDC_EDITOR_CLEAR_PTT:
            return EditorCommand::kInsertPttOff;
        case IDC_EDITOR_MERGE:
            return EditorCommand::kInsertMerge;
        case IDC_EDITOR_CANCEL_WPM:
            return EditorCommand::kInsertCancelSpeed;
        case IDC_EDITOR_SET_WPM:
            return EditorCommand::kInsertSpeed;
        case IDC_EDITOR_SET_KEY:
            return EditorCommand::kInsertKey;
        case IDC_EDITOR_SET_WAIT:
            return EditorCommand::kInsertWait;
        default:
            return std::nullopt;
    }
}

// What the open editor is bound to: its message, and the station that stores it. It lives in
// the dialog's user word.
struct EditorBinding {
    int number;
    Station* station;
};

INT_PTR CALLBACK MessageEditorProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    EditorControls controls(dialog);
    switch (message) {
        case WM_INITDIALOG: {
            auto* binding = reinterpret_cast<EditorBinding*>(lparam);
            binding->number = OpenMessageEditor(controls, binding->number, *binding->station);
            SetWindowLongPtrA(dialog, DWLP_USER, lparam);
            if (binding->number == 0) {
                EndDialog(dialog, 0);
            }
            return FALSE;  // the focus is placed already
        }
        case WM_COMMAND: {
            auto* binding = reinterpret_cast<EditorBinding*>(GetWindowLongPtrA(dialog, DWLP_USER));
            const std::optional<EditorCommand> command = CommandOf(LOWORD(wparam));
            if (binding != nullptr && command &&
                MessageEditorCommand(controls, binding->number, *command, *binding->station)) {
                EndDialog(dialog, 0);
            }
            return TRUE;
        }
        case WM_CLOSE:
            EndDialog(dialog, 0);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

void RunMessageEditor(HWND parent, int number, Station& station) {
    EditorBinding binding{number, &station};
    DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MESSAGE_EDITOR), parent,
                    MessageEditorProc, reinterpret_cast<LPARAM>(&binding));
}

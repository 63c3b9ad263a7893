#include "app/message_editor_win32.h"

#include "app/message_editor_form.h"
#include "app/resource_ids.h"
#include "app/win32_window.h"
#include "station/station.h"

namespace {

// What the open editor is bound to: its message, and the station that stores it. It lives in
// the dialog's user word; the controls are reached through a window backend on the dialog
// itself.
struct EditorBinding {
    int number;
    Station* station;
};

INT_PTR CALLBACK MessageEditorProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    Win32Window controls(dialog);
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
            if (binding != nullptr && MessageEditorCommand(controls, binding->number,
                                                           LOWORD(wparam), *binding->station)) {
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

#include "messages/message_editor_win32.h"

#include "app/resource_ids.h"
#include "app/win32_window.h"
#include "messages/message_editor.h"

namespace {

// The message the open editor is bound to lives in the dialog's user word; the controls are
// reached through a window backend on the dialog itself.
INT_PTR CALLBACK MessageEditorProc(HWND dialog, UINT message, WPARAM wparam, LPARAM /*lparam*/) {
    Win32Window controls(dialog);
    switch (message) {
        case WM_INITDIALOG: {
            const int number = OpenMessageEditor(controls);
            SetWindowLongPtrA(dialog, DWLP_USER, number);
            if (number == 0) {
                EndDialog(dialog, 0);
            }
            return FALSE;  // the focus is placed already
        }
        case WM_COMMAND: {
            const int number = static_cast<int>(GetWindowLongPtrA(dialog, DWLP_USER));
            if (MessageEditorCommand(controls, number, LOWORD(wparam))) {
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

void RunMessageEditor(HWND parent) {
    DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MESSAGE_EDITOR), parent,
                    MessageEditorProc, 0);
}

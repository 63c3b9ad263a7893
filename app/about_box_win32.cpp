#include "app/about_box_win32.h"

#include "app/about_box.h"
#include "app/main_window_win32.h"
#include "app/resource_ids.h"

namespace {

// Escape's cancel command (id 2) is left unhandled, so the box stays open: only OK, Enter
// and the close box end it.
INT_PTR CALLBACK AboutBoxProc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            for (const DialogText& line : AboutTexts()) {
                SetDlgItemTextA(dialog, line.id, line.text.c_str());
            }
            return TRUE;
        case WM_COMMAND:
            if (wparam == IDOK) {
                EndDialog(dialog, 1);
                return TRUE;
            }
            return FALSE;
        case WM_CLOSE:
            EndDialog(dialog, 0);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

void RunAboutBox(HWND owner) {
    DialogBoxParamA(program_instance, MAKEINTRESOURCEA(IDD_ABOUT), owner, AboutBoxProc, 0);
}

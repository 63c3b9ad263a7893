#include "app/link_key_box_win32.h"

#include "app/main_window_win32.h"
#include "app/resource_ids.h"
#include "forms/new_link_key.h"

namespace {

INT_PTR CALLBACK LinkKeyBoxProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_INITDIALOG: {
            const auto* made = reinterpret_cast<const NewLinkKey*>(lparam);
            SetDlgItemTextA(dialog, IDC_LINK_KEY_MESSAGE, made->message.c_str());
            HWND line = GetDlgItem(dialog, IDC_LINK_KEY_LINE);
            if (made->key_line.empty()) {
                ShowWindow(line, SW_HIDE);
                return TRUE;
            }
            // Selected and focused, so that Ctrl+C copies the whole line at once.
            SetWindowTextA(line, made->key_line.c_str());
            SendMessageA(line, EM_SETSEL, 0, -1);
            SetFocus(line);
            return FALSE;
        }
        case WM_COMMAND:
            if (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL) {
                EndDialog(dialog, LOWORD(wparam));
                return TRUE;
            }
            return FALSE;
        case WM_CLOSE:
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

void RunLinkKeyBox(HWND owner, const std::string& config_path) {
    const NewLinkKey made = MakeNewLinkKey(config_path);
    DialogBoxParamA(program_instance, MAKEINTRESOURCEA(IDD_LINK_KEY), owner, LinkKeyBoxProc,
                    reinterpret_cast<LPARAM>(&made));
}

// The Setup dialog's window procedure: copies the form into the controls at opening, the
// controls into the form before a click is reacted to and before "Done", and the enabled
// states back out afterwards. What the controls mean is the form's business.
#include "app/setup_dialog_win32.h"

#include <vector>

#include "app/resource_ids.h"
#include "app/setup_form.h"
#include "settings/settings_record.h"

namespace {

// What the open dialog works on; it lives in the dialog's user word.
struct SetupSession {
    SetupForm form;
    WindowBackend* main_window;
    Station* station;
};

SetupSession* SessionOf(HWND dialog) {
    return reinterpret_cast<SetupSession*>(GetWindowLongPtrA(dialog, DWLP_USER));
}

void ShowEnabledStates(HWND dialog, const SetupForm& form) {
    for (const auto& [id, enabled] : form.enabled) {
        EnableWindow(GetDlgItem(dialog, id), enabled ? TRUE : FALSE);
    }
}

void ShowForm(HWND dialog, const SetupForm& form) {
    for (const auto& [id, entries] : form.entries) {
        SendDlgItemMessageA(dialog, id, CB_RESETCONTENT, 0, 0);
        for (const std::string& entry : entries) {
            SendDlgItemMessageA(dialog, id, CB_ADDSTRING, 0,
                                reinterpret_cast<LPARAM>(entry.c_str()));
        }
    }
    for (const auto& [id, position] : form.selections) {
        SendDlgItemMessageA(dialog, id, CB_SETCURSEL, static_cast<WPARAM>(position), 0);
    }
    for (const auto& [id, text] : form.texts) {
        SetDlgItemTextA(dialog, id, text.c_str());
    }
    for (const auto& [id, checked] : form.checks) {
        CheckDlgButton(dialog, id, checked ? BST_CHECKED : BST_UNCHECKED);
    }
    ShowEnabledStates(dialog, form);
}

void ReadForm(HWND dialog, SetupForm* form) {
    for (auto& [id, text] : form->texts) {
        HWND control = GetDlgItem(dialog, id);
        std::vector<char> buffer(static_cast<size_t>(GetWindowTextLengthA(control)) + 1, '\0');
        const int copied = GetWindowTextA(control, buffer.data(), static_cast<int>(buffer.size()));
        text.assign(buffer.data(), copied > 0 ? static_cast<size_t>(copied) : 0);
    }
    for (auto& [id, checked] : form->checks) {
        checked = IsDlgButtonChecked(dialog, id) == BST_CHECKED;
    }
    for (auto& [id, position] : form->selections) {
        const LRESULT selected = SendDlgItemMessageA(dialog, id, CB_GETCURSEL, 0, 0);
        position = selected == CB_ERR ? kNoSelection : static_cast<int>(selected);
    }
}

INT_PTR CALLBACK SetupDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_INITDIALOG:
            SetWindowLongPtrA(dialog, DWLP_USER, lparam);
            SendDlgItemMessageA(dialog, IDC_SETUP_IP_ADDRESS, EM_LIMITTEXT, kTextFieldSize - 1, 0);
            ShowForm(dialog, SessionOf(dialog)->form);
            return TRUE;
        case WM_COMMAND: {
            SetupSession* session = SessionOf(dialog);
            if (session == nullptr) {
                return FALSE;
            }
            SetupForm* form = &session->form;
            const int id = LOWORD(wparam);
            if (id == IDCANCEL) {
                EndDialog(dialog, IDCANCEL);
                return TRUE;
            }
            if (id == IDC_SETUP_DONE) {
                ReadForm(dialog, form);
                // The refusals are owned by the dialog, which keeps a second "Done" from
                // arriving while the first one's box is still up.
                if (FinishSetupForm(form, *session->main_window, {dialog}, *session->station)) {
                    EndDialog(dialog, IDC_SETUP_DONE);
                } else {
                    ShowEnabledStates(dialog, *form);
                }
                return TRUE;
            }
            if (HIWORD(wparam) == BN_CLICKED) {
                ReadForm(dialog, form);
                ReactToSetupClick(id, form);
                ShowEnabledStates(dialog, *form);
                return TRUE;
            }
            return FALSE;
        }
        default:
            return FALSE;
    }
}

}  // namespace

void RunSetupDialog(HWND owner, WindowBackend& main_window, Station& station) {
    SetupSession session{OpenSetupForm(station), &main_window, &station};
    DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_SETUP), owner, SetupDialogProc,
                    reinterpret_cast<LPARAM>(&session));
}

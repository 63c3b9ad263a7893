// The Setup dialog's window procedure: copies the form into the controls at opening, the
// controls into the form before a click is reacted to and before "Done", and the enabled
// states back out afterwards, and shows "Done"'s refusals in boxes. What the fields mean is the
// form's business; which control shows each field is this file's.
#include "app/setup_dialog_win32.h"

#include <optional>
#include <vector>

#include "app/resource_ids.h"
#include "forms/setup_form.h"
#include "settings/field_number.h"
#include "settings/settings_record.h"

namespace {

int ControlOf(SetupField field) {
    switch (field) {
        case SetupField::kOpenAtStart:
            return IDC_SETUP_OPEN_AT_START;
        case SetupField::kWeight:
            return IDC_SETUP_WEIGHT;
        case SetupField::kLeadIn:
            return IDC_SETUP_LEAD_IN;
        case SetupField::kTail:
            return IDC_SETUP_TAIL;
        case SetupField::kFarnsworth:
            return IDC_SETUP_FARNS;
        case SetupField::kRatio:
            return IDC_SETUP_RATIO;
        case SetupField::kCompensation:
            return IDC_SETUP_COMP;
        case SetupField::kFirstExtension:
            return IDC_SETUP_FIRST_EXT;
        case SetupField::kSample:
            return IDC_SETUP_SAMPLE;
        case SetupField::kSwap:
            return IDC_SETUP_SWAP;
        case SetupField::kAutoSpace:
            return IDC_SETUP_AUTOSPACE;
        case SetupField::kCtSpacing:
            return IDC_SETUP_CT_SPACING;
        case SetupField::kPaddleDog:
            return IDC_SETUP_PADDLE_DOG;
        case SetupField::kPaddleEcho:
            return IDC_SETUP_PADDLE_ECHO;
        case SetupField::kSerialEcho:
            return IDC_SETUP_SERIAL_ECHO;
        case SetupField::kEnablePtt:
            return IDC_SETUP_ENABLE_PTT;
        case SetupField::kLetterPaddle:
            return IDC_SETUP_LETTER_PADDLE;
        case SetupField::kMaxWpm:
            return IDC_SETUP_MAX_WPM;
        case SetupField::kMinWpm:
            return IDC_SETUP_MIN_WPM;
        case SetupField::kPotLock:
            return IDC_SETUP_POT_LOCK;
        case SetupField::kPaddleOnly:
            return IDC_SETUP_PADDLE_ONLY;
        case SetupField::kSidetoneFrequency:
            return IDC_SETUP_FREQ;
        case SetupField::kNetworkOff:
            return IDC_SETUP_NET_OFF;
        case SetupField::kNetClient:
            return IDC_SETUP_NET_CLIENT;
        case SetupField::kNetServer:
            return IDC_SETUP_NET_SERVER;
        case SetupField::kIpAddress:
            return IDC_SETUP_IP_ADDRESS;
        case SetupField::kIpPort:
            return IDC_SETUP_IP_PORT;
        case SetupField::kIpOverride:
            return IDC_SETUP_IP_OVERRIDE;
        case SetupField::kRemoteSidetone:
            return IDC_SETUP_REMOTE_SIDETONE;
        case SetupField::kRole:
            return IDC_SETUP_ROLE;
        case SetupField::kCwMode:
            return IDC_SETUP_CW_MODE;
        case SetupField::kPaddleHang:
            return IDC_SETUP_PADDLE_HANG;
        case SetupField::kKeyerPort:
            return IDC_SETUP_PORT;
        case SetupField::kKeyerPortEnable:
            return IDC_SETUP_PORT_ENABLE;
        case SetupField::kOutputSetup:
            return IDC_SETUP_OUTPUT;
    }
    return 0;
}

// What the open dialog works on; it lives in the dialog's user word.
struct SetupSession {
    SetupForm form;
    Station* station;
    // The Main window, whose speed field "Done" may lower.
    HWND owner;
};

SetupSession* SessionOf(HWND dialog) {
    return reinterpret_cast<SetupSession*>(GetWindowLongPtrA(dialog, DWLP_USER));
}

std::string ControlText(HWND dialog, int id) {
    HWND control = GetDlgItem(dialog, id);
    std::vector<char> buffer(static_cast<size_t>(GetWindowTextLengthA(control)) + 1, '\0');
    const int copied = GetWindowTextA(control, buffer.data(), static_cast<int>(buffer.size()));
    return std::string(buffer.data(), copied > 0 ? static_cast<size_t>(copied) : 0);
}

// Every box a click can change is in the form's checks.
std::optional<SetupField> ClickedField(const SetupForm& form, int id) {
    for (const auto& [field, checked] : form.checks) {
        if (ControlOf(field) == id) {
            return field;
        }
    }
    return std::nullopt;
}

void ShowEnabledStates(HWND dialog, const SetupForm& form) {
    for (const auto& [field, enabled] : form.enabled) {
        EnableWindow(GetDlgItem(dialog, ControlOf(field)), enabled ? TRUE : FALSE);
    }
}

void ShowForm(HWND dialog, const SetupForm& form) {
    for (const auto& [field, entries] : form.entries) {
        const int id = ControlOf(field);
        SendDlgItemMessageA(dialog, id, CB_RESETCONTENT, 0, 0);
        for (const std::string& entry : entries) {
            SendDlgItemMessageA(dialog, id, CB_ADDSTRING, 0,
                                reinterpret_cast<LPARAM>(entry.c_str()));
        }
    }
    for (const auto& [field, position] : form.selections) {
        SendDlgItemMessageA(dialog, ControlOf(field), CB_SETCURSEL, static_cast<WPARAM>(position),
                            0);
    }
    for (const auto& [field, text] : form.texts) {
        SetDlgItemTextA(dialog, ControlOf(field), text.c_str());
    }
    for (const auto& [field, checked] : form.checks) {
        CheckDlgButton(dialog, ControlOf(field), checked ? BST_CHECKED : BST_UNCHECKED);
    }
    ShowEnabledStates(dialog, form);
}

void ReadForm(HWND dialog, SetupForm* form) {
    for (auto& [field, text] : form->texts) {
        text = ControlText(dialog, ControlOf(field));
    }
    for (auto& [field, checked] : form->checks) {
        checked = IsDlgButtonChecked(dialog, ControlOf(field)) == BST_CHECKED;
    }
    for (auto& [field, position] : form->selections) {
        const LRESULT selected = SendDlgItemMessageA(dialog, ControlOf(field), CB_GETCURSEL, 0, 0);
        position = selected == CB_ERR ? kNoSelection : static_cast<int>(selected);
    }
}

// "Done": true when the dialog is to close. The refusals' boxes are owned by the dialog, which
// keeps a second "Done" from arriving while the first one's box is still up.
bool Finish(HWND dialog, SetupSession* session) {
    ReadForm(dialog, &session->form);
    const uint32_t speed_shown = UnsignedFromText(ControlText(session->owner, IDC_WPM)).value_or(0);
    const std::vector<SetupRefusal> refusals =
        FinishSetupForm(&session->form, *session->station, speed_shown);
    for (const SetupRefusal& refusal : refusals) {
        MessageBoxA(dialog, refusal.text.c_str(), refusal.caption.c_str(),
                    MB_OK | (refusal.warning ? MB_ICONWARNING : 0));
    }
    return refusals.empty();
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
            const int id = LOWORD(wparam);
            if (id == IDCANCEL) {
                EndDialog(dialog, IDCANCEL);
                return TRUE;
            }
            if (id == IDC_SETUP_DONE) {
                if (Finish(dialog, session)) {
                    EndDialog(dialog, IDC_SETUP_DONE);
                } else {
                    ShowEnabledStates(dialog, session->form);
                }
                return TRUE;
            }
            if (HIWORD(wparam) == BN_CLICKED) {
                ReadForm(dialog, &session->form);
                if (const std::optional<SetupField> field = ClickedField(session->form, id)) {
                    ReactToSetupClick(*field, &session->form);
                }
                ShowEnabledStates(dialog, session->form);
                return TRUE;
            }
            return FALSE;
        }
        default:
            return FALSE;
    }
}

}  // namespace

void RunSetupDialog(HWND owner, Station& station) {
    SetupSession session{OpenSetupForm(station), &station, owner};
    DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_SETUP), owner, SetupDialogProc,
                    reinterpret_cast<LPARAM>(&session));
}

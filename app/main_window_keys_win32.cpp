#include "app/main_window_keys_win32.h"

#include <cstring>
#include <iterator>

#include "app/main_window_win32.h"
#include "app/pointer_rest_win32.h"
#include "app/resource_ids.h"
#include "station/station.h"

namespace {

HWND keys_dialog = nullptr;
Station* keys_station = nullptr;
HHOOK keys_hook = nullptr;

struct KeyedButton {
    int id;
    UINT key;
    int message;  // the stored message it sends, or 0 for Clear
    const char* tip;
};

constexpr KeyedButton kKeyedButtons[] = {
    {IDC_M1, VK_F1, 1, "Send message 1 (F1); right-click to edit it"},
    {IDC_M2, VK_F2, 2, "Send message 2 (F2); right-click to edit it"},
    {IDC_M3, VK_F3, 3, "Send message 3 (F3); right-click to edit it"},
    {IDC_M4, VK_F4, 4, "Send message 4 (F4); right-click to edit it"},
    {IDC_M5, VK_F5, 5, "Send message 5 (F5); right-click to edit it"},
    {IDC_M6, VK_F6, 6, "Send message 6 (F6); right-click to edit it"},
    {IDC_CLEAR, VK_ESCAPE, 0, "Stop sending and clear (Esc)"},
};

// True when `key` is one of the buttons' keys, which then did what its button would.
bool PressButtonOfKey(WPARAM key) {
    for (const KeyedButton& button : kKeyedButtons) {
        if (button.key != key) {
            continue;
        }
        // A key does no more than its button: nothing while the button is disabled (the
        // start-up wait holds the operator's input).
        if (!IsWindowEnabled(GetDlgItem(keys_dialog, button.id))) {
            return true;
        }
        if (button.message != 0) {
            keys_station->SendStoredMessage(button.message);
        } else {
            keys_station->Clear();
        }
        return true;
    }
    return false;
}

// A modal dialog's loop shows every message it takes to this hook before the dialog manager
// or the focused control sees it: the one place that sees a key whichever control has the
// focus. Taken here, F1 never asks for help, and Esc never reaches the typing pane, which as
// a multi-line edit would close the window. Other dialogs' keys (Setup, the Message Editor)
// pass on.
LRESULT CALLBACK DialogKeysHook(int code, WPARAM wparam, LPARAM lparam) {
    const MSG* message = reinterpret_cast<const MSG*>(lparam);
    if (code == MSGF_DIALOGBOX && message->message == WM_KEYDOWN &&
        (message->hwnd == keys_dialog || IsChild(keys_dialog, message->hwnd)) &&
        PressButtonOfKey(message->wParam)) {
        return TRUE;
    }
    return CallNextHookEx(keys_hook, code, wparam, lparam);
}

}  // namespace

void InstallMainWindowKeys(HWND dialog, Station& station) {
    keys_dialog = dialog;
    keys_station = &station;
    keys_hook = SetWindowsHookExA(WH_MSGFILTER, DialogKeysHook, nullptr, GetCurrentThreadId());
}

void RemoveMainWindowKeys() {
    if (keys_hook != nullptr) {
        UnhookWindowsHookEx(keys_hook);
        keys_hook = nullptr;
    }
    keys_station = nullptr;
}

std::string ClipboardText(HWND owner) {
    std::string text;
    if (!IsClipboardFormatAvailable(CF_TEXT) || !OpenClipboard(owner)) {
        return text;
    }
    // Windows makes CF_TEXT of any Unicode text, in the program's code page.
    if (HANDLE data = GetClipboardData(CF_TEXT); data != nullptr) {
        if (const auto* locked = static_cast<const char*>(GlobalLock(data)); locked != nullptr) {
            text.assign(locked, strnlen(locked, GlobalSize(data)));
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return text;
}

void AddKeyTooltips(HWND dialog) {
    PointerTip tips[std::size(kKeyedButtons)];
    for (std::size_t i = 0; i < std::size(kKeyedButtons); ++i) {
        tips[i] = {kKeyedButtons[i].id, kKeyedButtons[i].tip};
    }
    KeepPointerRestCheap(dialog, tips, static_cast<int>(std::size(tips)));
}

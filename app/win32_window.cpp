#include "app/win32_window.h"

#include <vector>

Win32Window::Win32Window(HWND dialog) : dialog_(dialog) {
    // InsertText keeps these texts short; the control's own limit must never refuse an
    // insertion before room has been made for it.
    for (const KeptText& kept : kKeptTexts) {
        SendDlgItemMessageA(dialog_, kept.id, EM_SETLIMITTEXT, 0, 0);
    }
}

void Win32Window::SetControlText(int id, const std::string& text) {
    SetDlgItemTextA(dialog_, id, text.c_str());
}

std::string Win32Window::GetControlText(int id) {
    HWND control = GetDlgItem(dialog_, id);
    const int length = GetWindowTextLengthA(control);
    std::vector<char> buffer(static_cast<std::size_t>(length) + 1, '\0');
    const int copied = GetWindowTextA(control, buffer.data(), length + 1);
    return std::string(buffer.data(), copied > 0 ? static_cast<std::size_t>(copied) : 0);
}

void Win32Window::SetSelection(int id, int start, int end) {
    HWND control = GetDlgItem(dialog_, id);
    const int length = GetWindowTextLengthA(control);
    if (start == kTextEnd || start > length) {
        start = length;
    }
    if (end == kTextEnd || end > length) {
        end = length;
    }
    SendMessageA(control, EM_SETSEL, static_cast<WPARAM>(start), static_cast<LPARAM>(end));
}

void Win32Window::ReplaceSelection(int id, const std::string& text) {
    SendDlgItemMessageA(dialog_, id, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
}

void Win32Window::EnableControl(int id, bool enabled) {
    EnableWindow(GetDlgItem(dialog_, id), enabled ? TRUE : FALSE);
}

void Win32Window::FocusControl(int id) {
    SetFocus(GetDlgItem(dialog_, id));
}

int Win32Window::ShowMessageBox(WindowHandle owner, const std::string& text,
                                const std::string& caption, BoxIcon icon) {
    const UINT style = MB_OK | (icon == BoxIcon::kWarning ? MB_ICONWARNING : 0);
    return MessageBoxA(static_cast<HWND>(owner.window), text.c_str(), caption.c_str(), style);
}

bool Win32Window::AskYesNo(WindowHandle owner, const std::string& text,
                           const std::string& caption) {
    const UINT style = MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2;
    return MessageBoxA(static_cast<HWND>(owner.window), text.c_str(), caption.c_str(), style) ==
           IDYES;
}

int Win32Window::TextLength(int id) {
    return GetWindowTextLengthA(GetDlgItem(dialog_, id));
}

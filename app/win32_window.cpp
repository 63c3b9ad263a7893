#include "app/win32_window.h"

#include <vector>

Win32Window::Win32Window(HWND dialog) : dialog_(dialog) {
    // The seam keeps these texts short; the control's own limit must never refuse an
    // insertion before the seam has made room for it.
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

void Win32Window::CarryOutSentCalls() {
    // Only sent messages are carried out: posted ones (clicks, timers, socket notifications)
    // stay queued for the dialog's own loop.
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 2, QS_SENDMESSAGE);
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}

int Win32Window::ShowMessageBox(WindowHandle owner, const std::string& text,
                                const std::string& caption, BoxIcon icon) {
    const UINT style = MB_OK | (icon == BoxIcon::kWarning ? MB_ICONWARNING : 0);
    return MessageBoxA(static_cast<HWND>(owner), text.c_str(), caption.c_str(), style);
}

bool Win32Window::AskYesNo(WindowHandle owner, const std::string& text,
                           const std::string& caption) {
    const UINT style = MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2;
    return MessageBoxA(static_cast<HWND>(owner), text.c_str(), caption.c_str(), style) == IDYES;
}

int Win32Window::TextLength(int id) {
    return GetWindowTextLengthA(GetDlgItem(dialog_, id));
}

void Win32Window::RunAsOneCall(const std::function<void()>& work) {
    // On the window's own thread the calls are direct; from any other thread one sent
    // message carries them all, and the window's thread runs them back to back.
    if (GetWindowThreadProcessId(dialog_, nullptr) == GetCurrentThreadId()) {
        work();
        return;
    }
    SendMessageA(dialog_, WM_SEAM_WORK, 0, reinterpret_cast<LPARAM>(&work));
}

void RunSentSeamWork(LPARAM work) {
    (*reinterpret_cast<const std::function<void()>*>(work))();
}

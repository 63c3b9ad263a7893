#include "tools/wine_kit/ui_driver.h"

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <vector>

#include "tools/common/wait_until.h"

namespace ui {

namespace {

constexpr std::chrono::milliseconds kPoll{20};
constexpr UINT kReadTimeoutMs = 2000;

struct WindowSearch {
    DWORD process_id;
    std::string class_name;
    std::string caption;  // empty: any
    HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<WindowSearch*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (search->process_id != 0 && owner != search->process_id) {
        return TRUE;
    }
    if (!IsWindowVisible(window) || ClassOf(window) != search->class_name) {
        return TRUE;
    }
    if (!search->caption.empty() && WindowText(window) != search->caption) {
        return TRUE;
    }
    search->found = window;
    return FALSE;
}

// Polls `done` every kPoll for up to `timeout_ms`.
template <typename Done>
bool Poll(Done&& done, int timeout_ms) {
    return WaitUntil(std::forward<Done>(done), std::chrono::milliseconds(timeout_ms), kPoll);
}

HWND WaitForWindow(DWORD process_id, const std::string& class_name, const std::string& caption,
                   int timeout_ms) {
    WindowSearch search{process_id, class_name, caption, nullptr};
    Poll(
        [&] {
            EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
            return search.found != nullptr;
        },
        timeout_ms);
    return search.found;
}

POINT CentreOf(HWND control) {
    RECT rect{};
    GetClientRect(control, &rect);
    return POINT{(rect.right - rect.left) / 2, (rect.bottom - rect.top) / 2};
}

std::string TextOf(HWND window) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kReadTimeoutMs,
                             &length)) {
        return std::string();
    }
    std::vector<char> buffer(length + 1, '\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutA(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                        SMTO_ABORTIFHUNG, kReadTimeoutMs, &copied);
    return std::string(buffer.data(), copied);
}

}  // namespace

bool StartProgram(const std::string& exe, const std::string& folder, Program* program,
                  const std::string& arguments) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    std::string command = "\"" + exe + "\"";
    if (!arguments.empty()) {
        command += " " + arguments;
    }
    if (!CreateProcessA(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        folder.c_str(), &startup, &info)) {
        return false;
    }
    CloseHandle(info.hThread);
    program->process = info.hProcess;
    program->process_id = info.dwProcessId;
    program->window = nullptr;
    return true;
}

HWND WaitForMainWindow(Program* program, int timeout_ms) {
    program->window = WaitForWindow(program->process_id, "PellmarClass", "", timeout_ms);
    return program->window;
}

HWND FindAnyMainWindow(int timeout_ms) {
    return WaitForWindow(0, "PellmarClass", "", timeout_ms);
}

long WaitForExit(Program* program, int timeout_ms) {
    if (program->process == nullptr ||
        WaitForSingleObject(program->process, static_cast<DWORD>(timeout_ms)) != WAIT_OBJECT_0) {
        return -1;
    }
    DWORD code = 0;
    GetExitCodeProcess(program->process, &code);
    return static_cast<long>(code);
}

void StopProgram(Program* program) {
    if (program->process == nullptr) {
        return;
    }
    if (WaitForSingleObject(program->process, 0) != WAIT_OBJECT_0) {
        TerminateProcess(program->process, 99);
        WaitForSingleObject(program->process, 5000);
    }
    CloseHandle(program->process);
    program->process = nullptr;
}

HWND Control(HWND window, int id) {
    return GetDlgItem(window, id);
}

void Click(HWND window, int id) {
    PostMessageA(Control(window, id), BM_CLICK, 0, 0);
}

void TypeText(HWND window, int id, const std::string& text) {
    HWND control = Control(window, id);
    for (unsigned char c : text) {
        PostMessageA(control, WM_CHAR, c, 1);
    }
}

bool TypeKeyAndWait(HWND window, int id, unsigned char c) {
    DWORD_PTR ignored = 0;
    return SendMessageTimeoutA(Control(window, id), WM_CHAR, c, 1, SMTO_ABORTIFHUNG, kReadTimeoutMs,
                               &ignored) != 0;
}

void PressKey(HWND window, int id, UINT key) {
    HWND control = Control(window, id);
    PostMessageA(control, WM_KEYDOWN, key, 1);
    PostMessageA(control, WM_KEYUP, key, 0xC0000001);
}

bool PutOnClipboard(const std::string& text) {
    HGLOBAL copy = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
    if (copy == nullptr) {
        return false;
    }
    std::memcpy(GlobalLock(copy), text.c_str(), text.size() + 1);
    GlobalUnlock(copy);
    if (!OpenClipboard(nullptr)) {
        GlobalFree(copy);
        return false;
    }
    EmptyClipboard();
    // Once set, the clipboard owns the copy.
    const bool put = SetClipboardData(CF_TEXT, copy) != nullptr;
    CloseClipboard();
    if (!put) {
        GlobalFree(copy);
    }
    return put;
}

void RightClick(HWND window, int id) {
    HWND target = id == 0 ? window : Control(window, id);
    POINT at{4, 4};
    if (id != 0) {
        at = CentreOf(target);
    }
    PostMessageA(target, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(at.x, at.y));
    PostMessageA(target, WM_RBUTTONUP, 0, MAKELPARAM(at.x, at.y));
}

void PressCloseBox(HWND window) {
    PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
}

void ClickScrollArrow(HWND window, int id, bool up) {
    const LPARAM bar = reinterpret_cast<LPARAM>(Control(window, id));
    PostMessageA(window, WM_VSCROLL, MAKEWPARAM(up ? SB_LINEUP : SB_LINEDOWN, 0), bar);
    PostMessageA(window, WM_VSCROLL, MAKEWPARAM(SB_ENDSCROLL, 0), bar);
}

void SendCommand(HWND window, int id) {
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
}

void SelectAll(HWND window, int id) {
    PostMessageA(Control(window, id), EM_SETSEL, 0, -1);
}

HWND FocusedControl(HWND window) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info)) {
        return nullptr;
    }
    return info.hwndFocus;
}

std::string ReadText(HWND window, int id) {
    return TextOf(Control(window, id));
}

std::string WindowText(HWND window) {
    return TextOf(window);
}

std::string ClassOf(HWND window) {
    char name[256] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

bool IsControlEnabled(HWND window, int id) {
    return IsWindowEnabled(Control(window, id)) != 0;
}

bool WaitForFocus(HWND window, int id, int timeout_ms) {
    return Poll([&] { return FocusedControl(window) == Control(window, id); }, timeout_ms);
}

bool WaitForEnabled(HWND window, int id, bool enabled, int timeout_ms) {
    return Poll([&] { return IsControlEnabled(window, id) == enabled; }, timeout_ms);
}

bool WaitForText(HWND window, int id, const std::string& text, int timeout_ms) {
    return Poll([&] { return ReadText(window, id) == text; }, timeout_ms);
}

HWND WaitForMessageBox(DWORD process_id, const std::string& caption, int timeout_ms) {
    return WaitForDialog(process_id, caption, timeout_ms);
}

HWND WaitForDialog(DWORD process_id, const std::string& caption, int timeout_ms) {
    return WaitForWindow(process_id, "#32770", caption, timeout_ms);
}

bool WaitForWindowGone(HWND window, int timeout_ms) {
    return Poll([&] { return !IsWindow(window) || !IsWindowVisible(window); }, timeout_ms);
}

void SetText(HWND window, int id, const std::string& text) {
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(Control(window, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                        SMTO_ABORTIFHUNG, kReadTimeoutMs, &ignored);
}

bool IsChecked(HWND window, int id) {
    DWORD_PTR state = 0;
    SendMessageTimeoutA(Control(window, id), BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, kReadTimeoutMs,
                        &state);
    return state == BST_CHECKED;
}

std::vector<std::string> ListEntries(HWND window, int id) {
    // Read as wide text: the ANSI form of the request does not survive the crossing to
    // another process under Wine.
    HWND list = Control(window, id);
    DWORD_PTR count = 0;
    SendMessageTimeoutW(list, CB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, kReadTimeoutMs, &count);
    std::vector<std::string> entries;
    for (WPARAM i = 0; i < static_cast<WPARAM>(static_cast<int>(count)); ++i) {
        DWORD_PTR length = 0;
        SendMessageTimeoutW(list, CB_GETLBTEXTLEN, i, 0, SMTO_ABORTIFHUNG, kReadTimeoutMs, &length);
        std::vector<wchar_t> wide(length + 1, L'\0');
        DWORD_PTR copied = 0;
        SendMessageTimeoutW(list, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(wide.data()),
                            SMTO_ABORTIFHUNG, kReadTimeoutMs, &copied);
        char text[256] = {};
        WideCharToMultiByte(CP_ACP, 0, wide.data(), -1, text, sizeof text - 1, nullptr, nullptr);
        entries.emplace_back(text);
    }
    return entries;
}

int SelectedPosition(HWND window, int id) {
    DWORD_PTR position = 0;
    SendMessageTimeoutA(Control(window, id), CB_GETCURSEL, 0, 0, SMTO_ABORTIFHUNG, kReadTimeoutMs,
                        &position);
    return static_cast<int>(static_cast<LRESULT>(position));
}

void Select(HWND window, int id, int position) {
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(Control(window, id), CB_SETCURSEL, static_cast<WPARAM>(position), 0,
                        SMTO_ABORTIFHUNG, kReadTimeoutMs, &ignored);
}

std::string MessageBoxText(HWND box) {
    // The message text is the box's static control with id 0xFFFF.
    return TextOf(GetDlgItem(box, 0xFFFF));
}

void DismissMessageBox(HWND box) {
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, 0), 0);
}

void PlaceSideBySide(HWND left, HWND right, int margin) {
    RECT rect{};
    GetWindowRect(left, &rect);
    const UINT flags = SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE;
    SetWindowPos(left, nullptr, margin, margin, 0, 0, flags);
    SetWindowPos(right, nullptr, 2 * margin + (rect.right - rect.left), margin, 0, 0, flags);
}

bool SaveScreenshot(HWND window, const std::string& path) {
    return SaveScreenshot(std::vector<HWND>{window}, path);
}

bool SaveScreenshot(const std::vector<HWND>& windows, const std::string& path,
                    const std::vector<std::string>& captions) {
    // Two lines of the dialog font, and a little room around them.
    const int band = captions.empty() ? 0 : 34;
    // The pointer off every window, so that no tooltip stands over the controls.
    SetCursorPos(0, 0);
    RECT rect{};
    for (HWND window : windows) {
        RECT own{};
        if (!GetWindowRect(window, &own)) {
            return false;
        }
        UnionRect(&rect, &rect, &own);
        SetForegroundWindow(window);
        RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    }
    Sleep(200);
    // A maximised window's frame lies beyond the screen's edges, and a copy of anything off
    // the screen comes out black as a whole.
    const RECT screen_area{
        GetSystemMetrics(SM_XVIRTUALSCREEN), GetSystemMetrics(SM_YVIRTUALSCREEN),
        GetSystemMetrics(SM_XVIRTUALSCREEN) + GetSystemMetrics(SM_CXVIRTUALSCREEN),
        GetSystemMetrics(SM_YVIRTUALSCREEN) + GetSystemMetrics(SM_CYVIRTUALSCREEN)};
    IntersectRect(&rect, &rect, &screen_area);
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top + band;
    if (width <= 0 || height <= band) {
        return false;
    }

    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(memory, 0, band, width, height - band, screen, rect.left, rect.top, SRCCOPY);
    if (band > 0) {
        RECT strip{0, 0, width, band};
        FillRect(memory, &strip, GetSysColorBrush(COLOR_WINDOW));
        HGDIOBJ font = SelectObject(memory, GetStockObject(DEFAULT_GUI_FONT));
        SetBkMode(memory, TRANSPARENT);
        SetTextColor(memory, GetSysColor(COLOR_WINDOWTEXT));
        for (std::size_t i = 0; i < captions.size() && i < windows.size(); ++i) {
            RECT own{};
            GetWindowRect(windows[i], &own);
            RECT place{own.left - rect.left, 2, own.right - rect.left, band - 2};
            DrawTextA(memory, captions[i].c_str(), -1, &place,
                      DT_CENTER | DT_WORDBREAK | DT_NOPREFIX);
        }
        SelectObject(memory, font);
    }
    SelectObject(memory, previous);

    BITMAPINFOHEADER header{};
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    const DWORD row = ((static_cast<DWORD>(width) * 3 + 3) / 4) * 4;
    std::vector<unsigned char> pixels(row * static_cast<DWORD>(height));
    const int rows = GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(),
                               reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    if (rows != height) {
        return false;
    }

    BITMAPFILEHEADER file_header{};
    file_header.bfType = 0x4D42;
    file_header.bfOffBits = sizeof file_header + sizeof header;
    file_header.bfSize = file_header.bfOffBits + static_cast<DWORD>(pixels.size());
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    bool ok = std::fwrite(&file_header, sizeof file_header, 1, file) == 1 &&
              std::fwrite(&header, sizeof header, 1, file) == 1 &&
              std::fwrite(pixels.data(), 1, pixels.size(), file) == pixels.size();
    ok = std::fclose(file) == 0 && ok;
    return ok;
}

std::string OwnFolder() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path);
    return folder.substr(0, folder.find_last_of("\\/") + 1);
}

}  // namespace ui

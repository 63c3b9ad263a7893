// The window seam on Windows: every call goes to a control of one dialog, on its thread.
#pragma once

#include <windows.h>

#include "app/window.h"

class Win32Window final : public WindowBackend {
  public:
    explicit Win32Window(HWND dialog);

    WindowHandle Handle() override { return {dialog_}; }
    void SetControlText(int id, const std::string& text) override;
    std::string GetControlText(int id) override;
    int TextLength(int id) override;
    void SetSelection(int id, int start, int end) override;
    void ReplaceSelection(int id, const std::string& text) override;
    void EnableControl(int id, bool enabled) override;
    void FocusControl(int id) override;
    int ShowMessageBox(WindowHandle owner, const std::string& text, const std::string& caption,
                       BoxIcon icon) override;
    bool AskYesNo(WindowHandle owner, const std::string& text, const std::string& caption) override;
    void WarningBeep() override { MessageBeep(MB_ICONWARNING); }

  private:
    HWND dialog_;
};

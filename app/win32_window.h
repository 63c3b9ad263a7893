// The window seam on Windows: every call goes to a control of the Main window.
#pragma once

#include <windows.h>

#include "app/window.h"

class Win32Window final : public WindowBackend {
  public:
    explicit Win32Window(HWND dialog) : dialog_(dialog) {}

    WindowHandle Handle() override { return dialog_; }
    void SetControlText(int id, const std::string& text) override;
    std::string GetControlText(int id) override;
    void SetSelection(int id, int start, int end) override;
    void ReplaceSelection(int id, const std::string& text) override;
    void EnableControl(int id, bool enabled) override;
    void FocusControl(int id) override;
    int ShowMessageBox(WindowHandle owner, const std::string& text, const std::string& caption,
                       BoxIcon icon) override;
    void CarryOutSentCalls() override;

  private:
    HWND dialog_;
};

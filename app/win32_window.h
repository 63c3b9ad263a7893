// The window seam on Windows: every call goes to a control of the Main window.
#pragma once

#include <windows.h>

#include "app/window.h"

// A sequence of seam calls that another thread sends the Main window to run as one; its
// procedure hands the message to RunSentSeamWork.
constexpr UINT WM_SEAM_WORK = WM_APP + 1;

class Win32Window final : public WindowBackend {
  public:
    explicit Win32Window(HWND dialog);

    WindowHandle Handle() override { return dialog_; }
    void SetControlText(int id, const std::string& text) override;
    std::string GetControlText(int id) override;
    void SetSelection(int id, int start, int end) override;
    void ReplaceSelection(int id, const std::string& text) override;
    void EnableControl(int id, bool enabled) override;
    void FocusControl(int id) override;
    int ShowMessageBox(WindowHandle owner, const std::string& text, const std::string& caption,
                       BoxIcon icon) override;
    bool AskYesNo(WindowHandle owner, const std::string& text, const std::string& caption) override;
    void CarryOutSentCalls() override;
    int TextLength(int id) override;
    void RunAsOneCall(const std::function<void()>& work) override;
    void WarningBeep() override { MessageBeep(MB_ICONWARNING); }

  private:
    HWND dialog_;
};

void RunSentSeamWork(LPARAM work);

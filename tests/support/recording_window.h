// A stand-in for the Main window in host tests: it keeps each control's text, selection
// and enabled state with the semantics of the Windows edit control, and records every call
// so a test can check what was shown and in which order. Safe to call from any thread.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "app/window.h"

class RecordingWindow final : public WindowBackend {
  public:
    struct Call {
        std::string kind;  // "text", "select", "replace", "enable", "focus", "box"
        int id;
        std::string text;
    };
    struct MessageBoxShown {
        WindowHandle owner;
        std::string text;
        std::string caption;
        BoxIcon icon;
    };

    RecordingWindow();   // installs itself
    ~RecordingWindow();  // and removes itself

    WindowHandle Handle() override;
    void SetControlText(int id, const std::string& text) override;
    std::string GetControlText(int id) override;
    void SetSelection(int id, int start, int end) override;
    void ReplaceSelection(int id, const std::string& text) override;
    void EnableControl(int id, bool enabled) override;
    void FocusControl(int id) override;
    int ShowMessageBox(WindowHandle owner, const std::string& text, const std::string& caption,
                       BoxIcon icon) override;
    void CarryOutSentCalls() override;

    std::string Text(int id);
    bool Enabled(int id);  // controls start enabled, as in the dialog template
    int FocusedControl();
    std::vector<Call> Calls();
    std::vector<MessageBoxShown> MessageBoxes();

  private:
    struct Control {
        std::string text;
        std::size_t selection_start = 0;
        std::size_t selection_end = 0;
        bool enabled = true;
    };

    std::mutex mutex_;
    std::map<int, Control> controls_;
    std::vector<Call> calls_;
    std::vector<MessageBoxShown> boxes_;
    int focused_ = 0;
};

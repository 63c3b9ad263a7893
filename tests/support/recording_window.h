// A stand-in for the Main window in host tests: it keeps each control's text, selection
// and enabled state with the semantics of the Windows edit control, and records every call
// so a test can check what was shown and in which order. Safe to call from any thread.
//
// Bound to a thread (BindToThisThread), it holds the test to the rule of a real window: a
// call from any other thread is the fault, and ends the test program at once.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
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

    WindowHandle Handle() override;
    void SetControlText(int id, const std::string& text) override;
    std::string GetControlText(int id) override;
    void SetSelection(int id, int start, int end) override;
    void ReplaceSelection(int id, const std::string& text) override;
    void EnableControl(int id, bool enabled) override;
    void FocusControl(int id) override;
    int ShowMessageBox(WindowHandle owner, const std::string& text, const std::string& caption,
                       BoxIcon icon) override;
    // Recorded as a box, and answered as answer_yes says.
    bool AskYesNo(WindowHandle owner, const std::string& text,
                  const std::string& caption) override {
        ShowMessageBox(owner, text, caption, BoxIcon::kNone);
        return answer_yes;
    }
    int TextLength(int id) override;
    // Counted apart from the calls: a beep shows nothing.
    void WarningBeep() override {
        CheckThread();
        beeps.fetch_add(1);
    }

    // From now on the calling thread is the window's thread.
    void BindToThisThread();
    // Each text that replaces a selection from now on goes to `watch` too, at the moment it
    // is inserted, on the inserting thread, under the window's lock: `watch` must not call
    // the window. An empty watch ends the watching, once a call under way has returned.
    void WatchInsertions(std::function<void(int id, const std::string& text)> watch);

    std::string Text(int id);
    bool Enabled(int id);  // controls start enabled, as in the dialog template
    int FocusedControl();
    std::vector<Call> Calls();
    // The number of calls so far, and the calls from the `first` on: what one step did.
    std::size_t CallCount();
    std::vector<Call> CallsFrom(std::size_t first);
    std::vector<MessageBoxShown> MessageBoxes();
    std::atomic<bool> answer_yes{false};
    std::atomic<int> beeps{0};

  private:
    // Ends the program when the window is bound to a thread other than the caller.
    void CheckThread();

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
    std::function<void(int, const std::string&)> watch_;

    std::atomic<bool> bound_{false};
    std::atomic<std::thread::id> window_thread_{};
};

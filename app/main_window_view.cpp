#include "app/main_window_view.h"

#include <string>
#include <utility>

#include "app/resource_ids.h"
#include "app/window.h"
#include "forms/status_texts.h"

namespace {

// What the operator commands with; Exit and the echo line stay, and the speed field follows
// AllowSpeedEntry too.
constexpr int kHeldControls[] = {IDC_LOG_PANE,   IDC_M1,       IDC_M2,    IDC_M3,   IDC_M4,
                                 IDC_M5,         IDC_M6,       IDC_CLEAR, IDC_TUNE, IDC_PAUSE,
                                 IDC_OPEN_CLOSE, IDC_WPM_SPIN, IDC_SETUP};

// The keyer's own message buttons are M1 to M4.
constexpr int kKeyerButtonControls[] = {IDC_M1, IDC_M2, IDC_M3, IDC_M4};
constexpr const char* kKeyerButtonCaptions[] = {"M1", "M2", "M3", "M4"};
constexpr const char* kPressedButtonCaption = "X";

}  // namespace

MainWindowView::MainWindowView(WindowThread* window_thread) : window_thread_(window_thread) {}

void MainWindowView::Apply(std::function<void()> call) {
    Show(kInsertion, std::move(call));
}

void MainWindowView::Show(Field field, std::function<void()> call) {
    if (window_thread_ == nullptr || window_thread_->IsCurrent()) {
        RunHandedOver();
        call();
        return;
    }
    HandOver(std::move(call), field);
}

void MainWindowView::HandOver(std::function<void()> call, Field field) {
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closed_) {
            return;
        }
        wake = handed_over_.empty();
        if (field == kInsertion) {
            handed_over_.push_back(std::move(call));
        } else {
            const bool waiting = static_cast<bool>(latest_[field]);
            latest_[field] = std::move(call);
            if (!waiting) {
                handed_over_.push_back([this, field] {
                    std::function<void()> newest;
                    {
                        std::lock_guard<std::mutex> taken(mutex_);
                        newest.swap(latest_[field]);
                    }
                    if (newest) {
                        newest();
                    }
                });
            }
        }
    }
    // One wake-up for a run of calls: the window's thread applies all that wait at once, so
    // a keyer pouring out echoes never floods its message queue.
    if (wake) {
        window_thread_->Wake();
    }
}

void MainWindowView::RunHandedOver() {
    std::deque<std::function<void()>> calls;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        calls.swap(handed_over_);
    }
    for (const auto& call : calls) {
        call();
    }
}

void MainWindowView::Close() {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    handed_over_.clear();
    for (auto& newest : latest_) {
        newest = nullptr;
    }
}

void MainWindowView::Append(const std::string& text) {
    // The log pane holds the Connect log and the operator's typing alike: each text goes in
    // at the current selection.
    Apply([text] { ReplaceSelection(IDC_LOG_PANE, text); });
}

void MainWindowView::ShowNetworkStatus(NetworkStatus status) {
    Show(kNetworkField, [status] { SetControlText(IDC_NET_STATUS, NetworkStatusText(status)); });
}

void MainWindowView::ShowLocalKeyer(LocalKeyerState state, uint8_t version) {
    Show(kLocalKeyerField,
         [state, version] { SetControlText(IDC_LOCAL_STATUS, LocalKeyerText(state, version)); });
}

void MainWindowView::ShowRemoteKeyerClosed() {
    Show(kRemoteKeyerField, [] { SetControlText(IDC_REMOTE_STATUS, RemoteKeyerClosedText()); });
}

void MainWindowView::ShowRemoteKeyerVersion(uint8_t version) {
    Show(kRemoteKeyerField,
         [version] { SetControlText(IDC_REMOTE_STATUS, RemoteKeyerText(version)); });
}

void MainWindowView::ShowBusy(bool busy) {
    Show(kBusyField, [busy] { SetControlText(IDC_BUSY_STATUS, busy ? kBusyText : kBlankText); });
}

void MainWindowView::ShowWait(WaitState state) {
    const char* text = state == WaitState::kWait      ? kWaitText
                       : state == WaitState::kBreakIn ? kBreakInText
                                                      : kBlankText;
    Show(kWaitField, [text] { SetControlText(IDC_WAIT_STATUS, text); });
}

void MainWindowView::ShowSpeed(int wpm) {
    Show(kSpeedField, [wpm] { SetControlText(IDC_WPM, std::to_string(wpm)); });
}

void MainWindowView::AllowSpeedEntry(bool allowed) {
    Show(kSpeedEntryField, [this, allowed] {
        speed_entry_allowed_ = allowed;
        EnableControl(IDC_WPM, allowed && !input_held_);
    });
}

void MainWindowView::BlinkHeartbeat(bool lit) {
    Show(kHeartbeatField, [lit] { SetControlText(IDC_HEARTBEAT, lit ? "+" : " "); });
}

void MainWindowView::ShowPaddles(bool left, bool right) {
    const std::string shown = {left ? 'L' : ' ', right ? 'R' : ' '};
    Show(kPaddlesField, [shown] { SetControlText(IDC_PADDLES, shown); });
}

void MainWindowView::ShowTune(bool keyed) {
    Show(kTuneField, [keyed] { SetControlText(IDC_TUNE, keyed ? kTuneOnCaption : kTuneCaption); });
}

void MainWindowView::ShowPause(bool held) {
    Show(kPauseField,
         [held] { SetControlText(IDC_PAUSE, held ? kPauseOnCaption : kPauseCaption); });
}

void MainWindowView::OfferOpen() {
    Show(kOpenCloseField, [] { SetControlText(IDC_OPEN_CLOSE, "Open"); });
}

void MainWindowView::OfferClose() {
    Show(kOpenCloseField, [] { SetControlText(IDC_OPEN_CLOSE, "Close"); });
}

void MainWindowView::ShowKeyerButtonPressed(int message) {
    Apply([message] {
        if (message >= 1 && message <= 4) {
            SetControlText(kKeyerButtonControls[message - 1], kPressedButtonCaption);
            return;
        }
        for (int i = 0; i < 4; ++i) {
            SetControlText(kKeyerButtonControls[i], kKeyerButtonCaptions[i]);
        }
    });
}

void MainWindowView::InsertEcho(uint8_t character) {
    // A NUL-terminated one-character text, as the edit control takes it: a NUL code is an
    // empty insertion.
    const char text[2] = {static_cast<char>(character), '\0'};
    Apply([shown = std::string(text)] { ReplaceSelection(IDC_ECHO_LINE, shown); });
}

void MainWindowView::AppendTypedText(const std::string& text) {
    Apply([text] { AppendText(IDC_LOG_PANE, text); });
}

void MainWindowView::TakeBackTypedCharacter() {
    Apply([] {
        const int length = ControlTextLength(IDC_LOG_PANE);
        if (length > 0) {
            SetSelection(IDC_LOG_PANE, length - 1, kTextEnd);
            ReplaceSelection(IDC_LOG_PANE, "");
        }
    });
}

void MainWindowView::ClearTypedText() {
    Apply([] {
        SetSelection(IDC_LOG_PANE, 0, kTextEnd);
        ReplaceSelection(IDC_LOG_PANE, "");
    });
}

void MainWindowView::FocusTyping() {
    Apply([] { FocusControl(IDC_LOG_PANE); });
}

void MainWindowView::ReportProblem(Problem problem) {
    // A box waits for a person, not for the window: it is shown on the caller's thread.
    // Only the save's failure is told without the warning sign, as it always was.
    const BoxIcon icon = problem == Problem::kConfigNotSaved ? BoxIcon::kNone : BoxIcon::kWarning;
    ShowMessageBox(nullptr, ProblemText(problem), kProblemCaption, icon);
}

bool MainWindowView::ConfirmReplaceUnreadConfig() {
    // Asked from the window's thread, from Setup or the Message Editor, so the box is the Main
    // window's; No keeps the operator's real file.
    return AskYesNo(MainWindowHandle(),
                    "The config file could not be read at start.\n"
                    "Replace it with the settings in use now?\n\n"
                    "No keeps the file; the change lasts for this run only.",
                    "Replace Config File");
}

void MainWindowView::HoldInput(bool held) {
    Show(kInputHeldField, [this, held] {
        input_held_ = held;
        for (const int id : kHeldControls) {
            EnableControl(id, !held);
        }
        EnableControl(IDC_WPM, speed_entry_allowed_ && !held);
    });
}

void MainWindowView::RefuseTypedCharacter() {
    Apply([] { WarningBeep(); });
}

void MainWindowView::ShowLinkHealth(const LinkHealth& health) {
    Show(kLinkHealthField,
         [text = LinkHealthText(health)] { SetControlText(IDC_LINK_HEALTH, text); });
}

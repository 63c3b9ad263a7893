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

MainWindowView::MainWindowView(WindowBackend& window, WindowThread* window_thread)
    : window_(window), window_thread_(window_thread) {}

void MainWindowView::Apply(std::function<void()> call) {
    Show(kInsertion, std::move(call));
}

void MainWindowView::Show(Field field, std::function<void()> call) {
    if (window_thread_ == nullptr || window_thread_->IsCurrent()) {
        RunHandedOver();
        if (!closed_) {
            call();
        }
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
    std::size_t waiting = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        waiting = handed_over_.size();
    }
    // Only what waits now, so that the window's own messages have their turn between runs
    // however fast the workers hand calls over.
    for (; waiting > 0; --waiting) {
        std::function<void()> call;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (handed_over_.empty()) {
                return;  // a run inside a box's loop took the rest
            }
            call = std::move(handed_over_.front());
            handed_over_.pop_front();
        }
        call();
    }
    WakeForWhatWaits();
}

void MainWindowView::WakeForWhatWaits() {
    if (window_thread_ == nullptr) {
        return;
    }
    bool waiting = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        waiting = !handed_over_.empty();
    }
    // A call handed over while others waited asked for no wake-up of its own.
    if (waiting) {
        window_thread_->Wake();
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
    Apply([this, text] { InsertText(window_, IDC_LOG_PANE, text); });
}

void MainWindowView::ShowNetworkStatus(NetworkStatus status) {
    Show(kNetworkField,
         [this, status] { window_.SetControlText(IDC_NET_STATUS, NetworkStatusText(status)); });
}

void MainWindowView::ShowLocalKeyer(LocalKeyerState state, uint8_t version) {
    Show(kLocalKeyerField, [this, state, version] {
        window_.SetControlText(IDC_LOCAL_STATUS, LocalKeyerText(state, version));
    });
}

void MainWindowView::ShowRemoteKeyerClosed() {
    Show(kRemoteKeyerField,
         [this] { window_.SetControlText(IDC_REMOTE_STATUS, RemoteKeyerClosedText()); });
}

void MainWindowView::ShowRemoteKeyerVersion(uint8_t version) {
    Show(kRemoteKeyerField,
         [this, version] { window_.SetControlText(IDC_REMOTE_STATUS, RemoteKeyerText(version)); });
}

void MainWindowView::ShowBusy(bool busy) {
    Show(kBusyField,
         [this, busy] { window_.SetControlText(IDC_BUSY_STATUS, busy ? kBusyText : kBlankText); });
}

void MainWindowView::ShowWait(WaitState state) {
    const char* text = state == WaitState::kWait      ? kWaitText
                       : state == WaitState::kBreakIn ? kBreakInText
                                                      : kBlankText;
    Show(kWaitField, [this, text] { window_.SetControlText(IDC_WAIT_STATUS, text); });
}

void MainWindowView::ShowSpeed(int wpm) {
    Show(kSpeedField, [this, wpm] { window_.SetControlText(IDC_WPM, std::to_string(wpm)); });
}

void MainWindowView::AllowSpeedEntry(bool allowed) {
    Show(kSpeedEntryField, [this, allowed] {
        speed_entry_allowed_ = allowed;
        window_.EnableControl(IDC_WPM, allowed && !input_held_);
    });
}

void MainWindowView::BlinkHeartbeat(bool lit) {
    Show(kHeartbeatField, [this, lit] { window_.SetControlText(IDC_HEARTBEAT, lit ? "+" : " "); });
}

void MainWindowView::ShowPaddles(bool left, bool right) {
    const std::string shown = {left ? 'L' : ' ', right ? 'R' : ' '};
    Show(kPaddlesField, [this, shown] { window_.SetControlText(IDC_PADDLES, shown); });
}

void MainWindowView::ShowTune(bool keyed) {
    Show(kTuneField, [this, keyed] {
        window_.SetControlText(IDC_TUNE, keyed ? kTuneOnCaption : kTuneCaption);
    });
}

void MainWindowView::ShowPause(bool held) {
    Show(kPauseField, [this, held] {
        window_.SetControlText(IDC_PAUSE, held ? kPauseOnCaption : kPauseCaption);
    });
}

void MainWindowView::OfferOpen() {
    Show(kOpenCloseField, [this] { window_.SetControlText(IDC_OPEN_CLOSE, "Open"); });
}

void MainWindowView::OfferClose() {
    Show(kOpenCloseField, [this] { window_.SetControlText(IDC_OPEN_CLOSE, "Close"); });
}

void MainWindowView::ShowKeyerButtonPressed(int message) {
    Apply([this, message] {
        if (message >= 1 && message <= 4) {
            window_.SetControlText(kKeyerButtonControls[message - 1], kPressedButtonCaption);
            return;
        }
        for (int i = 0; i < 4; ++i) {
            window_.SetControlText(kKeyerButtonControls[i], kKeyerButtonCaptions[i]);
        }
    });
}

void MainWindowView::InsertEcho(uint8_t character) {
    // A NUL-terminated one-character text, as the edit control takes it: a NUL code is an
    // empty insertion.
    const char text[2] = {static_cast<char>(character), '\0'};
    Apply([this, shown = std::string(text)] { InsertText(window_, IDC_ECHO_LINE, shown); });
}

void MainWindowView::AppendTypedText(const std::string& text) {
    Apply([this, text] { AppendText(window_, IDC_LOG_PANE, text); });
}

void MainWindowView::TakeBackTypedCharacter() {
    Apply([this] {
        const int length = window_.TextLength(IDC_LOG_PANE);
        if (length > 0) {
            window_.SetSelection(IDC_LOG_PANE, length - 1, kTextEnd);
            window_.ReplaceSelection(IDC_LOG_PANE, "");
        }
    });
}

void MainWindowView::ClearTypedText() {
    Apply([this] {
        window_.SetSelection(IDC_LOG_PANE, 0, kTextEnd);
        window_.ReplaceSelection(IDC_LOG_PANE, "");
    });
}

void MainWindowView::FocusTyping() {
    Apply([this] { window_.FocusControl(IDC_LOG_PANE); });
}

void MainWindowView::ReportProblem(Problem problem) {
    // Owned by no window, so the Main window stays usable (Exit included) while it is up.
    // Only the save's failure is told without the warning sign, as it always was.
    const BoxIcon icon = problem == Problem::kConfigNotSaved ? BoxIcon::kNone : BoxIcon::kWarning;
    Apply([this, problem, icon] {
        // The box's own loop then applies what waits behind it while the box is up.
        WakeForWhatWaits();
        window_.ShowMessageBox(kNoOwner, ProblemText(problem), kProblemCaption, icon);
    });
}

bool MainWindowView::ConfirmReplaceUnreadConfig() {
    // Asked from the window's thread, from Setup or the Message Editor, so the box is the Main
    // window's; No keeps the operator's real file.
    return !closed_ && window_.AskYesNo(window_.Handle(),
                                        "The config file could not be read at start.\n"
                                        "Replace it with the settings in use now?\n\n"
                                        "No keeps the file; the change lasts for this run only.",
                                        "Replace Config File");
}

void MainWindowView::HoldInput(bool held) {
    Show(kInputHeldField, [this, held] {
        input_held_ = held;
        for (const int id : kHeldControls) {
            window_.EnableControl(id, !held);
        }
        window_.EnableControl(IDC_WPM, speed_entry_allowed_ && !held);
    });
}

void MainWindowView::RefuseTypedCharacter() {
    Apply([this] { window_.WarningBeep(); });
}

void MainWindowView::ShowLinkHealth(const LinkHealth& health) {
    Show(kLinkHealthField,
         [this, text = LinkHealthText(health)] { window_.SetControlText(IDC_LINK_HEALTH, text); });
}

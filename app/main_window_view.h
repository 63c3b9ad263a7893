// The Main window as a station's view: the one place that knows which control shows each
// meaning, and in which words. It changes the controls through the window it is given
// (app/window.h), which only the window's thread may call.
//
// The station calls the view from the window's thread and from its worker threads (the keyer
// reader, the message sender). A worker never waits for the window: its call is handed over,
// queued in order, and the window's thread applies the queue when the window thread's wake-up
// reaches it (RunHandedOver). A call made on the window's thread first applies whatever
// waits, then itself, so the order of the calls is the order they were made in. A call that
// only shows a field's state (busy, wait, a status line, a caption) waits at most once: a
// later one for the same field replaces it in its place, so a keyer that flips its busy bit
// thousands of times a second costs the window one update per field per wake-up, where a
// queue of every flip would bury it. Insertions (echo, typed text, the log) all go, and so
// does a problem report: its box waits for a person on the window's thread, never on the
// worker's, so the message sender that reports a bad token stops at exit like any thread.
// The box's own message loop goes on applying what is handed over behind it, in order.
//
// Exit: once the station has stopped its threads, Close() on the window's thread drops what
// still waits; every later call does nothing, so the window may go.
#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <mutex>

#include "app/window.h"
#include "station/station_view.h"

// How the view reaches the window's thread.
class WindowThread {
  public:
    virtual ~WindowThread() = default;
    // The caller is the window's thread.
    virtual bool IsCurrent() = 0;
    // Asks the window's thread to call RunHandedOver soon. Never waits.
    virtual void Wake() = 0;
};

class MainWindowView final : public StationView, public ConnectLog {
  public:
    // Without a window thread every call is applied at once on the caller's thread, which
    // suits a window that may be called from any thread (the tests' recording window).
    // `window` must outlive the view's last call.
    explicit MainWindowView(WindowBackend& window, WindowThread* window_thread = nullptr);

    // On the window's thread: applies the calls handed over so far, one at a time in their
    // order, so that a run begun inside a box's loop goes on where the one that showed the
    // box stands.
    void RunHandedOver();
    // On the window's thread, at exit.
    void Close();

    void Append(const std::string& text) override;

    void ShowNetworkStatus(NetworkStatus status) override;
    void ShowLocalKeyer(LocalKeyerState state, uint8_t version) override;
    void ShowRemoteKeyerClosed() override;
    void ShowRemoteKeyerVersion(uint8_t version) override;
    void ShowBusy(bool busy) override;
    void ShowWait(WaitState state) override;
    void ShowSpeed(int wpm) override;
    void AllowSpeedEntry(bool allowed) override;
    void BlinkHeartbeat(bool lit) override;
    void ShowPaddles(bool left, bool right) override;
    void ShowTune(bool keyed) override;
    void ShowPause(bool held) override;
    void OfferOpen() override;
    void OfferClose() override;
    void ShowKeyerButtonPressed(int message) override;
    void InsertEcho(uint8_t character) override;
    void AppendTypedText(const std::string& text) override;
    void TakeBackTypedCharacter() override;
    void ClearTypedText() override;
    void FocusTyping() override;
    void ReportProblem(Problem problem) override;
    bool ConfirmReplaceUnreadConfig() override;
    void HoldInput(bool held) override;

    void RefuseTypedCharacter() override;

    void ShowLinkHealth(const LinkHealth& health) override;
    // The Connect log's own words say it in the window; Windows gives no reason of its own.
    void ShowKeyerPortFailure(const PortFailure&) override {}

  private:
    // The fields whose calls replace a waiting one.
    enum Field {
        kNetworkField,
        kLocalKeyerField,
        kRemoteKeyerField,
        kBusyField,
        kWaitField,
        kSpeedField,
        kSpeedEntryField,
        kHeartbeatField,
        kPaddlesField,
        kTuneField,
        kPauseField,
        kOpenCloseField,
        kInputHeldField,
        kLinkHealthField,
        kFieldCount,
        // Not a field: a call that inserts text, which every call of goes.
        kInsertion = kFieldCount,
    };

    void Apply(std::function<void()> call);
    void Show(Field field, std::function<void()> call);
    // Hands `call` over, or for a field, makes it the one that waits for that field.
    void HandOver(std::function<void()> call, Field field);
    // On the window's thread: asks for a run of what waits, if anything does.
    void WakeForWhatWaits();

    WindowBackend& window_;
    WindowThread* window_thread_;
    std::mutex mutex_;
    std::deque<std::function<void()>> handed_over_;
    // Per field, the newest call while one waits in the queue for it.
    std::function<void()> latest_[kFieldCount];
    // Set under `mutex_`; read also by the window's thread's own calls.
    std::atomic<bool> closed_{false};
    // The speed field is enabled only when the speed may be typed and input is not held.
    std::atomic<bool> speed_entry_allowed_{true};
    std::atomic<bool> input_held_{false};
};

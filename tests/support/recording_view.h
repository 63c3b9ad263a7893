// A station's view for tests that assert by meaning: it shows nothing, and keeps every call
// in order and what a window would show now, for a test to read from any thread. It knows
// no control and no words; the Main window's view is the one map from a meaning to its
// control and its words, and tests/host/main_window_view_test.cpp checks that map, so what a
// test asserts here is what the window shows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "station/station_view.h"

class RecordingView final : public StationView, public ConnectLog {
  public:
    // Each call as its method's name and what it carried: "ShowTune true", "ShowSpeed 25",
    // "FocusTyping".
    std::vector<std::string> Calls();
    std::size_t CallCount();
    // The calls from the `first` on: what one step did.
    std::vector<std::string> CallsFrom(std::size_t first);
    // What the latest call of method `name` carried; empty before the first.
    std::string Latest(const std::string& name);
    int Count(const std::string& name);

    // What a window would show now: the Connect log, the typing pane with what was taken
    // back gone, the echo line, the network and local keyer status lines.
    std::string Log();
    std::string Typed();
    std::string Echoes();
    NetworkStatus Network();
    LocalKeyerState LocalKeyer();

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
    // Recorded, and answered no: the operator's file is kept.
    bool ConfirmReplaceUnreadConfig() override;
    void HoldInput(bool held) override;
    void RefuseTypedCharacter() override;
    void ShowLinkHealth(const LinkHealth& health) override;

  private:
    struct Call {
        std::string name;
        std::string carried;
    };
    // Records the call and, under the same lock, what it changes of the shown state.
    template <typename Change>
    void Record(const char* name, std::string carried, Change change) {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back({name, std::move(carried)});
        change();
    }
    void Record(const char* name, std::string carried = {}) {
        Record(name, std::move(carried), [] {});
    }

    std::mutex mutex_;
    std::vector<Call> calls_;
    std::string log_;
    std::string typed_;
    std::string echoes_;
    NetworkStatus network_ = NetworkStatus::kNoConnection;
    LocalKeyerState local_keyer_ = LocalKeyerState::kClosed;
};

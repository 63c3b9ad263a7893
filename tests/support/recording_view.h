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
    std::string Log() { return Read(log_); }
    std::string Typed() { return Read(typed_); }
    std::string Echoes() { return Read(echoes_); }
    NetworkStatus Network() { return Read(network_); }
    LocalKeyerState LocalKeyer() { return Read(local_keyer_); }

    void Append(const std::string& text) override;
    void ShowNetworkStatus(NetworkStatus status) override;
    void ShowLocalKeyer(LocalKeyerState state, uint8_t version) override;
    void ShowRemoteKeyerClosed() override { Record("ShowRemoteKeyerClosed"); }
    void ShowRemoteKeyerVersion(uint8_t version) override {
        Record("ShowRemoteKeyerVersion", std::to_string(version));
    }
    void ShowBusy(bool busy) override { Record("ShowBusy", Flag(busy)); }
    void ShowWait(WaitState state) override {
        Record("ShowWait", std::to_string(static_cast<int>(state)));
    }
    void ShowSpeed(int wpm) override { Record("ShowSpeed", std::to_string(wpm)); }
    void AllowSpeedEntry(bool allowed) override { Record("AllowSpeedEntry", Flag(allowed)); }
    void BlinkHeartbeat(bool lit) override { Record("BlinkHeartbeat", Flag(lit)); }
    void ShowPaddles(bool left, bool right) override {
        Record("ShowPaddles", Flag(left) + " " + Flag(right));
    }
    void ShowTune(bool keyed) override { Record("ShowTune", Flag(keyed)); }
    void ShowPause(bool held) override { Record("ShowPause", Flag(held)); }
    void OfferOpen() override { Record("OfferOpen"); }
    void OfferClose() override { Record("OfferClose"); }
    void ShowKeyerButtonPressed(int message) override {
        Record("ShowKeyerButtonPressed", std::to_string(message));
    }
    void InsertEcho(uint8_t character) override;
    void AppendTypedText(const std::string& text) override;
    void TakeBackTypedCharacter() override;
    void ClearTypedText() override;
    void FocusTyping() override { Record("FocusTyping"); }
    void ReportProblem(Problem problem) override {
        Record("ReportProblem", std::to_string(static_cast<int>(problem)));
    }
    // Recorded, and answered no: the operator's file is kept.
    bool ConfirmReplaceUnreadConfig() override;
    void HoldInput(bool held) override { Record("HoldInput", Flag(held)); }
    void RefuseTypedCharacter() override { Record("RefuseTypedCharacter"); }
    void ShowLinkHealth(const LinkHealth& health) override;
    // Not recorded: the Connect log the recording keeps tells the failure.
    void ShowKeyerPortFailure(const PortFailure&) override {}

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
    static std::string Flag(bool value) { return value ? "true" : "false"; }
    template <typename T>
    T Read(const T& shown) {
        std::lock_guard<std::mutex> lock(mutex_);
        return shown;
    }

    std::mutex mutex_;
    std::vector<Call> calls_;
    std::string log_;
    std::string typed_;
    std::string echoes_;
    NetworkStatus network_ = NetworkStatus::kNoConnection;
    LocalKeyerState local_keyer_ = LocalKeyerState::kClosed;
};

#include "tests/support/recording_view.h"

std::vector<std::string> RecordingView::Calls() {
    return CallsFrom(0);
}

std::size_t RecordingView::CallCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_.size();
}

std::vector<std::string> RecordingView::CallsFrom(std::size_t first) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> calls;
    for (std::size_t i = first; i < calls_.size(); ++i) {
        const Call& call = calls_[i];
        calls.push_back(call.carried.empty() ? call.name : call.name + " " + call.carried);
    }
    return calls;
}

std::string RecordingView::Latest(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto call = calls_.rbegin(); call != calls_.rend(); ++call) {
        if (call->name == name) {
            return call->carried;
        }
    }
    return {};
}

int RecordingView::Count(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    int count = 0;
    for (const Call& call : calls_) {
        count += call.name == name ? 1 : 0;
    }
    return count;
}

void RecordingView::Append(const std::string& text) {
    Record("Append", text, [&] { log_ += text; });
}

void RecordingView::ShowNetworkStatus(NetworkStatus status) {
    Record("ShowNetworkStatus", std::to_string(static_cast<int>(status)),
           [&] { network_ = status; });
}

void RecordingView::ShowLocalKeyer(LocalKeyerState state, uint8_t version) {
    Record("ShowLocalKeyer",
           std::to_string(static_cast<int>(state)) + " " + std::to_string(version),
           [&] { local_keyer_ = state; });
}

void RecordingView::InsertEcho(uint8_t character) {
    // As the echo line takes it: a NUL shows nothing.
    const std::string shown = character == 0 ? std::string() : std::string(1, character);
    Record("InsertEcho", shown, [&] { echoes_ += shown; });
}

void RecordingView::AppendTypedText(const std::string& text) {
    Record("AppendTypedText", text, [&] { typed_ += text; });
}

void RecordingView::TakeBackTypedCharacter() {
    Record("TakeBackTypedCharacter", {}, [&] {
        if (!typed_.empty()) {
            typed_.pop_back();
        }
    });
}

void RecordingView::ClearTypedText() {
    Record("ClearTypedText", {}, [&] { typed_.clear(); });
}

bool RecordingView::ConfirmReplaceUnreadConfig() {
    Record("ConfirmReplaceUnreadConfig");
    return false;
}

void RecordingView::ShowLinkHealth(const LinkHealth& health) {
    Record("ShowLinkHealth", std::to_string(static_cast<int>(health.kind)) + " " +
                                 std::to_string(health.round_trip_ms) + " " +
                                 health.address.Text());
}

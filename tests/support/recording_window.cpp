#include "tests/support/recording_window.h"

#include <algorithm>
#include <thread>

namespace {
int dummy_handle_target;
}

RecordingWindow::RecordingWindow() {
    InstallWindowBackend(this);
}

RecordingWindow::~RecordingWindow() {
    InstallWindowBackend(nullptr);
}

WindowHandle RecordingWindow::Handle() {
    return &dummy_handle_target;
}

void RecordingWindow::SetControlText(int id, const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    Control& control = controls_[id];
    control.text = text;
    control.selection_start = control.selection_end = 0;
    calls_.push_back({"text", id, text});
}

std::string RecordingWindow::GetControlText(int id) {
    return Text(id);
}

void RecordingWindow::SetSelection(int id, int start, int end) {
    std::lock_guard<std::mutex> lock(mutex_);
    Control& control = controls_[id];
    const std::size_t length = control.text.size();
    auto position = [length](int value) {
        return value == kTextEnd || value < 0 ? length
                                              : std::min(static_cast<std::size_t>(value), length);
    };
    std::size_t from = position(start);
    std::size_t to = position(end);
    if (from > to) {
        std::swap(from, to);
    }
    control.selection_start = from;
    control.selection_end = to;
    calls_.push_back({"select", id, std::to_string(from) + "," + std::to_string(to)});
}

void RecordingWindow::ReplaceSelection(int id, const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    Control& control = controls_[id];
    control.text.replace(control.selection_start, control.selection_end - control.selection_start,
                         text);
    control.selection_start += text.size();
    control.selection_end = control.selection_start;
    calls_.push_back({"replace", id, text});
}

void RecordingWindow::EnableControl(int id, bool enabled) {
    std::lock_guard<std::mutex> lock(mutex_);
    controls_[id].enabled = enabled;
    calls_.push_back({"enable", id, enabled ? "1" : "0"});
}

void RecordingWindow::FocusControl(int id) {
    std::lock_guard<std::mutex> lock(mutex_);
    focused_ = id;
    calls_.push_back({"focus", id, ""});
}

int RecordingWindow::ShowMessageBox(WindowHandle owner, const std::string& text,
                                    const std::string& caption, BoxIcon icon) {
    std::lock_guard<std::mutex> lock(mutex_);
    boxes_.push_back({owner, text, caption, icon});
    calls_.push_back({"box", 0, caption + ": " + text});
    return 1;
}

void RecordingWindow::CarryOutSentCalls() {
    // Calls run on the caller's own thread here, so there is nothing to carry out.
    std::this_thread::yield();
}

std::string RecordingWindow::Text(int id) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = controls_.find(id);
    return found == controls_.end() ? std::string() : found->second.text;
}

bool RecordingWindow::Enabled(int id) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = controls_.find(id);
    return found == controls_.end() || found->second.enabled;
}

int RecordingWindow::FocusedControl() {
    std::lock_guard<std::mutex> lock(mutex_);
    return focused_;
}

std::vector<RecordingWindow::Call> RecordingWindow::Calls() {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
}

std::vector<RecordingWindow::MessageBoxShown> RecordingWindow::MessageBoxes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return boxes_;
}

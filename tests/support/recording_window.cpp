#include "tests/support/recording_window.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace {
int dummy_handle_target;
}

WindowHandle RecordingWindow::Handle() {
    return {&dummy_handle_target};
}

void RecordingWindow::BindToThisThread() {
    window_thread_ = std::this_thread::get_id();
    bound_ = true;
}

void RecordingWindow::CheckThread() {
    if (bound_.load() && std::this_thread::get_id() != window_thread_.load()) {
        // On Windows such a call would have to wait for the window's thread, which may be
        // waiting for the caller: the hang the view's hand-over exists to prevent.
        std::fprintf(stderr, "a thread other than the window's called the window\n");
        std::abort();
    }
}

void RecordingWindow::WatchInsertions(std::function<void(int, const std::string&)> watch) {
    std::lock_guard<std::mutex> lock(mutex_);
    watch_ = std::move(watch);
}

void RecordingWindow::SetControlText(int id, const std::string& text) {
    CheckThread();
    std::lock_guard<std::mutex> lock(mutex_);
    Control& control = controls_[id];
    control.text = text;
    control.selection_start = control.selection_end = 0;
    calls_.push_back({"text", id, text});
}

std::string RecordingWindow::GetControlText(int id) {
    CheckThread();
    return Text(id);
}

int RecordingWindow::TextLength(int id) {
    CheckThread();
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = controls_.find(id);
    return found == controls_.end() ? 0 : static_cast<int>(found->second.text.size());
}

void RecordingWindow::SetSelection(int id, int start, int end) {
    CheckThread();
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
    CheckThread();
    std::lock_guard<std::mutex> lock(mutex_);
    Control& control = controls_[id];
    control.text.replace(control.selection_start, control.selection_end - control.selection_start,
                         text);
    control.selection_start += text.size();
    control.selection_end = control.selection_start;
    calls_.push_back({"replace", id, text});
    if (watch_) {
        watch_(id, text);
    }
}

void RecordingWindow::EnableControl(int id, bool enabled) {
    CheckThread();
    std::lock_guard<std::mutex> lock(mutex_);
    controls_[id].enabled = enabled;
    calls_.push_back({"enable", id, enabled ? "1" : "0"});
}

void RecordingWindow::FocusControl(int id) {
    CheckThread();
    std::lock_guard<std::mutex> lock(mutex_);
    focused_ = id;
    calls_.push_back({"focus", id, ""});
}

int RecordingWindow::ShowMessageBox(WindowHandle owner, const std::string& text,
                                    const std::string& caption, BoxIcon icon) {
    CheckThread();
    std::lock_guard<std::mutex> lock(mutex_);
    boxes_.push_back({owner, text, caption, icon});
    calls_.push_back({"box", 0, caption + ": " + text});
    return 1;
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

std::size_t RecordingWindow::CallCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_.size();
}

std::vector<RecordingWindow::Call> RecordingWindow::CallsFrom(std::size_t first) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (first >= calls_.size()) {
        return {};
    }
    return std::vector<Call>(calls_.begin() + static_cast<std::ptrdiff_t>(first), calls_.end());
}

std::vector<RecordingWindow::MessageBoxShown> RecordingWindow::MessageBoxes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return boxes_;
}

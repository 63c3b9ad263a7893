#include "tests/support/recording_window.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {
int dummy_handle_target;
}

RecordingWindow::RecordingWindow() {
    InstallWindowBackend(this);
}

RecordingWindow::~RecordingWindow() {
    InstallWindowBackend(nullptr);
    std::lock_guard<std::mutex> lock(sent_mutex_);
    if (!sent_.empty()) {
        // A thread is waiting inside a call to a window that is going: on Windows it would
        // touch a destroyed window, here it would wait for ever. Either is the fault.
        std::fprintf(stderr, "a window call was still waiting when the window went\n");
        std::abort();
    }
}

WindowHandle RecordingWindow::Handle() {
    return &dummy_handle_target;
}

void RecordingWindow::BindToThisThread() {
    std::lock_guard<std::mutex> lock(sent_mutex_);
    bound_ = true;
    window_thread_ = std::this_thread::get_id();
}

void RecordingWindow::OnWindowThread(const std::function<void()>& body) {
    std::unique_lock<std::mutex> lock(sent_mutex_);
    if (!bound_ || std::this_thread::get_id() == window_thread_) {
        lock.unlock();
        body();
        return;
    }
    SentCall call{&body, false};
    sent_.push_back(&call);
    sent_changed_.notify_all();
    sent_changed_.wait(lock, [&call] { return call.done; });
}

void RecordingWindow::SetControlText(int id, const std::string& text) {
    OnWindowThread([&] {
        std::lock_guard<std::mutex> lock(mutex_);
        Control& control = controls_[id];
        control.text = text;
        control.selection_start = control.selection_end = 0;
        calls_.push_back({"text", id, text});
    });
}

std::string RecordingWindow::GetControlText(int id) {
    std::string text;
    OnWindowThread([&] { text = Text(id); });
    return text;
}

int RecordingWindow::TextLength(int id) {
    int length = 0;
    OnWindowThread([&] {
        std::lock_guard<std::mutex> lock(mutex_);
        auto found = controls_.find(id);
        length = found == controls_.end() ? 0 : static_cast<int>(found->second.text.size());
    });
    return length;
}

void RecordingWindow::SetSelection(int id, int start, int end) {
    OnWindowThread([&] { Select(id, start, end); });
}

void RecordingWindow::Select(int id, int start, int end) {
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
    OnWindowThread([&] {
        std::lock_guard<std::mutex> lock(mutex_);
        Control& control = controls_[id];
        control.text.replace(control.selection_start,
                             control.selection_end - control.selection_start, text);
        control.selection_start += text.size();
        control.selection_end = control.selection_start;
        calls_.push_back({"replace", id, text});
    });
}

void RecordingWindow::EnableControl(int id, bool enabled) {
    OnWindowThread([&] {
        std::lock_guard<std::mutex> lock(mutex_);
        controls_[id].enabled = enabled;
        calls_.push_back({"enable", id, enabled ? "1" : "0"});
    });
}

void RecordingWindow::FocusControl(int id) {
    OnWindowThread([&] {
        std::lock_guard<std::mutex> lock(mutex_);
        focused_ = id;
        calls_.push_back({"focus", id, ""});
    });
}

int RecordingWindow::ShowMessageBox(WindowHandle owner, const std::string& text,
                                    const std::string& caption, BoxIcon icon) {
    std::lock_guard<std::mutex> lock(mutex_);
    boxes_.push_back({owner, text, caption, icon});
    calls_.push_back({"box", 0, caption + ": " + text});
    return 1;
}

void RecordingWindow::CarryOutSentCalls() {
    std::unique_lock<std::mutex> lock(sent_mutex_);
    if (!bound_) {
        // Calls run on the caller's own thread, so there is nothing to carry out.
        lock.unlock();
        std::this_thread::yield();
        return;
    }
    // As a window thread waiting for sent messages: up to a moment for the first.
    sent_changed_.wait_for(lock, std::chrono::milliseconds(2), [this] { return !sent_.empty(); });
    while (!sent_.empty()) {
        SentCall* call = sent_.front();
        sent_.pop_front();
        lock.unlock();
        (*call->body)();
        lock.lock();
        call->done = true;
        sent_changed_.notify_all();
    }
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

// The mailbox's wake-up: one signal wakes one wait, and signals given before the waiter
// wakes fold into one, as a Windows auto-reset event behaves.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

class AutoResetEvent {
  public:
    void Signal() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            signalled_ = true;
        }
        condition_.notify_one();
    }

    // Ends a wait without a time-out, without being a signal. Sticky like the signal, so a
    // nudge given just before the wait begins is not lost.
    void Nudge() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            nudged_ = true;
        }
        condition_.notify_one();
    }

    // True when signalled (and the signal is consumed), false on time-out.
    bool WaitFor(std::chrono::microseconds timeout) {
        std::unique_lock<std::mutex> lock(mutex_);
        nudged_ = false;
        if (!condition_.wait_for(lock, timeout, [this] { return signalled_; })) {
            return false;
        }
        signalled_ = false;
        return true;
    }

    // Waits for a signal or a nudge, however long. True when it was the signal.
    bool WaitForSignalOrNudge() {
        std::unique_lock<std::mutex> lock(mutex_);
        condition_.wait(lock, [this] { return signalled_ || nudged_; });
        nudged_ = false;
        if (!signalled_) {
            return false;
        }
        signalled_ = false;
        return true;
    }

  private:
    std::mutex mutex_;
    std::condition_variable condition_;
    bool signalled_ = false;
    bool nudged_ = false;
};

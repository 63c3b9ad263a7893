// The mailbox's wake-up: one signal wakes one wait, and signals given before the waiter
// wakes fold into one, as a Windows auto-reset event behaves.
//
// A nudge also ends a wait, without being a signal. The waiter keeps the order of the two:
// a nudge given while no signal waits is returned first and leaves a later signal for the
// next wait, while a nudge given after a signal folds into it. The writer relies on that to
// send a byte queued before a request ahead of the request.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

class AutoResetEvent {
  public:
    enum class Wake { kTimeOut, kNudge, kSignal };

    void Signal() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            signalled_ = true;
        }
        condition_.notify_one();
    }

    // Sticky like the signal, so a nudge given just before the wait begins is not lost.
    void Nudge() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (signalled_) {
                return;  // the waiter looks at what it was nudged for after the signal anyway
            }
            nudged_ = true;
        }
        condition_.notify_one();
    }

    // Forgets a signal or nudge given before.
    void Reset() {
        std::lock_guard<std::mutex> lock(mutex_);
        signalled_ = false;
        nudged_ = false;
    }

    // Consumes and returns the nudge or signal that came first, waiting at most `timeout`.
    Wake WaitFor(std::chrono::microseconds timeout) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!condition_.wait_for(lock, timeout, [this] { return signalled_ || nudged_; })) {
            return Wake::kTimeOut;
        }
        return TakeLocked();
    }

    // The same, however long.
    Wake Wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        condition_.wait(lock, [this] { return signalled_ || nudged_; });
        return TakeLocked();
    }

  private:
    Wake TakeLocked() {
        if (nudged_) {
            nudged_ = false;
            return Wake::kNudge;
        }
        signalled_ = false;
        return Wake::kSignal;
    }

    std::mutex mutex_;
    std::condition_variable condition_;
    bool signalled_ = false;
    bool nudged_ = false;
};

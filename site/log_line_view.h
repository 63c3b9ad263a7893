// The station's view at a site without a window: what the Main window would show, in the
// window's own words, as lines on an output stream (standard output, which systemd keeps in
// the journal), each beginning with its local time.
//
// What becomes a line. Every Connect log line; a change of the network status, of either
// keyer's status line (the other keyer's is told afresh on each new link), of the link
// field's kind, of the speed, Tune or Pause; and every
// problem the window would put in a box. What flips many times a second (busy, wait, the
// paddles, the heartbeat mark, echoes) is left out: a journal is read after the fact, and the
// safety events it needs are Connect log lines already.
//
// Connect log texts come in pieces: "\r\n" begins a line, and a text without it continues
// the line before ("bind()..." then "listen()"). A line is printed once the next line begins,
// once any other line is to be printed (so the order stays the order of the events), or once
// it has waited kLineSettle for its continuation; a continuation that comes later still is
// printed as a line of its own.
//
// Threads. Any thread may call, as the station's view allows. A call only queues its line
// under a mutex; one printer thread of the view's own does the writing, so a keyer reader or
// message sender never waits for a slow journal. The destructor prints what still waits and
// stops the printer, once the station has stopped calling.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "station/station_view.h"

class LogLineView final : public StationView, public ConnectLog {
  public:
    static constexpr std::chrono::milliseconds kLineSettle{200};

    explicit LogLineView(std::FILE* out);
    ~LogLineView() override;
    LogLineView(const LogLineView&) = delete;
    LogLineView& operator=(const LogLineView&) = delete;

    // A line of the site's own (start, end, a failure before the station runs).
    void Line(const std::string& text);

    void Append(const std::string& text) override;

    void ShowNetworkStatus(NetworkStatus status) override;
    void ShowLocalKeyer(LocalKeyerState state, uint8_t version) override;
    void ShowRemoteKeyerClosed() override;
    void ShowRemoteKeyerVersion(uint8_t version) override;
    void ShowSpeed(int wpm) override;
    void ShowTune(bool keyed) override;
    void ShowPause(bool held) override;
    void ReportProblem(Problem problem) override;
    void ShowLinkHealth(const LinkHealth& health) override;
    // A line of its own: the device, the system's reason, and what to look at.
    void ShowKeyerPortFailure(const PortFailure& failure) override;
    // Nobody is there to ask: the operator's file is kept, as the window's No keeps it.
    bool ConfirmReplaceUnreadConfig() override { return false; }

    void ShowBusy(bool) override {}
    void ShowWait(WaitState) override {}
    void AllowSpeedEntry(bool) override {}
    void BlinkHeartbeat(bool) override {}
    void ShowPaddles(bool, bool) override {}
    void OfferOpen() override {}
    void OfferClose() override {}
    void ShowKeyerButtonPressed(int) override {}
    void InsertEcho(uint8_t) override {}
    void AppendTypedText(const std::string&) override {}
    void TakeBackTypedCharacter() override {}
    void ClearTypedText() override {}
    void FocusTyping() override {}
    void HoldInput(bool) override {}
    void RefuseTypedCharacter() override {}

  private:
    using Clock = std::chrono::system_clock;
    struct Stamped {
        Clock::time_point when;
        std::string text;
    };

    // Under the lock: a status line, printed only when `text` differs from what `*shown`
    // last printed.
    void StatusLocked(std::string* shown, const std::string& text);
    void QueueLocked(std::string text);
    void EndOpenLineLocked();
    void RunPrinter();

    std::FILE* const out_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Stamped> queued_;
    // The Connect log line still open for its continuation.
    std::string open_line_;
    Clock::time_point open_since_;
    std::chrono::steady_clock::time_point open_settles_at_;
    // What each status line last printed.
    std::string network_;
    std::string local_keyer_;
    std::string remote_keyer_;
    std::string speed_;
    std::string tune_;
    std::string pause_;
    std::string link_;
    LinkHealth::Kind link_kind_ = LinkHealth::Kind::kNone;
    bool stopping_ = false;
    std::thread printer_;
};

#include "site/log_line_view.h"

#include <ctime>
#include <utility>

#include "forms/status_texts.h"
#include "station/local_time.h"

namespace {

constexpr char kLineBreak[] = "\r\n";

// "2026-12-09 01:02:03.456 ", or the bare milliseconds when the clock cannot be read as
// local time.
std::string TimeStamp(std::chrono::system_clock::time_point when) {
    const auto since_epoch = when.time_since_epoch();
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(since_epoch).count() % 1000;
    std::tm local{};
    char stamp[48] = "";
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    if (LocalTimeOf(seconds, &local)) {
        char date[32];
        std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", &local);
        std::snprintf(stamp, sizeof stamp, "%s.%03d ", date, static_cast<int>(millis));
    }
    return stamp;
}

// What to look at for each kind of failure, where there is something to say.
const char* PortFailureHint(PortFailure::Kind kind) {
    switch (kind) {
        case PortFailure::Kind::kMissing:
            return "; is the keyer plugged in, and is this its device?";
        case PortFailure::Kind::kNoPermission:
            return "; is the service's user in the dialout group?";
        case PortFailure::Kind::kInUse:
            return "; is another program using it?";
        case PortFailure::Kind::kNone:
        case PortFailure::Kind::kOther:
            break;
    }
    return "";
}

}  // namespace

LogLineView::LogLineView(std::FILE* out) : out_(out), printer_([this] { RunPrinter(); }) {}

LogLineView::~LogLineView() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        EndOpenLineLocked();
        stopping_ = true;
    }
    wake_.notify_one();
    printer_.join();
}

void LogLineView::Line(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    QueueLocked(text);
}

void LogLineView::Append(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t next = text.find(kLineBreak, at);
        const std::size_t end = next == std::string::npos ? text.size() : next;
        if (end > at) {
            if (open_line_.empty()) {
                open_since_ = Clock::now();
            }
            open_line_.append(text, at, end - at);
            open_settles_at_ = std::chrono::steady_clock::now() + kLineSettle;
        }
        if (next == std::string::npos) {
            break;
        }
        EndOpenLineLocked();
        at = next + sizeof kLineBreak - 1;
    }
    wake_.notify_one();
}

void LogLineView::ShowNetworkStatus(NetworkStatus status) {
    std::lock_guard<std::mutex> lock(mutex_);
    StatusLocked(&network_, std::string("Network: ") + NetworkStatusText(status));
    // Whom a new link reaches is news even when its keyer is the one the last link had.
    if (status == NetworkStatus::kLinkedToClient || status == NetworkStatus::kLinkedToServer) {
        remote_keyer_.clear();
    }
}

void LogLineView::ShowLocalKeyer(LocalKeyerState state, uint8_t version) {
    std::lock_guard<std::mutex> lock(mutex_);
    StatusLocked(&local_keyer_, "Local keyer: " + LocalKeyerText(state, version));
}

void LogLineView::ShowRemoteKeyerClosed() {
    std::lock_guard<std::mutex> lock(mutex_);
    StatusLocked(&remote_keyer_, std::string("Remote keyer: ") + RemoteKeyerClosedText());
}

void LogLineView::ShowRemoteKeyerVersion(uint8_t version) {
    std::lock_guard<std::mutex> lock(mutex_);
    StatusLocked(&remote_keyer_, "Remote keyer: " + RemoteKeyerText(version));
}

void LogLineView::ShowSpeed(int wpm) {
    std::lock_guard<std::mutex> lock(mutex_);
    StatusLocked(&speed_, "Speed: " + std::to_string(wpm) + " WPM");
}

void LogLineView::ShowTune(bool keyed) {
    std::lock_guard<std::mutex> lock(mutex_);
    StatusLocked(&tune_, keyed ? "Tune: on" : "Tune: off");
}

void LogLineView::ShowPause(bool held) {
    std::lock_guard<std::mutex> lock(mutex_);
    StatusLocked(&pause_, held ? "Pause: on" : "Pause: off");
}

void LogLineView::ReportProblem(Problem problem) {
    std::lock_guard<std::mutex> lock(mutex_);
    QueueLocked(std::string(kProblemCaption) + ": " + ProblemText(problem));
}

void LogLineView::ShowKeyerPortFailure(const PortFailure& failure) {
    if (failure.kind == PortFailure::Kind::kNone) {
        return;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    QueueLocked("cannot open " + failure.device + ": " + failure.reason +
                PortFailureHint(failure.kind));
}

void LogLineView::ShowLinkHealth(const LinkHealth& health) {
    std::lock_guard<std::mutex> lock(mutex_);
    // The round trip changes with every answer; the journal needs only the field's changes
    // of kind (linked to whom, answering or silent).
    if (health.kind == link_kind_ && health.kind == LinkHealth::Kind::kRoundTrip) {
        return;
    }
    link_kind_ = health.kind;
    if (health.kind == LinkHealth::Kind::kNone) {
        link_.clear();
        return;
    }
    StatusLocked(&link_, "Link: " + LinkHealthText(health));
}

void LogLineView::StatusLocked(std::string* shown, const std::string& text) {
    if (*shown == text) {
        return;
    }
    *shown = text;
    QueueLocked(text);
}

void LogLineView::QueueLocked(std::string text) {
    EndOpenLineLocked();
    queued_.push_back({Clock::now(), std::move(text)});
    wake_.notify_one();
}

void LogLineView::EndOpenLineLocked() {
    if (open_line_.empty()) {
        return;
    }
    queued_.push_back({open_since_, std::move(open_line_)});
    open_line_.clear();
}

void LogLineView::RunPrinter() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (queued_.empty() && !stopping_) {
            if (open_line_.empty()) {
                wake_.wait(lock);
            } else if (wake_.wait_until(lock, open_settles_at_) == std::cv_status::timeout &&
                       !open_line_.empty() &&
                       std::chrono::steady_clock::now() >= open_settles_at_) {
                EndOpenLineLocked();
            }
        }
        std::deque<Stamped> lines;
        lines.swap(queued_);
        const bool last = stopping_;
        if (!lines.empty()) {
            lock.unlock();
            for (const Stamped& line : lines) {
                std::fprintf(out_, "%s%s\n", TimeStamp(line.when).c_str(), line.text.c_str());
            }
            std::fflush(out_);
            lock.lock();
        }
        if (last && queued_.empty()) {
            return;
        }
    }
}

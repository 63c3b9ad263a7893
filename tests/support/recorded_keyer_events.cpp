#include "tests/support/recorded_keyer_events.h"

#include <condition_variable>
#include <mutex>

#include "keyer/keyer_dispatch.h"

namespace {

std::mutex events_mutex;
std::condition_variable events_changed;
std::vector<KeyerEvent> events;

}  // namespace

void DispatchKeyerEvent(int type, uint8_t value) {
    std::lock_guard<std::mutex> lock(events_mutex);
    events.push_back({type, value});
    events_changed.notify_all();
}

std::vector<KeyerEvent> RecordedKeyerEvents() {
    std::lock_guard<std::mutex> lock(events_mutex);
    return events;
}

std::vector<KeyerEvent> WaitForKeyerEvents(std::size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(events_mutex);
    events_changed.wait_for(lock, timeout, [count] { return events.size() >= count; });
    return events;
}

void ForgetKeyerEvents() {
    std::lock_guard<std::mutex> lock(events_mutex);
    events.clear();
}

#include "tools/keyer_recorder/recorded_keyer_events.h"

#include <condition_variable>
#include <mutex>

namespace {

class Recorder final : public KeyerListener {
  public:
    void OnKeyerStatus(uint8_t status) override { Record(kStatusEvent, status); }
    void OnSpeedPot(uint8_t wpm) override { Record(kSpeedPotEvent, wpm); }
    void OnKeyerEcho(uint8_t character) override { Record(kEchoEvent, character); }
    void OnPaddles(uint8_t paddles) override { Record(kPaddleEvent, paddles); }
    void OnKeyerLost() override { Record(kLostEvent, 0); }

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<KeyerEvent> events;

  private:
    void Record(int type, uint8_t value) {
        std::lock_guard<std::mutex> lock(mutex);
        events.push_back({type, value});
        changed.notify_all();
    }
};

Recorder& TheRecorder() {
    static Recorder recorder;
    return recorder;
}

}  // namespace

KeyerListener* RecordingKeyerListener() {
    return &TheRecorder();
}

std::vector<KeyerEvent> RecordedKeyerEvents() {
    Recorder& recorder = TheRecorder();
    std::lock_guard<std::mutex> lock(recorder.mutex);
    return recorder.events;
}

std::vector<KeyerEvent> WaitForKeyerEvents(std::size_t count, std::chrono::milliseconds timeout) {
    Recorder& recorder = TheRecorder();
    std::unique_lock<std::mutex> lock(recorder.mutex);
    recorder.changed.wait_for(lock, timeout,
                              [&recorder, count] { return recorder.events.size() >= count; });
    return recorder.events;
}

void ForgetKeyerEvents() {
    Recorder& recorder = TheRecorder();
    std::lock_guard<std::mutex> lock(recorder.mutex);
    recorder.events.clear();
}

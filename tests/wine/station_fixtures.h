// What the Wine cases of a real station share: configuration images, waits on window texts
// and on the emulated keyer's wire, and a fixture of one station with its keyer attached.
// The cases run through with_keyer_sims.sh, which starts the emulators and tells the test
// their COM and control ports in the environment.
#pragma once

#include <winsock2.h>

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "tests/wine/keyer_sim_control.h"
#include "tests/wine/station.h"
#include "tests/wine/ui_driver.h"

using Bytes = std::vector<uint8_t>;

// The default image with the keyer on `com_port`, the given network flags, the address
// 127.0.0.1 and `ip_port`, the speed `wpm`, and no opening at start.
Bytes StationImage(uint32_t com_port, uint32_t net_flags, uint16_t ip_port, uint8_t wpm);
// Stores `text` as stored message `number` (1..6) of the image.
void PutMessage(Bytes* image, int number, const std::string& text);
// A port nobody holds right now: the system picks it for a bind to port 0.
uint16_t FreeLoopbackPort();

bool EndsWith(const std::string& text, const std::string& tail);
bool EndsWith(const Bytes& bytes, const Bytes& tail);
size_t CountOf(const std::string& text, const std::string& part);
std::string Hex(const Bytes& bytes);
// Polls a control until its text ends with `tail`; the last text either way.
std::string WaitForTextEnding(HWND window, int id, const std::string& tail, int timeout_ms);
// Polls a control until its text differs from `from`; the last text either way.
std::string WaitForTextChange(HWND window, int id, const std::string& from, int timeout_ms);

// One emulator's control channel, with the waits the cases need.
class KeyerControl : public KeyerSimControl {
  public:
    // The wire as soon as it ends with `tail`, or as it is after the time-out.
    Bytes ReceivedEndingWith(const Bytes& tail, int timeout_ms);
    // The wire as soon as it holds `part` anywhere, or as it is after the time-out.
    Bytes ReceivedContaining(const Bytes& part, int timeout_ms);
    // One `name=value` field of the emulator's state line, or "" when it is missing.
    std::string StateField(const std::string& name);
    // Polls the field until it reads `value`; the last reading either way.
    std::string WaitForStateField(const std::string& name, const std::string& value,
                                  int timeout_ms);
};

// An emulated keyer pouring out bytes far faster than a real one: `line` (an "inject ..."
// control line) again and again, every 2 ms, for as long as `pouring` is set; on a control
// connection of its own.
class KeyerFlood {
  public:
    KeyerFlood(int control_port, const std::string& line);
    ~KeyerFlood();
    KeyerFlood(const KeyerFlood&) = delete;
    KeyerFlood& operator=(const KeyerFlood&) = delete;
    bool connected() const { return connected_; }

    std::atomic<bool> pouring{false};

  private:
    KeyerControl control_;
    bool connected_ = false;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// How long the window takes to answer a message sent to it, in milliseconds; the time-out
// when it does not answer within it.
int AnswerTimeMs(HWND window, int timeout_ms);

struct Emulator {
    int com_port = 0;
    int control_port = 0;
};
// Emulator `index` as with_keyer_sims.sh announced it; false when it did not.
bool EmulatorFromEnvironment(int index, Emulator* emulator);

// Starts Winsock for the control channels, and holds a job that kills every station
// started in it when the test ends, even a test program that is itself killed.
class StationTestBase : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    // Starts the station and puts it in the job; false when either fails. Without
    // `wait_for_window` it does not wait for the Main window (a box the station shows first
    // comes before it): Station::WaitForWindow does that later.
    bool StartInJob(Station* station, bool wait_for_window = true);

  private:
    bool winsock_started_ = false;
    HANDLE job_ = nullptr;
};

// One station, Network Off, with emulator 0 as its keyer, opened with Open/Close so that
// the keyer is attached in host mode ("Local Tarvel V23 OnLine"). A case may change the
// image in `Image()` before the fixture starts the station.
class KeyedStationTest : public StationTestBase {
  protected:
    static constexpr int kWaitMs = 15000;
    static constexpr uint8_t kWpm = 20;

    void SetUp() override;
    void TearDown() override;
    virtual void AdjustImage(Bytes* /*image*/) {}

    HWND window() const { return station_->window(); }
    // The wire after the attach and the settings load, so a case sees only its own bytes.
    void ForgetWireSoFar() { wire_mark_ = keyer_.Received().size(); }
    // What reached the keyer's wire since ForgetWireSoFar, once it holds `part`.
    Bytes WireSinceMarkContaining(const Bytes& part, int timeout_ms = kWaitMs);

    KeyerControl keyer_;
    Emulator emulator_;
    std::unique_ptr<Station> station_;

  private:
    size_t wire_mark_ = 0;
};

// Saves a screenshot of `window` as build/windows/screenshots/<name>.bmp and prints where.
bool SaveNamedScreenshot(HWND window, const std::string& name);
// The same for the smallest rectangle that holds all the windows; the last one is active.
bool SaveNamedScreenshot(const std::vector<HWND>& windows, const std::string& name);

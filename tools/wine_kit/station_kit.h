// What the programs that drive real stations with emulated keyers share (the Wine tests, the
// demo, the benchmark, the soak): configuration images, waits on window texts, the emulators
// as with_keyer_sims.sh announced them, a keyer flood, a job that outlives nobody, and
// screenshots.
#pragma once

#include <winsock2.h>

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "tools/wine_kit/keyer_sim_control.h"
#include "tools/wine_kit/pellmar_process.h"
#include "tools/wine_kit/ui_driver.h"

using Bytes = std::vector<uint8_t>;

// The default image with the keyer on `com_port`, the given network flags, the address
// 127.0.0.1 and `ip_port`, the speed `wpm`, and no opening at start.
Bytes StationImage(uint32_t com_port, uint32_t net_flags, uint16_t ip_port, uint8_t wpm);
// Stores `text` as stored message `number` (1..6) of the image.
void PutMessage(Bytes* image, int number, const std::string& text);
// A port nobody holds right now: the system picks it for a bind to port 0.
uint16_t FreeLoopbackPort();
// A plain client of the station on loopback `port`, as a program that is not Pellmar would
// connect, whose reads give up after `receive_timeout_ms`; INVALID_SOCKET when the connect
// failed. `from`, when given, is the loopback address it comes from ("127.0.0.2", say). The
// caller closes it.
SOCKET ConnectToLoopback(uint16_t port, DWORD receive_timeout_ms, const char* from = nullptr);

bool EndsWith(const std::string& text, const std::string& tail);
bool EndsWith(const Bytes& bytes, const Bytes& tail);
size_t CountOf(const std::string& text, const std::string& part);
std::string Hex(const Bytes& bytes);
// Polls a control until its text ends with `tail`; the last text either way.
std::string WaitForTextEnding(HWND window, int id, const std::string& tail, int timeout_ms);
// Polls a control until its text differs from `from`; the last text either way.
std::string WaitForTextChange(HWND window, int id, const std::string& from, int timeout_ms);

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
    KeyerSimControl control_;
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
    std::string device;  // its pty, a Unix path, for a Linux program such as the native site
};
// Emulator `index` as with_keyer_sims.sh announced it; false when it did not.
bool EmulatorFromEnvironment(int index, Emulator* emulator);

// Every process added to it ends when the job's handle is closed, even when the program
// that holds it is killed.
class Job {
  public:
    Job();
    ~Job();
    Job(const Job&) = delete;
    Job& operator=(const Job&) = delete;
    bool created() const { return job_ != nullptr; }
    // False when the process could not be put in the job.
    bool Add(DWORD process_id);

  private:
    HANDLE job_ = nullptr;
};

// Saves a screenshot of `window` as screenshots/<name>.bmp beside the running program and
// prints where.
bool SaveNamedScreenshot(HWND window, const std::string& name);
// The same for the smallest rectangle that holds all the windows; the last one is active.
// `captions` as ui::SaveScreenshot takes them.
bool SaveNamedScreenshot(const std::vector<HWND>& windows, const std::string& name,
                         const std::vector<std::string>& captions = {});

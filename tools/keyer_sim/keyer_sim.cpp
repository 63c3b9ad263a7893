// The emulated keyer: one thread reads what the host writes to the pty, parses it into
// commands by their argument counts, and plays the keyer's buffer out with Morse timing.
// Everything it knows sits behind one mutex, so a test's control line sees a consistent
// keyer whichever thread it comes from.
#include "tools/keyer_sim/keyer_sim.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

#include "keyer/keyer_wire.h"
#include "settings/settings_record.h"

namespace keyer_sim {

namespace {

using Clock = std::chrono::steady_clock;

namespace wire = keyer_wire;
using wire::ArgumentCount;
using wire::IsBufferedCommand;
using wire::KeyerSetting;

const char* MorsePattern(char c) {
    static const std::map<char, const char*> kPatterns = {
        {'A', ".-"},     {'B', "-..."},   {'C', "-.-."},   {'D', "-.."},    {'E', "."},
        {'F', "..-."},   {'G', "--."},    {'H', "...."},   {'I', ".."},     {'J', ".---"},
        {'K', "-.-"},    {'L', ".-.."},   {'M', "--"},     {'N', "-."},     {'O', "---"},
        {'P', ".--."},   {'Q', "--.-"},   {'R', ".-."},    {'S', "..."},    {'T', "-"},
        {'U', "..-"},    {'V', "...-"},   {'W', ".--"},    {'X', "-..-"},   {'Y', "-.--"},
        {'Z', "--.."},   {'0', "-----"},  {'1', ".----"},  {'2', "..---"},  {'3', "...--"},
        {'4', "....-"},  {'5', "....."},  {'6', "-...."},  {'7', "--..."},  {'8', "---.."},
        {'9', "----."},  {'.', ".-.-.-"}, {',', "--..--"}, {'?', "..--.."}, {'/', "-..-."},
        {'=', "-...-"},  {'+', ".-.-."},  {'-', "-....-"}, {'(', "-.--."},  {')', "-.--.-"},
        {'"', ".-..-."}, {':', "---..."}, {';', "-.-.-."}, {'@', ".--.-."}, {'\'', ".----."},
    };
    const auto found =
        kPatterns.find(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    return found == kPatterns.end() ? nullptr : found->second;
}

// Length in dit units, the character gap that follows included.
int MorseUnits(char c) {
    if (c == ' ') {
        return 4;  // with the 3 after the last character: the 7 of a word gap
    }
    const char* pattern = MorsePattern(c);
    if (pattern == nullptr) {
        return 3;
    }
    int units = 0;
    for (const char* p = pattern; *p != '\0'; ++p) {
        units += (*p == '-') ? 3 : 1;
        units += 1;
    }
    return units + 2;
}

std::string Hex(uint8_t byte) {
    char text[3];
    std::snprintf(text, sizeof text, "%02X", byte);
    return text;
}

bool ParseHexByte(const std::string& text, uint8_t* byte) {
    if (text.empty() || text.size() > 2) {
        return false;
    }
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 16);
    if (*end != '\0' || value < 0 || value > 0xFF) {
        return false;
    }
    *byte = static_cast<uint8_t>(value);
    return true;
}

bool ParseInt(const std::string& text, int* value) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    const long parsed = std::strtol(text.c_str(), &end, 10);
    if (*end != '\0' || parsed < -100000 || parsed > 100000) {
        return false;
    }
    *value = static_cast<int>(parsed);
    return true;
}

// Mode register 0 (no echo), 20 WPM, pot range 10 to 35, the rest as a keyer leaves its
// factory.
constexpr uint8_t kPowerOnSettings[sizeof(KeyerSettings)] = {0, 20, 0, 50, 0,  0, 10, 25,
                                                             0, 0,  0, 50, 50, 0, 0};

// One thing in the keyer's buffer: a text character or a buffered command with its
// arguments.
struct Item {
    std::vector<uint8_t> bytes;
};

// A paddle report the operator's hand (`fist`) will make, and when.
struct PaddleChange {
    Clock::time_point when;
    uint8_t bits;
};

std::string TimedBytesReply(const std::vector<LoggedByte>& bytes, Clock::time_point since) {
    std::string reply = "ok " + std::to_string(bytes.size());
    for (const LoggedByte& entry : bytes) {
        const auto us = std::chrono::duration_cast<std::chrono::microseconds>(entry.when - since);
        reply += " " + std::to_string(us.count()) + ":" + Hex(entry.byte);
    }
    return reply;
}

}  // namespace

struct KeyerSim::Impl {
    Options options;

    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    std::thread thread;
    bool running = false;
    bool stopping = false;
    bool unplug_requested = false;
    int wake_pipe[2] = {-1, -1};
    int master = -1;
    // Held open for the emulator's life, so a host closing and reopening its end does not
    // hang the pty up between its sessions.
    int slave_keep = -1;
    std::string slave_path;

    // What the test made of the keyer.
    int version = 23;
    bool silent = false;
    bool no_version = false;
    int echo_answer = -1;
    bool unplugged = false;
    // The host's bytes wait in its own port, which the keyer no longer takes from.
    bool stalled = false;

    // The keyer's own state.
    bool host = false;
    bool extended = false;
    uint8_t settings[sizeof(KeyerSettings)] = {};
    int buffered_wpm = 0;  // 1C in the buffer; 0 when cancelled
    int pot_wpm = 20;
    bool key_down = false;
    bool paused = false;
    uint8_t paddle_input = 0;
    std::deque<Item> buffer;
    int buffered_bytes = 0;
    bool keying = false;
    bool keying_paddle = false;
    bool waiting = false;
    std::string current_text;
    Clock::time_point current_end;
    std::deque<char> paddle_text;
    std::deque<PaddleChange> fist;
    bool hold = false;
    bool break_in = false;
    uint8_t status_sent = 0;

    std::vector<uint8_t> pending;
    size_t pending_needed = 0;

    Clock::time_point reset_time = Clock::now();
    std::vector<LoggedByte> log;
    std::vector<LoggedByte> sent;
    std::string keyed;

    uint8_t& Setting(KeyerSetting setting) { return settings[static_cast<uint8_t>(setting)]; }
    uint8_t Setting(KeyerSetting setting) const { return settings[static_cast<uint8_t>(setting)]; }

    // --- output, with the lock held ---
    void SendLocked(uint8_t byte) {
        if (master < 0 || silent) {
            return;
        }
        // The host may not read for a while; a keyer would overrun, so drop rather than
        // stall the emulator.
        if (write(master, &byte, 1) == 1) {
            sent.push_back({Clock::now(), byte});
        }
    }

    int EffectiveWpm() const {
        int wpm = buffered_wpm != 0 ? buffered_wpm : Setting(KeyerSetting::kWpm);
        if (wpm == 0) {
            wpm = pot_wpm;
        }
        return std::max(wpm, 5);
    }

    Clock::duration UnitsToDuration(int units) const {
        const double dit_us = 1200000.0 / EffectiveWpm() / std::max(options.speedup, 0.001);
        return std::chrono::microseconds(static_cast<int64_t>(dit_us * units));
    }

    uint8_t PotByte() const {
        // Any higher and the byte would read as status.
        constexpr int kHighestOffset = wire::kStatusReply - wire::kSpeedPotReply - 1;
        const int offset = std::clamp(pot_wpm - Setting(KeyerSetting::kMinWpm), 0, kHighestOffset);
        return static_cast<uint8_t>(wire::kSpeedPotReply | offset);
    }

    uint8_t StatusBits() const {
        const bool busy = keying || !paddle_text.empty() || (!paused && !buffer.empty());
        return static_cast<uint8_t>(
            (hold ? wire::kStatusHold : 0) | (break_in ? wire::kStatusBreakIn : 0) |
            (busy ? wire::kStatusBusy : 0) | (waiting ? wire::kStatusWait : 0));
    }

    uint8_t StatusByte(uint8_t bits) const {
        return static_cast<uint8_t>(wire::kStatusReply | bits);
    }

    void UpdateStatusLocked() {
        if (buffered_bytes > options.high_water) {
            hold = true;
        } else if (buffered_bytes <= options.low_water) {
            hold = false;
        }
        const uint8_t bits = StatusBits();
        if (host && bits != status_sent) {
            status_sent = bits;
            SendLocked(StatusByte(bits));
        }
    }

    void ClearBufferLocked() {
        buffer.clear();
        buffered_bytes = 0;
        if (keying && !keying_paddle) {
            keying = false;
            waiting = false;
        }
    }

    void EnterHostModeLocked() {
        host = true;
        extended = false;
        key_down = false;
        paused = false;
        paddle_input = 0;
        buffered_wpm = 0;
        ClearBufferLocked();
        paddle_text.clear();
        keying = false;
        break_in = false;
        status_sent = 0;
    }

    void AdminLocked(uint8_t sub, uint8_t argument) {
        switch (sub) {
            case wire::kAdminHostOpen:
                if (!host) {
                    EnterHostModeLocked();
                    if (!no_version) {
                        SendLocked(static_cast<uint8_t>(version));
                    }
                }
                break;
            case wire::kAdminHostClose:
                host = false;
                ClearBufferLocked();
                paddle_text.clear();
                break;
            case wire::kAdminEchoTest:
                SendLocked(echo_answer >= 0 ? static_cast<uint8_t>(echo_answer) : argument);
                break;
            case wire::kAdminBaseMode:
                extended = false;
                break;
            case wire::kAdminExtendedMode:
                extended = true;
                break;
            default:
                break;
        }
    }

    void CommandLocked(const std::vector<uint8_t>& c) {
        const uint8_t command = c[0];
        for (const wire::SettingCommand& row : wire::kSettingCommands) {
            if (row.command == command) {
                Setting(row.first) = c[1];
                if (wire::CarriesTwoSettings(row)) {
                    Setting(row.second) = c[2];
                }
                return;
            }
        }
        switch (command) {
            case wire::kSetPause:
                paused = c[1] != 0;
                break;
            case wire::kRequestSpeedPot:
                SendLocked(PotByte());
                break;
            case wire::kBackspace:
                if (!buffer.empty()) {
                    buffered_bytes -= static_cast<int>(buffer.back().bytes.size());
                    buffer.pop_back();
                }
                break;
            case wire::kClearBuffer:
                ClearBufferLocked();
                break;
            case wire::kSetKeyDown:
                key_down = c[1] != 0;
                break;
            case wire::kLoadSettings:
                std::memcpy(settings, c.data() + 1, sizeof settings);
                break;
            case wire::kSetPaddleInput:
                paddle_input = c[1];
                break;
            default:
                break;
        }
    }

    void BufferLocked(Item item) {
        const int size = static_cast<int>(item.bytes.size());
        if (buffered_bytes + size > options.buffer_capacity) {
            return;  // overrun: a real keyer loses it too
        }
        buffered_bytes += size;
        buffer.push_back(std::move(item));
    }

    void ReceiveLocked(uint8_t byte) {
        log.push_back({Clock::now(), byte});
        changed.notify_all();
        if (!pending.empty()) {
            pending.push_back(byte);
            if (pending[0] == wire::kAdminPrefix && pending.size() == 2 &&
                byte == wire::kAdminEchoTest) {
                pending_needed = 3;
            }
            if (pending.size() < pending_needed) {
                return;
            }
            std::vector<uint8_t> whole;
            whole.swap(pending);
            if (whole[0] == wire::kAdminPrefix) {
                AdminLocked(whole[1], whole.size() > 2 ? whole[2] : 0);
            } else if (IsBufferedCommand(whole[0])) {
                BufferLocked({whole});
            } else {
                CommandLocked(whole);
            }
            return;
        }
        if (byte == wire::kAdminPrefix) {
            pending = {byte};
            pending_needed = 2;
            return;
        }
        if (!host) {
            return;  // out of host mode only the admin commands mean anything
        }
        if (byte >= wire::kFirstTextByte) {
            BufferLocked({{byte}});
            return;
        }
        const int arguments = ArgumentCount(byte);
        if (arguments > 0) {
            pending = {byte};
            pending_needed = static_cast<size_t>(arguments) + 1;
            return;
        }
        if (IsBufferedCommand(byte)) {
            BufferLocked({{byte}});
        } else {
            CommandLocked({byte});
        }
    }

    void FinishCurrentLocked() {
        keying = false;
        if (waiting) {
            waiting = false;
            return;
        }
        for (char c : current_text) {
            if (std::isprint(static_cast<unsigned char>(c))) {
                keyed.push_back(c);
            }
            const uint8_t mode = Setting(KeyerSetting::kModeRegister);
            const bool echo = (mode & (keying_paddle ? kModePaddleEcho : kModeSerialEcho)) != 0;
            if (echo) {
                SendLocked(static_cast<uint8_t>(c));
            }
        }
        if (keying_paddle && paddle_text.empty()) {
            break_in = false;
        }
        changed.notify_all();
    }

    void StartKeyingLocked(const std::string& text, bool from_paddle, Clock::time_point now) {
        int units = 0;
        for (char c : text) {
            units += MorseUnits(c);
        }
        current_text = text;
        keying = true;
        keying_paddle = from_paddle;
        current_end = now + UnitsToDuration(units);
    }

    // Plays the buffer forward to `now`: ends what has been keyed and starts the next item.
    void AdvanceLocked(Clock::time_point now) {
        for (;;) {
            if (keying) {
                if (now < current_end) {
                    return;
                }
                FinishCurrentLocked();
            }
            if (!paddle_text.empty()) {
                const char c = paddle_text.front();
                paddle_text.pop_front();
                StartKeyingLocked(std::string(1, c), true, now);
                continue;
            }
            if (!host || paused || buffer.empty()) {
                return;
            }
            Item item = std::move(buffer.front());
            buffer.pop_front();
            buffered_bytes -= static_cast<int>(item.bytes.size());
            const uint8_t first = item.bytes[0];
            if (!IsBufferedCommand(first)) {
                StartKeyingLocked(std::string(1, static_cast<char>(first)), false, now);
                continue;
            }
            switch (first) {
                case wire::kBufferedWait:
                    current_text.clear();
                    keying = true;
                    keying_paddle = false;
                    waiting = true;
                    current_end = now + UnitsToDuration(item.bytes[1]);
                    break;
                case wire::kBufferedMerge:
                    StartKeyingLocked(std::string{static_cast<char>(item.bytes[1]),
                                                  static_cast<char>(item.bytes[2])},
                                      false, now);
                    break;
                case wire::kBufferedSpeed:
                    buffered_wpm = item.bytes[1];
                    break;
                case wire::kBufferedCancelSpeed:
                    buffered_wpm = 0;
                    break;
                default:  // PTT, key and the rest change nothing that is emulated
                    break;
            }
        }
    }

    // The hand goes on while host mode is closed; the keyer reports nothing then.
    void PlayFistLocked(Clock::time_point now) {
        while (!fist.empty() && fist.front().when <= now) {
            if (host) {
                SendLocked(static_cast<uint8_t>(wire::kPaddleReply | fist.front().bits));
            }
            fist.pop_front();
        }
    }

    // The changes of `text` keyed at `wpm` from `start`; false for a character with no Morse.
    bool PlanFistLocked(int wpm, const std::string& text, Clock::time_point start) {
        const auto dit = std::chrono::microseconds(1200000 / wpm);
        std::deque<PaddleChange> planned;
        Clock::time_point at = start;
        for (char c : text) {
            if (c == ' ') {
                at += 4 * dit;  // with the 3 after the last character: the 7 of a word gap
                continue;
            }
            const char* pattern = MorsePattern(c);
            if (pattern == nullptr) {
                return false;
            }
            for (const char* p = pattern; *p != '\0'; ++p) {
                const bool dah = *p == '-';
                planned.push_back({at, dah ? wire::kPaddleRight : wire::kPaddleLeft});
                at += (dah ? 3 : 1) * dit;
                planned.push_back({at, 0});
                at += dit;
            }
            at += 2 * dit;
        }
        fist = std::move(planned);
        return true;
    }

    std::chrono::milliseconds NextWakeLocked(Clock::time_point now) const {
        Clock::time_point next = now + std::chrono::milliseconds(50);
        if (keying) {
            next = std::min(next, current_end);
        }
        if (!fist.empty()) {
            next = std::min(next, fist.front().when);
        }
        // Rounded up, so that the wake is never before what it waits for.
        return std::max(std::chrono::ceil<std::chrono::milliseconds>(next - now),
                        std::chrono::milliseconds(0));
    }

    // A fresh pty, as a USB adapter plugged in gets, with the link (when there is one) turned
    // to it in one step, so the host never finds the link missing.
    bool PlugInLocked() {
        const int new_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        char name[128];
        if (new_master < 0 || grantpt(new_master) != 0 || unlockpt(new_master) != 0 ||
            ptsname_r(new_master, name, sizeof name) != 0) {
            if (new_master >= 0) {
                close(new_master);
            }
            return false;
        }
        const int slave = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (slave < 0) {
            close(new_master);
            return false;
        }
        // Raw from the start: a cooked pty would echo the host's bytes back to it before the
        // host has set its own line settings.
        termios attributes{};
        tcgetattr(slave, &attributes);
        cfmakeraw(&attributes);
        tcsetattr(slave, TCSANOW, &attributes);
        fcntl(new_master, F_SETFL, fcntl(new_master, F_GETFL) | O_NONBLOCK);
        if (!options.link_path.empty()) {
            const std::string fresh = options.link_path + ".new";
            unlink(fresh.c_str());
            if (symlink(name, fresh.c_str()) != 0 ||
                rename(fresh.c_str(), options.link_path.c_str()) != 0) {
                unlink(fresh.c_str());
                close(slave);
                close(new_master);
                return false;
            }
        }
        master = new_master;
        slave_keep = slave;
        slave_path = name;
        unplug_requested = false;
        unplugged = false;
        stalled = false;
        host = false;
        return true;
    }

    void Run() {
        for (;;) {
            int master_fd = -1;
            int timeout_ms = 50;
            {
                std::unique_lock<std::mutex> lock(mutex);
                if (stopping) {
                    break;
                }
                if (unplug_requested && master >= 0) {
                    close(master);
                    master = -1;
                    if (slave_keep >= 0) {
                        close(slave_keep);
                        slave_keep = -1;
                    }
                    // As a device node goes with its adapter: nothing at the path is left to
                    // open, not even another emulator's pty that has taken the freed number.
                    if (!options.link_path.empty()) {
                        unlink(options.link_path.c_str());
                    }
                    unplugged = true;
                    changed.notify_all();
                }
                master_fd = master;
                const auto now = Clock::now();
                AdvanceLocked(now);
                PlayFistLocked(now);
                UpdateStatusLocked();
                timeout_ms = static_cast<int>(NextWakeLocked(now).count());
            }
            pollfd fds[2] = {{wake_pipe[0], POLLIN, 0}, {master_fd, POLLIN, 0}};
            const int ready = poll(fds, master_fd >= 0 ? 2 : 1, timeout_ms);
            if (ready <= 0) {
                continue;
            }
            if ((fds[0].revents & POLLIN) != 0) {
                char drain[64];
                while (read(wake_pipe[0], drain, sizeof drain) > 0) {
                }
            }
            if (master_fd >= 0 && (fds[1].revents & POLLIN) != 0) {
                uint8_t bytes[256];
                const ssize_t count = read(master_fd, bytes, sizeof bytes);
                std::lock_guard<std::mutex> lock(mutex);
                for (ssize_t i = 0; i < count; ++i) {
                    ReceiveLocked(bytes[i]);
                }
            } else if (master_fd >= 0 && (fds[1].revents & (POLLHUP | POLLERR)) != 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        }
    }

    void Wake() {
        const char byte = 1;
        [[maybe_unused]] const ssize_t done = write(wake_pipe[1], &byte, 1);
    }

    std::string Reply(const std::string& line);

    // Flow control on the pty's own end stops the host's writes where a hung keyer would.
    void StallLocked(bool on) {
        if (on != stalled && slave_keep >= 0) {
            tcflow(slave_keep, on ? TCOOFF : TCOON);
            stalled = on;
        }
    }
};

std::string KeyerSim::Impl::Reply(const std::string& line) {
    std::istringstream in(line);
    std::string verb;
    in >> verb;
    std::string argument;
    std::getline(in >> std::ws, argument);

    std::unique_lock<std::mutex> lock(mutex);
    if (verb == "reset") {
        StallLocked(false);
        EnterHostModeLocked();
        host = false;
        std::memcpy(settings, kPowerOnSettings, sizeof settings);
        pot_wpm = 20;
        silent = false;
        no_version = false;
        echo_answer = -1;
        pending.clear();
        log.clear();
        sent.clear();
        fist.clear();
        keyed.clear();
        reset_time = Clock::now();
        return "ok";
    }
    if (verb == "version") {
        int value = 0;
        if (!ParseInt(argument, &value) || value < 0 || value > 255) {
            return "error version needs 0..255";
        }
        version = value;
        return "ok";
    }
    if (verb == "silent" || verb == "no-version") {
        if (argument != "on" && argument != "off") {
            return "error " + verb + " needs on or off";
        }
        (verb == "silent" ? silent : no_version) = argument == "on";
        return "ok";
    }
    if (verb == "echo-answer") {
        uint8_t byte = 0;
        if (argument == "normal") {
            echo_answer = -1;
        } else if (ParseHexByte(argument, &byte)) {
            echo_answer = byte;
        } else {
            return "error echo-answer needs a hex byte or normal";
        }
        return "ok";
    }
    if (verb == "paddle") {
        int bits = 0;
        if (!ParseInt(argument, &bits) || bits < 0 || bits > 3) {
            return "error paddle needs 0..3";
        }
        if (!host) {
            return "error host mode is closed";
        }
        SendLocked(static_cast<uint8_t>(wire::kPaddleReply | bits));
        return "ok";
    }
    if (verb == "paddle-key") {
        if (argument.empty()) {
            return "error paddle-key needs text";
        }
        if (!host) {
            return "error host mode is closed";
        }
        if (keying || !buffer.empty()) {
            // The operator's paddles take over: what the keyer had buffered is gone.
            ClearBufferLocked();
            break_in = true;
        }
        for (char c : argument) {
            paddle_text.push_back(c);
        }
        UpdateStatusLocked();
        Wake();
        return "ok";
    }
    if (verb == "fist") {
        std::istringstream words(argument);
        std::string speed;
        std::string text;
        words >> speed;
        std::getline(words >> std::ws, text);
        int wpm = 0;
        if (!ParseInt(speed, &wpm) || wpm < 5 || wpm > 99 ||
            text.find_first_not_of(' ') == std::string::npos) {
            return "error fist needs a WPM from 5 to 99 and text";
        }
        if (!host) {
            return "error host mode is closed";
        }
        const Clock::time_point start = Clock::now();
        if (!PlanFistLocked(wpm, text, start)) {
            return "error fist keys only what Morse has";
        }
        Wake();
        const auto lasts =
            std::chrono::duration_cast<std::chrono::milliseconds>(fist.back().when - start);
        return "ok " + std::to_string(fist.size()) + " " + std::to_string(lasts.count());
    }
    if (verb == "pot") {
        int wpm = 0;
        if (!ParseInt(argument, &wpm) || wpm < 0 || wpm > 255) {
            return "error pot needs a WPM value";
        }
        const bool moved = wpm != pot_wpm;
        pot_wpm = wpm;
        if (moved && host) {
            SendLocked(PotByte());
        }
        return "ok";
    }
    if (verb == "button") {
        int number = 0;
        if (!ParseInt(argument, &number) || number < 1 || number > 4) {
            return "error button needs 1..4";
        }
        if (!host) {
            return "error host mode is closed";
        }
        if (!wire::IsExtendedKeyerVersion(static_cast<uint8_t>(version))) {
            return "error no buttons before version 20";
        }
        static const uint8_t kButtonBits[] = {wire::kButtonM1, wire::kButtonM2, wire::kButtonM3,
                                              wire::kButtonM4};
        SendLocked(StatusByte(wire::kStatusButtonReport | kButtonBits[number - 1]));
        // The report borrowed the status bits; the true status follows so the host does
        // not go on believing the keyer is holding.
        SendLocked(StatusByte(StatusBits()));
        status_sent = StatusBits();
        return "ok";
    }
    if (verb == "inject") {
        std::istringstream bytes(argument);
        std::vector<uint8_t> parsed;
        std::string token;
        while (bytes >> token) {
            uint8_t byte = 0;
            if (!ParseHexByte(token, &byte)) {
                return "error inject needs hex bytes";
            }
            parsed.push_back(byte);
        }
        if (parsed.empty()) {
            return "error inject needs hex bytes";
        }
        if (master < 0) {
            return "error unplugged";
        }
        const bool was_silent = silent;
        silent = false;
        for (uint8_t byte : parsed) {
            SendLocked(byte);
        }
        silent = was_silent;
        return "ok";
    }
    if (verb == "stall") {
        if (argument != "on" && argument != "off") {
            return "error stall needs on or off";
        }
        if (slave_keep < 0) {
            return "error unplugged";
        }
        StallLocked(argument == "on");
        return "ok";
    }
    if (verb == "unplug") {
        unplug_requested = true;
        Wake();
        changed.wait_for(lock, std::chrono::seconds(2), [this] { return unplugged || !running; });
        return "ok";
    }
    if (verb == "plug") {
        if (!unplugged) {
            return "error plugged in already";
        }
        // Powered from the bus, the keyer comes back with its power-on settings.
        std::memcpy(settings, kPowerOnSettings, sizeof settings);
        return PlugInLocked() ? "ok" : "error no pty";
    }
    if (verb == "clock") {
        const auto us =
            std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - reset_time);
        return "ok " + std::to_string(us.count());
    }
    if (verb == "log" || verb == "sent") {
        return TimedBytesReply(verb == "log" ? log : sent, reset_time);
    }
    if (verb == "received") {
        std::string reply = "ok";
        for (const LoggedByte& entry : log) {
            reply += " " + Hex(entry.byte);
        }
        return reply;
    }
    if (verb == "keyed") {
        return "ok " + keyed;
    }
    if (verb == "state") {
        return "ok host=" + std::to_string(host ? 1 : 0) +
               " wpm=" + std::to_string(EffectiveWpm()) +
               " mode=" + Hex(Setting(KeyerSetting::kModeRegister)) +
               " status=" + Hex(StatusBits()) + " buffered=" + std::to_string(buffered_bytes) +
               " keydown=" + std::to_string(key_down ? 1 : 0) +
               " pause=" + std::to_string(paused ? 1 : 0) +
               " paddle-input=" + std::to_string(paddle_input) +
               " extended=" + std::to_string(extended ? 1 : 0);
    }
    return "error unknown command: " + verb;
}

KeyerSim::KeyerSim(Options options) : impl_(std::make_unique<Impl>()) {
    impl_->options = options;
    impl_->version = options.version;
    std::memcpy(impl_->settings, kPowerOnSettings, sizeof impl_->settings);
}

KeyerSim::~KeyerSim() {
    Stop();
}

bool KeyerSim::Start() {
    Impl& s = *impl_;
    if (s.running) {
        return true;
    }
    if (pipe2(s.wake_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return false;
    }
    if (!s.PlugInLocked()) {
        close(s.wake_pipe[0]);
        close(s.wake_pipe[1]);
        s.wake_pipe[0] = s.wake_pipe[1] = -1;
        return false;
    }
    s.stopping = false;
    s.reset_time = Clock::now();
    s.running = true;
    s.thread = std::thread([&s] { s.Run(); });
    return true;
}

void KeyerSim::Stop() {
    Impl& s = *impl_;
    if (!s.running) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.stopping = true;
    }
    s.Wake();
    s.thread.join();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.running = false;
    s.changed.notify_all();
    for (int* fd : {&s.master, &s.slave_keep, &s.wake_pipe[0], &s.wake_pipe[1]}) {
        if (*fd >= 0) {
            close(*fd);
            *fd = -1;
        }
    }
    if (!s.options.link_path.empty()) {
        unlink(s.options.link_path.c_str());
    }
}

std::string KeyerSim::PortPath() const {
    return impl_->options.link_path.empty() ? impl_->slave_path : impl_->options.link_path;
}

std::string KeyerSim::Command(const std::string& line) {
    std::string trimmed = line;
    while (!trimmed.empty() && (trimmed.back() == '\r' || trimmed.back() == '\n')) {
        trimmed.pop_back();
    }
    const std::string reply = impl_->Reply(trimmed);
    impl_->Wake();
    return reply;
}

std::vector<LoggedByte> KeyerSim::Log() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->log;
}

std::vector<uint8_t> KeyerSim::Received() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    std::vector<uint8_t> bytes;
    bytes.reserve(impl_->log.size());
    for (const LoggedByte& entry : impl_->log) {
        bytes.push_back(entry.byte);
    }
    return bytes;
}

bool KeyerSim::WaitForReceived(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(impl_->mutex);
    return impl_->changed.wait_for(lock, timeout, [&] { return impl_->log.size() >= count; });
}

std::string KeyerSim::Keyed() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->keyed;
}

bool KeyerSim::WaitForKeyed(const std::string& text, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(impl_->mutex);
    return impl_->changed.wait_for(lock, timeout, [&] { return impl_->keyed == text; });
}

bool KeyerSim::HostModeOpen() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->host;
}

void KeyerSim::Inject(const std::vector<uint8_t>& bytes) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    for (uint8_t byte : bytes) {
        const bool was_silent = impl_->silent;
        impl_->silent = false;
        impl_->SendLocked(byte);
        impl_->silent = was_silent;
    }
}

}  // namespace keyer_sim

// soak_driver: two real stations at work for a long while under Wine, and a judgement on
// whether they held up. scripts/soak runs it through tools/wine_kit/with_keyer_sims.sh, with
// emulator 0 as the RemoteSide's keyer and emulator 1 as the ControlPoint's.
//
//   soak_driver --minutes N [--link-cycle-seconds S] [--seed X]
//
// One operator sits at the ControlPoint and works it through its window the way a person
// does, in rounds: a line typed at a few characters a second (letters, digits, punctuation,
// now and then a backspace), then one of a stored message with tokens (M1..M6 in turn), a
// speed typed into the WPM field, a click on the spin bar, a Clear once everything has gone
// out, and a Clear into a long message on its way. Every few minutes the ControlPoint drops
// the link with its Open/Close button and opens it again, once after everything has gone out
// and once in the middle of a long message, by turns.
//
// What it checks, failing the run with one line that says what:
// - the RemoteSide keyer's wire holds every character typed or sent exactly once and in
//   order (wire_ledger.h keeps the account, in segments that end at a Clear or a drop);
// - a speed change reaches the far keyer, and a Clear reaches it as a clear command;
// - both stations, both emulators and the Wine server live, and both windows answer;
// - resident memory, threads, handles and open files of each station stay flat (kMargins).
//
// The figures are read only at settled moments (linked, nothing on its way, no message
// going), so a healthy station shows the same state at each reading and only a leak shows
// as growth. The first reading that counts comes after the first link cycle, since a
// station's first Close and Open allocate what every later one reuses.
#include <winsock2.h>

#include <windows.h>
#include <winternl.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "app/resource_ids.h"
#include "settings/settings_record.h"
#include "tools/bench/station_pair.h"
#include "tools/soak/wire_ledger.h"
#include "tools/wine_kit/station_kit.h"
#include "tools/wine_kit/ui_driver.h"

namespace {

constexpr int kWaitMs = 20000;
// A long message needs some seconds to be keyed, paced by the far keyer's hold.
constexpr int kSettleMs = 60000;
// After a Clear or a drop, what was already on its way lands within this.
constexpr int kStragglersMs = 1000;
constexpr uint8_t kWpm = 20;
constexpr int kSampleEverySeconds = 20;
constexpr int kLongestLinkCycleSeconds = 180;

// --- the stored messages -----------------------------------------------------------------

soak::Bytes Text(const std::string& text) {
    return soak::Bytes(text.begin(), text.end());
}

soak::Bytes Join(std::initializer_list<soak::Bytes> parts) {
    soak::Bytes joined;
    for (const soak::Bytes& part : parts) {
        joined.insert(joined.end(), part.begin(), part.end());
    }
    return joined;
}

struct StoredMessage {
    int button;
    std::string text;  // as stored: lower case, tokens in brackets
    soak::Bytes wire;  // what it puts on the far keyer's wire
};

const std::string kLongBody = "the quick brown fox jumps over the lazy dog 1234567890 ";
const std::string kLongBodyUpper = "THE QUICK BROWN FOX JUMPS OVER THE LAZY DOG 1234567890 ";

// M6 is long enough that the far keyer holds it back, so that a Clear or a drop in its
// middle finds text still on its way.
const std::vector<StoredMessage>& Messages() {
    static const std::vector<StoredMessage> messages = {
        {IDC_M1, "cq cq de soak [s25]test[x] k",
         Join({Text("CQ CQ DE SOAK "), {0x1C, 25}, Text("TEST"), {0x1E}, Text(" K")})},
        {IDC_M2, "qrl? [W02]qrl?", Join({Text("QRL? "), {0x1A, 2}, Text("QRL?")})},
        {IDC_M3, "5nn [M]ar tu", Join({Text("5NN "), {0x1B}, Text("AR TU")})},
        {IDC_M4, "[P]rst 599[N] 73", Join({{0x18, 1}, Text("RST 599"), {0x18, 0}, Text(" 73")})},
        {IDC_M5, "tu [S18]73 [X]ee",
         Join({Text("TU "), {0x1C, 18}, Text("73 "), {0x1E}, Text("EE")})},
        {IDC_M6, "vvv [s24]" + kLongBody + kLongBody + kLongBody + "[x]ar",
         Join({Text("VVV "),
               {0x1C, 24},
               Text(kLongBodyUpper + kLongBodyUpper + kLongBodyUpper),
               {0x1E},
               Text("AR")})},
    };
    return messages;
}
constexpr size_t kLongMessage = 5;

// --- the figures ---------------------------------------------------------------------------

struct Figures {
    long rss_kb = -1;
    long threads = -1;
    long handles = -1;
    long files = -1;
};

// Growth a healthy station never shows between two settled readings, and a leak of one
// handle, thread or file per link cycle passes. Threads and open files come back to the same
// count at every settled moment. The handle count rises by up to two over the first link
// cycles and then stays (most likely the threads library giving a lock or a condition its
// event at its first contention); so a count may grow by 3, plus one for every eight link
// cycles since the first reading. A short run cycles the link about every round, at least
// four times after its first reading, so a leak of one per cycle passes the margin there,
// and an hour's twenty cycles leave it far behind; a leak per message or per Clear, which
// come more often, passes it sooner. Memory moves with Wine's and the heap's own bookkeeping
// and with the log pane and echo line filling up to their bounds (some tens of kB), and a
// leaked thread or handle costs little of it, so memory gets a fixed margin that only a real
// leak of memory passes.
constexpr long kMemoryMarginKb = 8192;
long CountMarginFor(int link_cycles) {
    return 3 + link_cycles / 8;
}

// Where the handle counts came from, for the report.
const char* handle_source =
    "none: neither GetProcessHandleCount nor the system's handle list answered";

// A process's handles: GetProcessHandleCount where the system answers it; Wine does not, but
// it lists every process's handles from its server (SystemHandleInformation), so they are
// counted there.
long HandleCount(HANDLE process, DWORD process_id) {
    DWORD count = 0;
    if (GetProcessHandleCount(process, &count) && count > 0) {
        handle_source = "GetProcessHandleCount";
        return static_cast<long>(count);
    }
    constexpr NTSTATUS kInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004L);
    std::vector<uint8_t> buffer(1 << 16);
    NTSTATUS status = kInfoLengthMismatch;
    while (status == kInfoLengthMismatch && buffer.size() <= (1u << 26)) {
        ULONG needed = 0;
        status = NtQuerySystemInformation(SystemHandleInformation, buffer.data(),
                                          static_cast<ULONG>(buffer.size()), &needed);
        if (status == kInfoLengthMismatch) {
            buffer.resize(std::max<size_t>(buffer.size() * 2, needed));
        }
    }
    if (status != 0) {
        return -1;
    }
    const auto* list = reinterpret_cast<const SYSTEM_HANDLE_INFORMATION*>(buffer.data());
    long count_here = 0;
    for (ULONG i = 0; i < list->Count; ++i) {
        if (list->Handle[i].OwnerPid == process_id) {
            ++count_here;
        }
    }
    handle_source =
        "the system's handle list (SystemHandleInformation), which Wine keeps in its server";
    return count_here;
}

class Watched {
  public:
    Watched(const char* name, PellmarProcess* station)
        : name_(name), station_(station), pid_(UnixPidOf(*station)) {
        process_ =
            OpenProcess(PROCESS_QUERY_INFORMATION | SYNCHRONIZE, FALSE, station->process_id());
    }
    ~Watched() {
        if (process_ != nullptr) {
            CloseHandle(process_);
        }
    }
    Watched(const Watched&) = delete;
    Watched& operator=(const Watched&) = delete;

    const char* name() const { return name_; }
    int pid() const { return pid_; }
    // Empty while the program runs and its window answers.
    std::string Trouble() const {
        if (process_ == nullptr) {
            return std::string("the ") + name_ + "'s pellmar.exe cannot be watched";
        }
        if (WaitForSingleObject(process_, 0) == WAIT_OBJECT_0) {
            DWORD code = 0;
            GetExitCodeProcess(process_, &code);
            return std::string("the ") + name_ + "'s pellmar.exe has ended (exit code " +
                   std::to_string(code) + ")";
        }
        DWORD_PTR ignored = 0;
        if (!SendMessageTimeoutA(station_->window(), WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000,
                                 &ignored)) {
            return std::string("the ") + name_ + "'s window did not answer for 5 s";
        }
        return std::string();
    }
    Figures Read() const {
        Figures figures;
        figures.rss_kb = StatusField(pid_, "VmRSS");
        figures.threads = StatusField(pid_, "Threads");
        figures.handles = HandleCount(process_, station_->process_id());
        figures.files =
            static_cast<long>(UnixFolder("/proc/" + std::to_string(pid_) + "/fd").size());
        return figures;
    }

  private:
    const char* name_;
    PellmarProcess* station_;
    int pid_;
    HANDLE process_ = nullptr;
};

struct Series {
    std::vector<Figures> readings;  // from the first that counts on
    Figures Min() const {
        return Fold([](long a, long b) { return std::min(a, b); });
    }
    Figures Max() const {
        return Fold([](long a, long b) { return std::max(a, b); });
    }

  private:
    template <typename F>
    Figures Fold(F pick) const {
        Figures out = readings.front();
        for (const Figures& f : readings) {
            out.rss_kb = pick(out.rss_kb, f.rss_kb);
            out.threads = pick(out.threads, f.threads);
            out.handles = pick(out.handles, f.handles);
            out.files = pick(out.files, f.files);
        }
        return out;
    }
};

// --- the run ---------------------------------------------------------------------------------

struct Counts {
    int typed = 0;
    int refused_busy = 0;
    int backspaces = 0;
    int messages = 0;
    int messages_cut = 0;
    int speed_changes = 0;
    int clears = 0;
    int link_cycles = 0;
    size_t keyed = 0;
    int segments = 0;
};

class Soak {
  public:
    Soak(StationPair* pair, unsigned seed, int minutes, int link_cycle_seconds)
        : pair_(pair),
          random_(seed),
          minutes_(minutes),
          link_cycle_ms_(link_cycle_seconds * 1000),
          server_("RemoteSide", pair->server.get()),
          client_("ControlPoint", pair->client.get()) {}

    bool Run();
    void PrintFigures() const;
    const std::string& failure() const { return failure_; }

  private:
    HWND client() const { return pair_->client->window(); }
    DWORD Elapsed() const { return GetTickCount() - start_; }
    bool Fail(const std::string& what) {
        if (failure_.empty()) {
            failure_ = what;
        }
        return false;
    }
    int Between(int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random_);
    }

    void ReadWire() {
        const soak::Bytes wire = pair_->server_keyer.Received();
        if (wire.size() > wire_.bytes_fed()) {
            wire_.Feed(soak::Bytes(wire.begin() + static_cast<std::ptrdiff_t>(wire_.bytes_fed()),
                                   wire.end()));
        }
    }
    bool CheckAlive();
    bool TypeLine();
    void PressMessage(const StoredMessage& message);
    bool SendStoredMessage(const StoredMessage& message);
    bool ClearAtControlPoint(bool into_message);
    bool ChangeSpeed(bool with_spin_bar);
    bool Settle();
    bool EndSegment(bool cut_short);
    bool ClearSettled();
    bool ClearIntoLongMessage();
    bool CycleLink(bool cut_short);
    bool StartLongMessageAndWait();
    bool Sample(bool counts);
    long CountMargin() const {
        return CountMarginFor(counts_.link_cycles - cycles_at_first_reading_);
    }

    StationPair* pair_;
    std::mt19937 random_;
    int minutes_;
    int link_cycle_ms_;
    Watched server_;
    Watched client_;
    DWORD start_ = 0;
    std::string failure_;
    soak::WireReader wire_;
    // The current segment: where it starts among the wire's units, and what was sent in it.
    size_t segment_start_ = 0;
    std::vector<soak::Unit> sent_;
    int wpm_ = kWpm;
    int min_wpm_ = 0;
    int max_wpm_ = 0;
    size_t next_message_ = 0;
    Counts counts_;
    Series server_series_;
    Series client_series_;
    bool counting_ = false;
    int cycles_at_first_reading_ = 0;
    int wine_server_pid_ = WineServerPidFromEnvironment();
};

bool Soak::CheckAlive() {
    for (const Watched* station : {&server_, &client_}) {
        const std::string trouble = station->Trouble();
        if (!trouble.empty()) {
            return Fail(trouble);
        }
    }
    if (pair_->server_keyer.Command("state").rfind("ok", 0) != 0) {
        return Fail("the RemoteSide's keyer emulator does not answer");
    }
    if (pair_->client_keyer.Command("state").rfind("ok", 0) != 0) {
        return Fail("the ControlPoint's keyer emulator does not answer");
    }
    if (wine_server_pid_ > 0 &&
        ReadUnixFile("/proc/" + std::to_string(wine_server_pid_) + "/stat").empty()) {
        return Fail("the Wine server (process " + std::to_string(wine_server_pid_) + ") has gone");
    }
    return true;
}

// One line at a few characters a second. A character the station refuses as busy (its
// log pane does not change) is not expected on the far wire; a backspace takes back the
// character just typed.
bool Soak::TypeLine() {
    static const char kPunctuation[] = " .,?/=";
    const int length = Between(12, 30);
    bool after_character = false;
    for (int i = 0; i < length; ++i) {
        Sleep(static_cast<DWORD>(Between(150, 350)));
        const int kind = Between(0, 99);
        unsigned char c = 0;
        if (after_character && kind < 8) {
            c = soak::kBackspace;
        } else if (kind < 75) {
            c = static_cast<unsigned char>('a' + Between(0, 25));
        } else if (kind < 88) {
            c = static_cast<unsigned char>('0' + Between(0, 9));
        } else {
            c = static_cast<unsigned char>(kPunctuation[Between(0, 5)]);
        }
        const std::string before = ui::ReadText(client(), IDC_LOG_PANE);
        if (!ui::TypeKeyAndWait(client(), IDC_LOG_PANE, c)) {
            return Fail("the ControlPoint did not take a typed key within 2 s");
        }
        const std::string after = ui::ReadText(client(), IDC_LOG_PANE);
        if (c == soak::kBackspace) {
            if (after != before.substr(0, before.size() - 1)) {
                return Fail("a backspace did not take the last character off the log pane");
            }
            sent_.push_back({soak::kBackspace});
            ++counts_.backspaces;
            after_character = false;
            continue;
        }
        const char shown = static_cast<char>(std::toupper(c));
        if (after == before) {
            ++counts_.refused_busy;
            after_character = false;
            continue;
        }
        if (after.empty() || after.back() != shown) {
            return Fail(std::string("typed '") + static_cast<char>(c) +
                        "' and the log pane does not end with '" + shown + "'");
        }
        sent_.push_back({static_cast<uint8_t>(shown)});
        ++counts_.typed;
        after_character = true;
    }
    return true;
}

void Soak::PressMessage(const StoredMessage& message) {
    ui::Click(client(), message.button);
    for (const soak::Unit& unit : soak::UnitsOf(message.wire)) {
        sent_.push_back(unit);
    }
    ++counts_.messages;
}

bool Soak::SendStoredMessage(const StoredMessage& message) {
    PressMessage(message);
    return Settle();
}

// A new speed typed into the WPM field with Enter, or one click on the spin bar; either
// must reach the far keyer as a speed command with that speed.
bool Soak::ChangeSpeed(bool with_spin_bar) {
    ReadWire();
    const int commands_before = wire_.speed_commands();
    int wanted = wpm_;
    if (with_spin_bar) {
        const bool up = wpm_ < max_wpm_;
        wanted = up ? wpm_ + 1 : wpm_ - 1;
        ui::ClickScrollArrow(client(), IDC_WPM_SPIN, up);
    } else {
        while (wanted == wpm_) {
            wanted = Between(min_wpm_, max_wpm_);
        }
        ui::SelectAll(client(), IDC_WPM);
        ui::TypeText(client(), IDC_WPM, std::to_string(wanted) + "\r");
    }
    if (!ui::WaitForText(client(), IDC_WPM, std::to_string(wanted), kWaitMs)) {
        return Fail("the WPM field shows \"" + ui::ReadText(client(), IDC_WPM) + "\", not " +
                    std::to_string(wanted));
    }
    for (int waited = 0;; waited += 50) {
        ReadWire();
        if (wire_.speed_commands() > commands_before && wire_.last_speed() == wanted) {
            break;
        }
        if (waited >= kWaitMs) {
            return Fail("the speed " + std::to_string(wanted) +
                        " never reached the RemoteSide's keyer (last speed on its wire " +
                        std::to_string(wire_.last_speed()) + ")");
        }
        Sleep(50);
    }
    wpm_ = wanted;
    ++counts_.speed_changes;
    return true;
}

// Waits until the far wire holds exactly what was sent in this segment.
bool Soak::Settle() {
    const soak::Bytes sent = soak::Effective(sent_);
    std::string difference;
    for (int waited = 0;; waited += 100) {
        ReadWire();
        difference = soak::CompareExactly(
            sent, soak::Effective(wire_.units(), segment_start_, wire_.units().size()));
        if (difference.empty()) {
            return true;
        }
        if (waited >= kSettleMs) {
            return Fail("segment " + std::to_string(counts_.segments + 1) + ": " + difference);
        }
        Sleep(100);
    }
}

// Closes the segment: one that was cut short must be an in-order beginning of what was
// sent, and a settled one was compared whole by Settle already.
bool Soak::EndSegment(bool cut_short) {
    ReadWire();
    const size_t end = wire_.units().size();
    if (cut_short) {
        const std::string difference =
            soak::CompareAsCutShort(soak::EffectiveUnits(sent_, 0, sent_.size()),
                                    soak::EffectiveUnits(wire_.units(), segment_start_, end));
        if (!difference.empty()) {
            return Fail("segment " + std::to_string(counts_.segments + 1) +
                        " (cut short): " + difference);
        }
    }
    counts_.keyed += soak::TextBytesIn(wire_.units(), segment_start_, end);
    ++counts_.segments;
    segment_start_ = end;
    sent_.clear();
    return true;
}

// Clear at the ControlPoint: its log pane empties and a clear command reaches the far keyer.
// A message stopped by the Clear may still hand on its next character (one token's two bytes
// at most), which lands in the pane just emptied.
bool Soak::ClearAtControlPoint(bool into_message) {
    ReadWire();
    const int before = wire_.clears();
    ui::Click(client(), IDC_CLEAR);
    const size_t left = into_message ? 2 : 0;
    std::string pane = ui::ReadText(client(), IDC_LOG_PANE);
    for (int waited = 0; pane.size() > left; waited += 50) {
        if (waited >= kWaitMs) {
            return Fail("Clear did not empty the ControlPoint's log pane: it holds \"" + pane +
                        "\"");
        }
        Sleep(50);
        pane = ui::ReadText(client(), IDC_LOG_PANE);
    }
    for (int waited = 0; wire_.clears() == before; waited += 50) {
        if (waited >= kWaitMs) {
            return Fail("Clear never reached the RemoteSide's keyer");
        }
        Sleep(50);
        ReadWire();
    }
    ++counts_.clears;
    return true;
}

// Everything has gone out before the Clear, so whatever reaches the wire after it belongs
// to the next segment and is held to it.
bool Soak::ClearSettled() {
    return Settle() && EndSegment(false) && ClearAtControlPoint(false);
}

// Starts the long message and lets it run for a moment, so that some of it is on the far
// wire and some still on its way.
bool Soak::StartLongMessageAndWait() {
    if (!Settle()) {
        return false;
    }
    PressMessage(Messages()[kLongMessage]);
    ++counts_.messages_cut;
    Sleep(static_cast<DWORD>(Between(300, 1500)));
    return true;
}

bool Soak::ClearIntoLongMessage() {
    if (!StartLongMessageAndWait() || !ClearAtControlPoint(true)) {
        return false;
    }
    Sleep(kStragglersMs);
    return EndSegment(true);
}

// Close and Open at the ControlPoint: the RemoteSide sees the link end, goes on listening,
// and takes the ControlPoint back.
bool Soak::CycleLink(bool cut_short) {
    if (cut_short ? !StartLongMessageAndWait() : !Settle()) {
        return false;
    }
    ui::Click(client(), IDC_OPEN_CLOSE);
    if (!ui::WaitForText(client(), IDC_OPEN_CLOSE, "Open", kWaitMs)) {
        return Fail("Close at the ControlPoint: its button still reads \"" +
                    ui::ReadText(client(), IDC_OPEN_CLOSE) + "\"");
    }
    if (!ui::WaitForText(pair_->server->window(), IDC_NET_STATUS, "Connection Closed", kWaitMs)) {
        return Fail("the RemoteSide did not see the link end: it shows \"" +
                    ui::ReadText(pair_->server->window(), IDC_NET_STATUS) + "\"");
    }
    Sleep(kStragglersMs);
    if (!EndSegment(cut_short)) {
        return false;
    }
    std::string error;
    if (!LinkClient(pair_, kWaitMs, &error)) {
        return Fail("Open at the ControlPoint after a drop: " + error);
    }
    // The link's end and the new link put only immediate commands on the wire (key up,
    // paddles released, clear, the settings block), so the next segment starts right here.
    ++counts_.link_cycles;
    return true;
}

bool Soak::Sample(bool counts) {
    if (!Settle()) {
        return false;
    }
    const Figures server = server_.Read();
    const Figures client = client_.Read();
    if (counts) {
        if (server_series_.readings.empty()) {
            cycles_at_first_reading_ = counts_.link_cycles;
        }
        server_series_.readings.push_back(server);
        client_series_.readings.push_back(client);
    }
    std::printf(
        "[%4lu s] typed %d, messages %d, Clears %d, link cycles %d | RemoteSide %.1f MB %ld "
        "threads %ld handles %ld files | ControlPoint %.1f MB %ld threads %ld handles %ld "
        "files%s\n",
        static_cast<unsigned long>(Elapsed() / 1000), counts_.typed, counts_.messages,
        counts_.clears, counts_.link_cycles, static_cast<double>(server.rss_kb) / 1024.0,
        server.threads, server.handles, server.files, static_cast<double>(client.rss_kb) / 1024.0,
        client.threads, client.handles, client.files, counts ? "" : " (warm-up)");
    return true;
}

bool Soak::Run() {
    start_ = GetTickCount();
    const Bytes image = pair_->client->ReadConfig();
    const size_t keyer = offsetof(SettingsRecord, keyer_settings);
    min_wpm_ = image[keyer + offsetof(KeyerSettings, min_wpm)];
    max_wpm_ = min_wpm_ + image[keyer + offsetof(KeyerSettings, wpm_range)];
    if (server_.pid() == 0 || client_.pid() == 0) {
        return Fail("could not find the stations under /proc");
    }
    ReadWire();
    segment_start_ = wire_.units().size();
    const DWORD deadline = static_cast<DWORD>(minutes_) * 60000;
    DWORD next_cycle = static_cast<DWORD>(link_cycle_ms_);
    DWORD next_sample = 0;
    bool cut_next_cycle = false;
    for (int round = 0; Elapsed() < deadline; ++round) {
        if (!CheckAlive() || !TypeLine()) {
            return false;
        }
        bool done = true;
        switch (round % 6) {
            case 0:
            case 2:
                done = SendStoredMessage(Messages()[next_message_++ % Messages().size()]);
                break;
            case 1:
                done = ChangeSpeed(false);
                break;
            case 3:
                done = ChangeSpeed(true);
                break;
            case 4:
                done = ClearSettled();
                break;
            default:
                done = ClearIntoLongMessage();
                break;
        }
        if (!done) {
            return false;
        }
        if (Elapsed() >= next_cycle) {
            if (!CycleLink(cut_next_cycle)) {
                return false;
            }
            cut_next_cycle = !cut_next_cycle;
            next_cycle = Elapsed() + static_cast<DWORD>(link_cycle_ms_);
            if (!counting_) {
                counting_ = true;
                next_sample = 0;  // the first reading that counts, right after the warm-up
            }
        }
        if (Elapsed() >= next_sample) {
            if (!Sample(counting_)) {
                return false;
            }
            next_sample = Elapsed() + kSampleEverySeconds * 1000;
        }
    }
    if (!Settle() || !EndSegment(false) || !CheckAlive() || !Sample(true)) {
        return false;
    }
    if (server_series_.readings.size() < 2) {
        return Fail("the run was too short for a link cycle and two readings of the figures");
    }
    const long margin = CountMargin();
    const Series* series[] = {&server_series_, &client_series_};
    const char* names[] = {"RemoteSide", "ControlPoint"};
    for (int i = 0; i < 2; ++i) {
        const Figures& first = series[i]->readings.front();
        const Figures& last = series[i]->readings.back();
        const std::string who = std::string("the ") + names[i] + "'s ";
        for (const std::string& growth :
             {soak::GrowthBeyond(who + "resident memory (kB)", first.rss_kb, last.rss_kb,
                                 kMemoryMarginKb),
              soak::GrowthBeyond(who + "thread count", first.threads, last.threads, margin),
              soak::GrowthBeyond(who + "handle count", first.handles, last.handles, margin),
              soak::GrowthBeyond(who + "open file count", first.files, last.files, margin)}) {
            if (!growth.empty()) {
                return Fail(growth);
            }
        }
    }
    return true;
}

void Soak::PrintFigures() const {
    const long margin = CountMargin();
    std::printf("\n| station | figure | start | end | min | max | allowed growth |\n");
    std::printf("|---|---|---|---|---|---|---|\n");
    const Series* series[] = {&server_series_, &client_series_};
    const char* names[] = {"RemoteSide", "ControlPoint"};
    for (int i = 0; i < 2; ++i) {
        if (series[i]->readings.empty()) {
            continue;
        }
        const Figures& first = series[i]->readings.front();
        const Figures& last = series[i]->readings.back();
        const Figures low = series[i]->Min();
        const Figures high = series[i]->Max();
        std::printf("| %s | resident memory MB | %.1f | %.1f | %.1f | %.1f | %.1f |\n", names[i],
                    first.rss_kb / 1024.0, last.rss_kb / 1024.0, low.rss_kb / 1024.0,
                    high.rss_kb / 1024.0, kMemoryMarginKb / 1024.0);
        std::printf("| %s | threads | %ld | %ld | %ld | %ld | %ld |\n", names[i], first.threads,
                    last.threads, low.threads, high.threads, margin);
        std::printf("| %s | handles | %ld | %ld | %ld | %ld | %ld |\n", names[i], first.handles,
                    last.handles, low.handles, high.handles, margin);
        std::printf("| %s | open files | %ld | %ld | %ld | %ld | %ld |\n", names[i], first.files,
                    last.files, low.files, high.files, margin);
    }
    std::printf(
        "\n(%zu readings that count, every %d s at a settled moment; handles from %s, open "
        "files from /proc/PID/fd, memory and threads from /proc/PID/status)\n\n",
        server_series_.readings.size(), kSampleEverySeconds, handle_source);
    std::printf(
        "| typed | refused as busy | backspaces | stored messages | of them cut short | speed "
        "changes | Clears | link cycles | characters on the far keyer's wire | segments |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|---|\n");
    std::printf("| %d | %d | %d | %d | %d | %d | %d | %d | %zu | %d |\n", counts_.typed,
                counts_.refused_busy, counts_.backspaces, counts_.messages, counts_.messages_cut,
                counts_.speed_changes, counts_.clears, counts_.link_cycles, counts_.keyed,
                counts_.segments);
}

int Usage() {
    std::fprintf(stderr, "usage: soak_driver --minutes N [--link-cycle-seconds S] [--seed X]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    int minutes = 0;
    int link_cycle_seconds = 0;
    unsigned seed = static_cast<unsigned>(GetTickCount());
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (i + 1 >= argc) {
            return Usage();
        }
        const char* value = argv[++i];
        if (option == "--minutes") {
            minutes = std::atoi(value);
        } else if (option == "--link-cycle-seconds") {
            link_cycle_seconds = std::atoi(value);
        } else if (option == "--seed") {
            seed = static_cast<unsigned>(std::strtoul(value, nullptr, 10));
        } else {
            return Usage();
        }
    }
    if (minutes <= 0) {
        return Usage();
    }
    if (link_cycle_seconds <= 0) {
        // Every few minutes in a long run; in a short one about every round, so that enough
        // cycles follow the first for a leak of one per cycle to show.
        link_cycle_seconds = std::min(kLongestLinkCycleSeconds, minutes * 60 / 8);
    }
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
        std::printf("soak: FAIL: no Winsock\n");
        return 1;
    }
    std::printf("soak: %d minutes, link dropped every %d s, seed %u\n", minutes, link_cycle_seconds,
                seed);
    int status = 1;
    {
        Job job;
        StationPair pair;
        PairOptions options;
        options.wpm = kWpm;
        options.wait_ms = kWaitMs;
        options.adjust_client = [](Bytes* image) {
            for (size_t i = 0; i < Messages().size(); ++i) {
                PutMessage(image, static_cast<int>(i) + 1, Messages()[i].text);
            }
        };
        std::string error;
        if (!StartStationPair(options, &job, &pair, &error)) {
            std::printf("soak: FAIL: %s\n", error.c_str());
        } else {
            Soak soak(&pair, seed, minutes, link_cycle_seconds);
            const bool passed = soak.Run();
            soak.PrintFigures();
            if (passed) {
                std::printf("soak: PASS\n");
                status = 0;
            } else {
                std::printf("soak: FAIL: %s\n", soak.failure().c_str());
            }
        }
    }
    WSACleanup();
    return status;
}

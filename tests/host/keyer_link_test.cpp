// The keyer link against the emulated keyer on a pty: what reaches the keyer's wire, byte
// for byte, and what the keyer's answers turn into.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "keyer/keyer_link.h"
#include "keyer/serial_port.h"
#include "tools/common/wait_until.h"
#include "tools/keyer_recorder/recorded_keyer_events.h"
#include "tools/keyer_sim/keyer_sim.h"

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

namespace {

const Bytes kHandshake = {0x13, 0x13, 0x13, 0x00, 0x04, 0x55, 0x00, 0x02};

using keyer_wire::SpareAdmin;

class KeyerLinkTest : public ::testing::Test {
  protected:
    // A buffered command and its arguments, queued as one unit.
    int Queue(const Bytes& bytes) {
        return keyer_.QueueBytes(bytes.data(), static_cast<int>(bytes.size()));
    }

    // The calls that the command table's rows make, as a row calls them.
    std::function<int()> Queued(const Bytes& bytes) {
        return [this, bytes] { return Queue(bytes); };
    }
    std::function<int()> Setting(keyer_wire::KeyerSetting setting, int value) {
        return [this, setting, value] { return keyer_.SetSettings({{setting, value}}); };
    }
    std::function<int()> Settings(keyer_wire::KeyerSetting first, int first_value,
                                  keyer_wire::KeyerSetting second, int second_value) {
        return [this, first, first_value, second, second_value] {
            return keyer_.SetSettings({{first, first_value}, {second, second_value}});
        };
    }
    std::function<int()> SpareAdminCall(SpareAdmin which) {
        return [this, which] { return keyer_.SendSpareAdmin(which); };
    }

    void SetUp() override {
        keyer_sim::Options options;
        options.speedup = 50.0;
        sim_ = std::make_unique<keyer_sim::KeyerSim>(options);
        ASSERT_TRUE(sim_->Start());
        emulator_.device = sim_->PortPath();
    }

    void TearDown() override {
        writer_held_ = false;
        keyer_.CloseHost();
        keyer_.port().Close();
        sim_->Stop();
    }

    void OpenHostMode() {
        ASSERT_EQ(keyer_.port().Open(1, emulator_), 0);
        uint8_t version = 0;
        ASSERT_EQ(keyer_.OpenHost(&version), 0);
        ASSERT_TRUE(sim_->WaitForReceived(kHandshake.size(), 2s));
        mark_ = sim_->Received().size();
    }

    // What reached the keyer since the last call, once `count` bytes are there; then the
    // wire must stay quiet a while, so a test sees extra bytes too.
    Bytes TakeBytes(size_t count, std::chrono::milliseconds quiet = 60ms) {
        sim_->WaitForReceived(mark_ + count, 3s);
        std::this_thread::sleep_for(quiet);
        const Bytes all = sim_->Received();
        Bytes since(all.begin() + static_cast<std::ptrdiff_t>(mark_), all.end());
        mark_ = all.size();
        return since;
    }

    void HoldWriter() {
        writer_held_ = true;
        std::this_thread::sleep_for(10ms);
    }
    void ReleaseWriter() { writer_held_ = false; }

    // The keyer's hold bit, as if its own buffer were full.
    void KeyerHolds(bool on) {
        sim_->Inject({static_cast<uint8_t>(on ? 0xC1 : 0xC0)});
        ASSERT_TRUE(WaitUntil([this, on] { return keyer_.Status() == (on ? 1 : 0); }, 3s));
    }

    std::unique_ptr<keyer_sim::KeyerSim> sim_;
    KeyerPortPlace emulator_;
    size_t mark_ = 0;
    std::atomic<bool> writer_held_{false};
    KeyerLink keyer_{*RecordingKeyerListener(), [this] { return writer_held_.load(); }};
};

TEST_F(KeyerLinkTest, HostOpenPutsExactlyTheHandshakeOnTheWire) {
    ASSERT_EQ(keyer_.port().Open(1, emulator_), 0);
    uint8_t version = 0;
    ASSERT_EQ(keyer_.OpenHost(&version), 0) << sim_->Command("log");
    EXPECT_EQ(version, 23);
    EXPECT_EQ(keyer_.IsHostOpen(), 1);
    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(sim_->Received(), kHandshake);
    EXPECT_TRUE(sim_->HostModeOpen());
}

TEST_F(KeyerLinkTest, HostOpenStoresTheVersionTheKeyerGives) {
    ASSERT_EQ(sim_->Command("version 17"), "ok");
    ASSERT_EQ(keyer_.port().Open(1, emulator_), 0);
    uint8_t version = 0;
    ASSERT_EQ(keyer_.OpenHost(&version), 0);
    EXPECT_EQ(version, 17);
}

TEST_F(KeyerLinkTest, SilentKeyerGivesNoEchoAfterTheReadTimeOutAndKeepsThePort) {
    ASSERT_EQ(sim_->Command("silent on"), "ok");
    ASSERT_EQ(keyer_.port().Open(1, emulator_), 0);
    uint8_t version = 0;
    const auto start = Clock::now();
    EXPECT_EQ(keyer_.OpenHost(&version), -1);
    const auto took = Clock::now() - start;
    EXPECT_GE(took, 200ms);
    EXPECT_LT(took, 2s);
    EXPECT_EQ(keyer_.IsHostOpen(), 0);
    // Still open: a second open is refused until the caller gives the port up.
    EXPECT_EQ(keyer_.port().Open(1, emulator_), -4);
    EXPECT_EQ(keyer_.CloseHost(), -9);
    keyer_.port().Close();
    ASSERT_EQ(sim_->Command("silent off"), "ok");
    ASSERT_EQ(keyer_.port().Open(1, emulator_), 0);
    EXPECT_EQ(keyer_.OpenHost(&version), 0);
}

TEST_F(KeyerLinkTest, WrongEchoStopsBeforeHostOpen) {
    ASSERT_EQ(sim_->Command("echo-answer 54"), "ok");
    ASSERT_EQ(keyer_.port().Open(1, emulator_), 0);
    uint8_t version = 0;
    EXPECT_EQ(keyer_.OpenHost(&version), -2);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(sim_->Received(), (Bytes{0x13, 0x13, 0x13, 0x00, 0x04, 0x55}));
}

TEST_F(KeyerLinkTest, MissingVersionIsReported) {
    ASSERT_EQ(sim_->Command("no-version on"), "ok");
    ASSERT_EQ(keyer_.port().Open(1, emulator_), 0);
    uint8_t version = 0;
    EXPECT_EQ(keyer_.OpenHost(&version), -3);
    EXPECT_EQ(keyer_.IsHostOpen(), 0);
    EXPECT_EQ(keyer_.Status(), -9);
}

TEST_F(KeyerLinkTest, OpenDropsWhatTheKeyerSentBeforeAndTimesReadsOut) {
    sim_->Inject({0x41, 0x42});
    ASSERT_EQ(keyer_.port().Open(1, emulator_), 0);
    uint8_t byte = 0;
    auto start = Clock::now();
    EXPECT_EQ(keyer_.port().Read(&byte, 1), 0);
    auto took = Clock::now() - start;
    EXPECT_GE(took, 200ms);
    EXPECT_LT(took, 2s);

    keyer_.port().SetReadTimeout(10);
    start = Clock::now();
    EXPECT_EQ(keyer_.port().Read(&byte, 1), 0);
    took = Clock::now() - start;
    EXPECT_LT(took, 200ms);

    sim_->Inject({0x43});
    EXPECT_EQ(keyer_.port().Read(&byte, 1), 1);
    EXPECT_EQ(byte, 0x43);
}

TEST_F(KeyerLinkTest, PortHeldElsewhereOrMissingDoesNotOpen) {
    const int other = open(sim_->PortPath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(other, 0);
    ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(keyer_.port().Open(1, emulator_), -4);
    close(other);
    EXPECT_EQ(keyer_.port().Open(1, emulator_), 0);
    EXPECT_EQ(keyer_.port().Open(1, emulator_), -4);
    keyer_.port().Close();

    EXPECT_EQ(keyer_.port().Open(1, KeyerPortPlace{{}, "/nonexistent/keyer%d"}), -4);
}

TEST(KeyerPortNameTest, TenAndUpUseTheDeviceNamespace) {
    EXPECT_EQ(KeyerPortDeviceName(1), "com1:");
    EXPECT_EQ(KeyerPortDeviceName(9), "com9:");
    EXPECT_EQ(KeyerPortDeviceName(10), "\\\\.\\COM10");
    EXPECT_EQ(KeyerPortDeviceName(16), "\\\\.\\COM16");
    EXPECT_EQ(KeyerPortDeviceName(17), "\\\\.\\COM17");
    EXPECT_EQ(KeyerPortDeviceName(32), "\\\\.\\COM32");
}

struct CommandRow {
    const char* name;
    std::function<int()> call;
    Bytes wire;
};

// In this order within one host session: later rows depend on the values earlier ones left.
TEST_F(KeyerLinkTest, EveryCommandPutsItsBytesOnTheWire) {
    OpenHostMode();
    const std::vector<CommandRow> rows = {
        {"speed", [this] { return keyer_.SetSpeed(20); }, {0x02, 0x14}},
        {"pot range",
         Settings(keyer_wire::KeyerSetting::kMinWpm, 10, keyer_wire::KeyerSetting::kWpmRange, 25),
         {0x05, 0x0A, 0x19, 0x00}},
        {"sidetone", [this] { return keyer_.SetSidetone(5); }, {0x01, 0x05}},
        {"weight, low byte", Setting(keyer_wire::KeyerSetting::kWeight, 0x1FF), {0x03, 0xFF}},
        {"ptt timing",
         Settings(keyer_wire::KeyerSetting::kLeadIn, 1, keyer_wire::KeyerSetting::kTail, 2),
         {0x04, 0x01, 0x02}},
        {"first extension", Setting(keyer_wire::KeyerSetting::kFirstExtension, 7), {0x10, 0x07}},
        {"key compensation", Setting(keyer_wire::KeyerSetting::kKeyCompensation, 3), {0x11, 0x03}},
        {"farnsworth", Setting(keyer_wire::KeyerSetting::kFarnsworth, 18), {0x0D, 0x12}},
        {"paddle setpoint", Setting(keyer_wire::KeyerSetting::kPaddleSetpoint, 50), {0x12, 0x32}},
        {"ratio", Setting(keyer_wire::KeyerSetting::kDitDahRatio, 50), {0x17, 0x32}},
        {"mode", Setting(keyer_wire::KeyerSetting::kModeRegister, 0x40), {0x0E, 0x40}},
        {"pin config", Setting(keyer_wire::KeyerSetting::kPinConfig, 5), {0x09, 0x05}},
        {"key down 2", [this] { return keyer_.SetKeyDown(2); }, {0x0B, 0x01}},
        {"key up", [this] { return keyer_.SetKeyDown(0); }, {0x0B, 0x00}},
        {"speed pot", [this] { return keyer_.RequestSpeedPot(); }, {0x07}},
        {"pause", [this] { return keyer_.SetPause(1); }, {0x06, 0x01}},
        {"pause 256 is off", [this] { return keyer_.SetPause(256); }, {0x06, 0x00}},
        {"paddle input", [this] { return keyer_.SetPaddleInput(2); }, {0x14, 0x02}},
        {"backspace, empty queue", [this] { return keyer_.Backspace(); }, {0x08}},
        {"clear", [this] { return keyer_.ClearBuffer(); }, {0x0A}},
        {"base mode", [this] { return keyer_.SetBaseMode(); }, {0x00, 0x0A}},
        {"extended mode", [this] { return keyer_.SetExtendedMode(); }, {0x00, 0x0B}},
        {"first spare admin", SpareAdminCall(SpareAdmin::kFirst), {0x00, 0x0F}},
        {"second spare admin", SpareAdminCall(SpareAdmin::kSecond), {0x00, 0x10}},
        {"third spare admin", SpareAdminCall(SpareAdmin::kThird), {0x00, 0x12}},
        {"fourth spare admin", SpareAdminCall(SpareAdmin::kFourth), {0x00, 0x11}},
        {"text", [this] { return keyer_.QueueByte('E'); }, {0x45}},
        {"ptt", Queued({0x18, 1}), {0x18, 0x01}},
        {"key", Queued({0x19, 5}), {0x19, 0x05}},
        {"wait", Queued({0x1A, 2}), {0x1A, 0x02}},
        {"buffered speed", Queued({0x1C, 25}), {0x1C, 0x19}},
        {"[H] command", Queued({0x1D, 3}), {0x1D, 0x03}},
        {"merge", Queued({0x1B, 'A', 'R'}), {0x1B, 0x41, 0x52}},
        {"cancel speed", Queued({0x1E}), {0x1E}},
        {"spare buffered", Queued({0x1F}), {0x1F}},
    };
    for (const CommandRow& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.call(), 0);
        EXPECT_EQ(TakeBytes(row.wire.size()), row.wire);
    }
    // The same value again is not a change.
    EXPECT_EQ(keyer_.SetSpeed(20), 0);
    EXPECT_EQ(keyer_.SetPause(0), 0);
    EXPECT_EQ(TakeBytes(0, 100ms), Bytes{});
}

TEST_F(KeyerLinkTest, OnePassSendsItsCommandsInTableOrderClearFirst) {
    OpenHostMode();
    HoldWriter();
    keyer_.SetBaseMode();
    keyer_.SetPause(1);
    keyer_.SetKeyDown(1);
    keyer_.SetSidetone(5);
    keyer_.SetSpeed(30);
    keyer_.ClearBuffer();
    ReleaseWriter();
    EXPECT_EQ(TakeBytes(11),
              (Bytes{0x0A, 0x02, 0x1E, 0x01, 0x05, 0x0B, 0x01, 0x06, 0x01, 0x00, 0x0A}));
}

TEST_F(KeyerLinkTest, ValuesChangedBeforeAPassAreCoalesced) {
    OpenHostMode();
    HoldWriter();
    keyer_.SetSpeed(20);
    keyer_.SetSpeed(20);
    keyer_.SetSidetone(1);
    keyer_.SetSidetone(2);
    ReleaseWriter();
    EXPECT_EQ(TakeBytes(4, 100ms), (Bytes{0x02, 0x14, 0x01, 0x02}));

    // Changed and changed back: nothing but the request made in the same pass.
    HoldWriter();
    keyer_.SetSpeed(33);
    keyer_.SetSpeed(20);
    keyer_.SetKeyDown(1);
    keyer_.SetKeyDown(0);
    keyer_.RequestSpeedPot();
    ReleaseWriter();
    EXPECT_EQ(TakeBytes(1, 100ms), Bytes{0x07});
}

// Text queued on an idle writer goes at once, so a request made after it follows it.
TEST_F(KeyerLinkTest, ARequestAfterTextQueuedOnAnIdleWriterFollowsIt) {
    OpenHostMode();
    const std::vector<CommandRow> rows = {
        {"speed", [this] { return keyer_.SetSpeed(20); }, {0x1C, 0x19, 0x02, 0x14}},
        {"backspace, the text gone", [this] { return keyer_.Backspace(); }, {0x1C, 0x19, 0x08}},
        {"clear", [this] { return keyer_.ClearBuffer(); }, {0x1C, 0x19, 0x0A}},
    };
    for (const CommandRow& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_EQ(Queue({0x1C, 25}), 0);
        EXPECT_EQ(row.call(), 0);
        EXPECT_EQ(TakeBytes(row.wire.size()), row.wire);
    }
}

// The n-th unit queued back to back goes 3 ms times n - 1 after the queueing at the
// earliest; an emulator slow to read a byte only logs it later.
TEST_F(KeyerLinkTest, QueuedUnitsReachTheWireAtLeastThreeMillisecondsApart) {
    OpenHostMode();
    const Clock::time_point queued_at = Clock::now();
    ASSERT_EQ(Queue({'C', 'Q', ' ', 'C', 'Q', 0x1C, 25, 'K'}), 0);
    ASSERT_EQ(TakeBytes(8).size(), 8u);
    std::vector<keyer_sim::LoggedByte> units = sim_->Log();
    units.erase(units.begin(), units.end() - 8);
    units.erase(units.begin() + 6);  // the buffered command's argument, sent with it
    for (size_t i = 1; i < units.size(); ++i) {
        EXPECT_GE(units[i].when - queued_at, 3ms * i) << "unit " << i;
    }
}

// Timed paddle inputs reach the wire at their times and in their order, each as a change of
// its own even when two are due together; a release drops those still waiting.
TEST_F(KeyerLinkTest, TimedPaddleInputsGoAtTheirTimesUntilARelease) {
    OpenHostMode();
    const Clock::time_point now = Clock::now();
    ASSERT_EQ(keyer_.SetPaddleInputAt(2, now + 30ms), 0);
    ASSERT_EQ(keyer_.SetPaddleInputAt(0, now + 70ms), 0);
    ASSERT_EQ(keyer_.SetPaddleInputAt(1, now), 0);  // late: behind those given before
    ASSERT_EQ(keyer_.SetPaddleInputAt(0, now), 0);
    ASSERT_EQ(TakeBytes(8), (Bytes{0x14, 2, 0x14, 0, 0x14, 1, 0x14, 0}));
    std::vector<keyer_sim::LoggedByte> inputs = sim_->Log();
    inputs.erase(inputs.begin(), inputs.end() - 8);
    EXPECT_GE(inputs[0].when - now, 30ms);
    EXPECT_GE(inputs[2].when - now, 70ms);

    ASSERT_EQ(keyer_.SetPaddleInputAt(1, Clock::now() + 40ms), 0);
    ASSERT_EQ(keyer_.Release(), 0);
    EXPECT_EQ(TakeBytes(4, 100ms), (Bytes{0x0B, 0, 0x14, 0}));
}

TEST_F(KeyerLinkTest, LoadSendsOneBlockAndNoPerByteCommands) {
    OpenHostMode();
    keyer_.SetSpeed(20);
    EXPECT_EQ(TakeBytes(2), (Bytes{0x02, 0x14}));

    KeyerSettings block = {0x00, 33, 6, 50, 1, 2, 12, 20, 0, 0, 0, 50, 50, 5, 0};
    HoldWriter();
    keyer_.SetSpeed(40);  // overtaken by the load: both blocks take the loaded values
    EXPECT_EQ(keyer_.LoadSettings(&block), 0);
    ReleaseWriter();
    Bytes expected = {0x0F};
    const auto* raw = reinterpret_cast<const uint8_t*>(&block);
    expected.insert(expected.end(), raw, raw + sizeof block);
    expected.push_back(0x07);
    expected.push_back(0x15);
    EXPECT_EQ(TakeBytes(18, 150ms), expected);
}

TEST_F(KeyerLinkTest, FullRingRefusesAndBackspaceTakesBackAcrossTheWrap) {
    OpenHostMode();
    KeyerHolds(true);
    Bytes queued;
    for (int i = 0; i < 64; ++i) {
        const uint8_t byte = static_cast<uint8_t>('A' + i % 26);
        ASSERT_EQ(keyer_.QueueByte(byte), 0) << i;
        queued.push_back(byte);
    }
    EXPECT_EQ(keyer_.QueueByte('Z'), -7);
    EXPECT_EQ(Queue({0x18, 1}), -7);
    KeyerQueueSnapshot snapshot = keyer_.QueueSnapshot();
    EXPECT_EQ(snapshot.queue_write, 0);
    EXPECT_EQ(snapshot.queue_count, 64);

    // Held: however long, nothing drains.
    EXPECT_EQ(TakeBytes(0, 150ms), Bytes{});

    EXPECT_EQ(keyer_.Backspace(), 0);
    ASSERT_TRUE(WaitUntil([this] { return keyer_.QueueSnapshot().queue_count == 63; }, 3s));
    snapshot = keyer_.QueueSnapshot();
    EXPECT_EQ(snapshot.queue_write, 63);
    EXPECT_EQ(snapshot.queue_read, 0);

    KeyerHolds(false);
    queued.pop_back();
    EXPECT_EQ(TakeBytes(63, 150ms), queued);
}

TEST_F(KeyerLinkTest, BackspaceTakesBackTheLastQueuedByteOnly) {
    OpenHostMode();
    KeyerHolds(true);
    keyer_.QueueByte('C');
    keyer_.QueueByte('Q');
    keyer_.QueueByte('X');
    keyer_.Backspace();
    ASSERT_TRUE(WaitUntil([this] { return keyer_.QueueSnapshot().queue_count == 2; }, 3s));
    KeyerHolds(false);
    EXPECT_EQ(TakeBytes(2, 100ms), (Bytes{'C', 'Q'}));
}

TEST_F(KeyerLinkTest, NearlyFullRisesAt43AndFallsAt20) {
    OpenHostMode();
    KeyerHolds(true);
    for (int i = 0; i < 42; ++i) {
        keyer_.QueueByte('E');
    }
    EXPECT_EQ(keyer_.IsQueueNearlyFull(), 0);
    keyer_.QueueByte('E');
    EXPECT_EQ(keyer_.IsQueueNearlyFull(), 1);

    // Taken back to 22: a take-back is not a drain, so the flag stays up.
    // One at a time: backspaces before one pass are one request.
    for (int count = 42; count >= 22; --count) {
        keyer_.Backspace();
        ASSERT_TRUE(
            WaitUntil([this, count] { return keyer_.QueueSnapshot().queue_count == count; }, 3s));
    }
    EXPECT_EQ(keyer_.IsQueueNearlyFull(), 1);

    // Every snapshot of the drain is consistent: up above 20, down at 20 and below. A
    // loaded machine may skip counts between samples but never sees a wrong pair.
    KeyerHolds(false);
    int samples_near_threshold = 0;
    WaitUntil(
        [&] {
            const KeyerQueueSnapshot s = keyer_.QueueSnapshot();
            EXPECT_EQ(s.queue_nearly_full, s.queue_count > 20 ? 1 : 0) << s.queue_count;
            samples_near_threshold += (s.queue_count == 21 || s.queue_count == 20) ? 1 : 0;
            return s.queue_count == 0;
        },
        5s, [] { std::this_thread::yield(); });
    RecordProperty("samples_near_threshold", samples_near_threshold);
    EXPECT_EQ(keyer_.IsQueueNearlyFull(), 0);
    EXPECT_EQ(TakeBytes(22, 100ms), Bytes(22, 'E'));
}

TEST_F(KeyerLinkTest, BreakInEmptiesTheQueueAtTheNextWakeUp) {
    OpenHostMode();
    KeyerHolds(true);
    for (int i = 0; i < 10; ++i) {
        keyer_.QueueByte('T');
    }
    HoldWriter();
    sim_->Inject({0xC6});
    ASSERT_TRUE(WaitUntil([this] { return keyer_.Status() == 6; }, 3s));
    keyer_.SetSpeed(30);
    ReleaseWriter();
    EXPECT_EQ(TakeBytes(2, 150ms), (Bytes{0x02, 0x1E}));
    EXPECT_EQ(keyer_.QueueSnapshot().queue_count, 0);
}

// A version 20+ keyer's M1 and M2 buttons set the bits that otherwise mean hold and
// break-in; the queue neither stalls nor empties for them.
TEST_F(KeyerLinkTest, ButtonReportIsNeitherHoldNorBreakIn) {
    OpenHostMode();
    ForgetKeyerEvents();
    HoldWriter();
    for (int i = 0; i < 5; ++i) {
        keyer_.QueueByte('T');
    }
    sim_->Inject({0xC9, 0xCA});
    const std::vector<KeyerEvent> expected = {{kStatusEvent, 0x09}, {kStatusEvent, 0x0A}};
    ASSERT_EQ(WaitForKeyerEvents(expected.size(), 3s), expected);
    EXPECT_EQ(keyer_.Status(), 0);
    ReleaseWriter();
    EXPECT_EQ(TakeBytes(5), Bytes(5, 'T'));
}

TEST_F(KeyerLinkTest, BitThreeFromAnOlderKeyerIsPlainStatus) {
    ASSERT_EQ(sim_->Command("version 19"), "ok");
    OpenHostMode();
    sim_->Inject({0xC9});
    EXPECT_TRUE(WaitUntil([this] { return keyer_.Status() == 0x09; }, 3s));
}

TEST_F(KeyerLinkTest, CloseSendsBaseModeThenHostCloseAndReleasesThePort) {
    OpenHostMode();
    keyer_.SetKeyDown(1);
    EXPECT_EQ(TakeBytes(2), (Bytes{0x0B, 0x01}));
    keyer_.SetBaseMode();
    EXPECT_EQ(keyer_.CloseHost(), 0);
    EXPECT_EQ(TakeBytes(4), (Bytes{0x00, 0x0A, 0x00, 0x03}));
    EXPECT_FALSE(sim_->HostModeOpen());
    EXPECT_EQ(keyer_.CloseHost(), -9);

    // Reopened: a fresh keyer is not keyed down, so Tune must be sent again.
    ASSERT_EQ(keyer_.port().Open(1, emulator_), 0);
    uint8_t version = 0;
    ASSERT_EQ(keyer_.OpenHost(&version), 0);
    EXPECT_EQ(TakeBytes(kHandshake.size()), kHandshake);
    keyer_.SetKeyDown(1);
    EXPECT_EQ(TakeBytes(2), (Bytes{0x0B, 0x01}));
}

TEST_F(KeyerLinkTest, EveryGatedEntryPointRefusesAfterClose) {
    OpenHostMode();
    ASSERT_EQ(keyer_.CloseHost(), 0);
    KeyerSettings block{};
    const std::vector<std::function<int()>> gated = {
        [&] { return keyer_.LoadSettings(&block); },
        [this] { return keyer_.SetSpeed(1); },
        [this] { return keyer_.SetSidetone(1); },
        Settings(keyer_wire::KeyerSetting::kLeadIn, 1, keyer_wire::KeyerSetting::kTail, 1),
        [this] { return keyer_.SetKeyDown(1); },
        [this] { return keyer_.SetPause(1); },
        [this] { return keyer_.SetPaddleInput(1); },
        [this] { return keyer_.ClearBuffer(); },
        [this] { return keyer_.Backspace(); },
        [this] { return keyer_.RequestSpeedPot(); },
        [this] { return keyer_.QueueByte('A'); },
        [this] { return keyer_.IsQueueNearlyFull(); },
        Queued({0x18, 1}),
        Queued({0x19, 1}),
        Queued({0x1A, 1}),
        Queued({0x1C, 1}),
        Queued({0x1D, 1}),
        Queued({0x1B, 1, 2}),
        Queued({0x1E}),
        Queued({0x1F}),
        [this] { return keyer_.Status(); },
        [this] { return keyer_.TakeEchoByte(); },
        [this] { return keyer_.CloseHost(); },
    };
    for (size_t i = 0; i < gated.size(); ++i) {
        EXPECT_EQ(gated[i](), -9) << "entry point " << i;
    }
    EXPECT_EQ(keyer_.SetBaseMode(), 0);
    EXPECT_EQ(keyer_.SetExtendedMode(), 0);
    EXPECT_EQ(keyer_.SendSpareAdmin(SpareAdmin::kFirst), 0);
    EXPECT_EQ(keyer_.SendSpareAdmin(SpareAdmin::kFourth), 0);
    // Nothing reaches the keyer after the host close.
    std::this_thread::sleep_for(50ms);
    const Bytes wire = sim_->Received();
    ASSERT_GE(wire.size(), 2u);
    EXPECT_EQ(Bytes(wire.end() - 2, wire.end()), (Bytes{0x00, 0x03}));
}

TEST_F(KeyerLinkTest, CloseOfAnUnpluggedKeyerIsBounded) {
    OpenHostMode();
    for (int i = 0; i < 20; ++i) {
        keyer_.QueueByte('E');
    }
    ASSERT_EQ(sim_->Command("unplug"), "ok");
    const auto start = Clock::now();
    EXPECT_EQ(keyer_.CloseHost(), 0);
    EXPECT_LT(Clock::now() - start, 10s);
    EXPECT_EQ(keyer_.IsHostOpen(), 0);
}

TEST_F(KeyerLinkTest, ReaderSortsEveryKindOfByte) {
    OpenHostMode();
    keyer_.SetSettings(
        {{keyer_wire::KeyerSetting::kMinWpm, 10}, {keyer_wire::KeyerSetting::kWpmRange, 20}});
    TakeBytes(4);
    ForgetKeyerEvents();
    sim_->Inject({0xDC, 0xDE, 0xDD, 0xDF, 0xFF, 0xC6, 0x85, 0x41});
    const std::vector<KeyerEvent> expected = {
        {kPaddleEvent, 0}, {kPaddleEvent, 2}, {kPaddleEvent, 1},    {kPaddleEvent, 3},
        {kPaddleEvent, 3}, {kStatusEvent, 6}, {kSpeedPotEvent, 15}, {kEchoEvent, 'A'},
    };
    EXPECT_EQ(WaitForKeyerEvents(expected.size(), 3s), expected);
    EXPECT_EQ(keyer_.Status(), 6);
    EXPECT_EQ(keyer_.TakeEchoByte(), 'A');
    EXPECT_EQ(keyer_.TakeEchoByte(), 0);
}

TEST_F(KeyerLinkTest, EchoRingKeepsTheOldestFifteenUnread) {
    OpenHostMode();
    Bytes echoed;
    for (int i = 0; i < 20; ++i) {
        echoed.push_back(static_cast<uint8_t>('a' + i));
    }
    sim_->Inject(echoed);
    WaitForKeyerEvents(20, 3s);
    for (int i = 0; i < 15; ++i) {
        EXPECT_EQ(keyer_.TakeEchoByte(), 'a' + i);
    }
    EXPECT_EQ(keyer_.TakeEchoByte(), 0);
}

// The emulator keys what the writer feeds it: the link's whole path, end to end.
TEST_F(KeyerLinkTest, QueuedTextIsKeyedAndEchoed) {
    OpenHostMode();
    KeyerSettings block = {0x04, 30, 0, 50, 0, 0, 10, 25, 0, 0, 0, 50, 50, 0, 0};
    keyer_.LoadSettings(&block);
    for (char c : std::string("CQ DE TEST")) {
        ASSERT_EQ(keyer_.QueueByte(c), 0);
    }
    EXPECT_TRUE(sim_->WaitForKeyed("CQ DE TEST", 5s)) << sim_->Keyed();
    std::string echoed;
    ASSERT_TRUE(WaitUntil(
        [&] {
            for (int byte = keyer_.TakeEchoByte(); byte > 0; byte = keyer_.TakeEchoByte()) {
                echoed.push_back(static_cast<char>(byte));
            }
            return echoed.size() >= 10;
        },
        3s));
    EXPECT_EQ(echoed, "CQ DE TEST");
}

}  // namespace

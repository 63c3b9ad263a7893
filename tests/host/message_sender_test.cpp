// The message sender as a station runs it: its keyer on the emulator, where the wire shows
// every byte, and while linked the test as the other station on loopback.
#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/resource_ids.h"
#include "keyer/keyer_link.h"
#include "messages/message_sender.h"
#include "net/packet.h"
#include "settings/settings_record.h"
#include "station/station.h"
#include "tests/host/station_rig.h"
#include "tools/keyer_recorder/recorded_keyer_events.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

class MessageSenderTest : public station_rig::StationRigTest<station_rig::ShownInMainWindow> {
  protected:
    void SetUp() override {
        StationRigTest::SetUp();
        std::memset(&settings, 0, sizeof settings);
    }

    bool MessageEnds() {
        return WaitUntil([this] { return SendingMessage() == 0; });
    }

    void AttachKeyer() { StationRigTest::AttachKeyer(station_rig::FastKeyer()); }

    // Linked as a ControlPoint server, the test being the client.
    void Link() { LinkAsServer(kNetRoleControlPoint); }

    std::string LogPane() { return window_.Text(IDC_LOG_PANE); }
};

TEST_F(MessageSenderTest, TokensReachTheKeyerAsBufferedCommands) {
    AttachKeyer();
    station_.StoreMessage(1, "cq [S25]de");
    station_.StoreMessage(2, "[p][P]\xE9");
    ASSERT_TRUE(station_.SendStoredMessage(1));
    ASSERT_TRUE(MessageEnds());
    EXPECT_EQ(KeyerWire(7), (Bytes{0x43, 0x51, 0x20, 0x1C, 0x19, 0x44, 0x45}));
    EXPECT_EQ(LogPane(),
              "CQ \x1C\x19"
              "DE");

    ASSERT_TRUE(station_.SendStoredMessage(2));
    ASSERT_TRUE(MessageEnds());
    EXPECT_EQ(KeyerWire(5), (Bytes{0x18, 0x01, 0x18, 0x01, 0xE9}));
}

TEST_F(MessageSenderTest, OutsideATokenALineBreakIsOneSpaceAndNoOtherControlByteIsSent) {
    AttachKeyer();
    // The second message's CR and the third's LF are two line breaks, one in each.
    const std::pair<const char*, Bytes> table[] = {
        {"a\r\nb\rc\nd\n\re", {'A', ' ', 'B', ' ', 'C', ' ', 'D', ' ', ' ', 'E'}},
        {"\tk\x01\x1B[M]\x1F\x7F\r", {'K', 0x1B, 0x7F, ' '}},
        {"\n[P]\r\n[S\t5]", {' ', 0x18, 1, ' ', 0x1C, 95}},
    };
    for (const auto& [text, bytes] : table) {
        station_.StoreMessage(1, text);
        ASSERT_TRUE(station_.SendStoredMessage(1) && MessageEnds());
        EXPECT_EQ(KeyerWire(bytes.size()), bytes) << text;
    }
}

TEST_F(MessageSenderTest, EmptyMessageEndsAtOnceAndSendsNothing) {
    AttachKeyer();
    Link();
    ASSERT_TRUE(station_.SendStoredMessage(3));
    ASSERT_TRUE(MessageEnds());
    station_.processIPpacket(BuildPacket(PKT_SPEED, 33));
    EXPECT_EQ(KeyerWire(2), (Bytes{0x02, 33})) << "the keyer got something before the probe";
    EXPECT_TRUE(loopback::RawReceive(peer_, 1, 4096, 200).empty());
    EXPECT_EQ(LogPane(), "");
}

// While it lives, each text appended to the log pane goes to `on_append`, on the sender's
// thread, at the moment the sender shows it.
class LogPaneProbe {
  public:
    LogPaneProbe(RecordingWindow& window, std::function<void(const std::string&)> on_append)
        : window_(window) {
        window_.WatchInsertions(
            [on_append = std::move(on_append)](int id, const std::string& text) {
                // The pane's cut, which inserts nothing, is no text of the sender's.
                if (id == IDC_LOG_PANE && !text.empty()) {
                    on_append(text);
                }
            });
    }
    ~LogPaneProbe() { window_.WatchInsertions(nullptr); }
    LogPaneProbe(const LogPaneProbe&) = delete;
    LogPaneProbe& operator=(const LogPaneProbe&) = delete;

  private:
    RecordingWindow& window_;
};

TEST_F(MessageSenderTest, LinkedEachByteGoesToThePeerThenTheKeyerThenTheLogPane) {
    AttachKeyer();
    Link();
    station_.StoreMessage(4, "[S25]a");
    // The keyer's writer held, what has been queued for it stays counted in its queue.
    keyer_writer_held_ = true;
    const int queued_before = station_.QueuedForKeyer();
    struct Seen {
        std::string text;
        int peer_unread;
        int queued;
    };
    std::vector<Seen> seen;
    {
        LogPaneProbe probe(window_, [this, &seen](const std::string& text) {
            int unread = 0;
            ioctl(peer_, FIONREAD, &unread);
            seen.push_back({text, unread, station_.QueuedForKeyer()});
        });
        ASSERT_TRUE(station_.SendStoredMessage(4));
        ASSERT_TRUE(MessageEnds());
        keyer_writer_held_ = false;
        EXPECT_EQ(KeyerWire(3), (Bytes{0x1C, 0x19, 0x41}));
        station_.Exit();
    }
    ASSERT_EQ(seen.size(), 3u);
    const std::string texts[] = {"\x1C", "\x19", "A"};
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(seen[k].text, texts[k]);
        EXPECT_GE(seen[k].peer_unread, static_cast<int>(kPacketSize) * (k + 1)) << k;
        EXPECT_GE(seen[k].queued - queued_before, k + 1) << k;
    }
    Bytes expected;
    for (uint8_t byte : {0x1C, 0x19, 0x41}) {
        const Packet packet = BuildPacket(PKT_TEXT_CHAR, byte);
        expected.insert(expected.end(), packet.bytes, packet.bytes + kPacketSize);
    }
    EXPECT_EQ(loopback::RawReceive(peer_, expected.size()), expected);
}

TEST_F(MessageSenderTest, WaitsWhileTheQueueIsNearlyFullAndResumes) {
    AttachKeyer();
    std::string text;
    for (int i = 0; i < 100; ++i) {
        text += static_cast<char>('A' + i % 26);
    }
    station_.StoreMessage(1, text);
    // The keyer's writer held, nothing leaves the queue.
    keyer_writer_held_ = true;
    ASSERT_TRUE(station_.SendStoredMessage(1));
    ASSERT_TRUE(WaitUntil([this] { return station_.IsLinkBusy(); }));
    std::this_thread::sleep_for(100ms);
    // Above 42 the sender stops short of the 64-byte ring's end and loses nothing.
    EXPECT_EQ(station_.QueuedForKeyer(), 43);
    EXPECT_EQ(LogPane(), text.substr(0, 43));
    EXPECT_EQ(SendingMessage(), 1);
    EXPECT_FALSE(station_.SendStoredMessage(2)) << "one message at a time";

    keyer_writer_held_ = false;
    ASSERT_TRUE(MessageEnds());
    EXPECT_EQ(KeyerWire(text.size()), Bytes(text.begin(), text.end()));
    EXPECT_EQ(LogPane(), text);
}

TEST_F(MessageSenderTest, StopTakesEffectWithinOneStep) {
    Link();
    // Nothing else holds the sender back: linked, the other side not busy, no keyer.
    station_.StoreMessage(1, std::string(255, 'E'));
    for (int round = 0; round < 20; ++round) {
        window_.SetControlText(IDC_LOG_PANE, "");
        ASSERT_TRUE(station_.SendStoredMessage(1));
        ASSERT_TRUE(WaitUntil([this] { return LogPane().size() >= 5; }));
        station_.StopStoredMessage();
        const std::size_t at_stop = LogPane().size();
        std::this_thread::sleep_for(20ms);
        EXPECT_LE(LogPane().size(), at_stop + 1);
    }
}

TEST_F(MessageSenderTest, MessageEndingInsideATokenLeavesTheNextOneAlone) {
    AttachKeyer();
    station_.StoreMessage(1, "AB[W1");
    station_.StoreMessage(2, "5]C");
    ASSERT_TRUE(station_.SendStoredMessage(1));
    ASSERT_TRUE(MessageEnds());
    ASSERT_TRUE(station_.SendStoredMessage(2));
    ASSERT_TRUE(MessageEnds());
    // No wait command without its argument, and no argument taken from the next message.
    EXPECT_EQ(KeyerWire(5), (Bytes{'A', 'B', '5', ']', 'C'}));
}

// Starts and stops as fast as they come, from the window's thread and from a second stopper
// (a keyer reader seeing a break-in). Every byte of the two texts is unique, so each byte in
// the log pane tells which message and which position it is: each must begin a message or
// follow the byte before it, and once the window's thread has stopped a message no byte may
// continue it beyond the one the sender was already showing.
TEST_F(MessageSenderTest, StartStopStormLeavesOneSenderPerMessage) {
    Link();  // linked, with no keyer and a peer that never reads: nothing slows the sender down
    // No bracket, no lower case for the sender to change, and no control byte it leaves out.
    std::string texts[2];
    for (int byte = 0x20; byte <= 0xFF; ++byte) {
        if (byte != '[' && !(byte >= 'a' && byte <= 'z')) {
            texts[byte < 0x80 ? 0 : 1] += static_cast<char>(byte);
        }
    }
    station_.StoreMessage(1, texts[0]);
    station_.StoreMessage(2, texts[1]);
    struct Place {
        int message;
        int index;
    };
    Place places[256] = {};
    for (int m = 0; m < 2; ++m) {
        for (std::size_t i = 0; i < texts[m].size(); ++i) {
            places[static_cast<uint8_t>(texts[m][i])] = {m + 1, static_cast<int>(i)};
        }
    }

    std::atomic<int> stops{0};
    // Touched only on the sender's thread until the sender has ended.
    Place last{0, -1};
    int stops_seen = 0;
    bool stop_seen_in_run = false;
    int beginnings = 0;
    int cut_short = 0;
    std::vector<std::string> faults;
    LogPaneProbe probe(window_, [&](const std::string& text) {
        const int now = stops.load();
        const bool stopped_meanwhile = now != stops_seen;
        stops_seen = now;
        const Place place = places[static_cast<uint8_t>(text[0])];
        if (place.index == 0) {
            ++beginnings;
            cut_short += last.index >= 0 &&
                         last.index + 1 < static_cast<int>(texts[last.message - 1].size());
            // A stop seen here may be the one made just before this start.
            stop_seen_in_run = false;
        } else if (place.message == last.message && place.index == last.index + 1) {
            if (stop_seen_in_run) {
                faults.push_back("went on after a stop at " + std::to_string(place.index));
            }
            stop_seen_in_run = stop_seen_in_run || stopped_meanwhile;
        } else {
            faults.push_back("out of order: " + std::to_string(place.message) + "/" +
                             std::to_string(place.index));
        }
        last = place;
    });

    std::atomic<bool> storming{true};
    // Its stops are not counted: one made before a start may be counted after it.
    std::thread stopper([this, &storming] {
        std::mt19937 random(7);
        while (storming.load()) {
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 300));
            station_.StopStoredMessage();
        }
    });
    int started = 0;
    std::mt19937 random(11);
    for (int i = 0; i < 3000; ++i) {
        // A stop followed at once by a start, while the sender is in the middle of a step.
        station_.StopStoredMessage();
        ++stops;
        const int number = 1 + static_cast<int>(random() % 2);
        started += station_.SendStoredMessage(number) ? 1 : 0;
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 100));
    }
    storming = false;
    stopper.join();
    station_.Exit();

    EXPECT_EQ(started, 3000);
    EXPECT_TRUE(faults.empty()) << faults.size() << " faults, the first: " << faults[0];
    EXPECT_GT(beginnings, 300);
    EXPECT_GT(cut_short, 100) << "the stops did not land inside messages";
}

}  // namespace

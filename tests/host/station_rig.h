// A station as the host tests run it: linked, where a case wants it, to the test's plain
// socket on loopback (the other station, which reads the exact packets), and attached, where
// a case wants it, to the keyer emulator on a pty, whose wire shows every byte the station
// sends it. The station is brought there as the program brings it, through its own Open and
// its link's events, and shows itself either in the recording window through the Main
// window's own view or in a recording view by meaning.
#pragma once

#include <sys/socket.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/main_window_view.h"
#include "app/resource_ids.h"
#include "keyer/serial_port.h"
#include "messages/message_sender.h"
#include "net/packet.h"
#include "station/station.h"
#include "tests/host/main_loop.h"
#include "tests/host/socket_test_peer.h"
#include "tests/support/recording_view.h"
#include "tests/support/recording_window.h"
#include "tests/support/temp_folder.h"
#include "tools/common/wait_until.h"
#include "tools/keyer_sim/keyer_sim.h"

namespace station_rig {

// Morse fifty times as fast, so that what a case keys is soon sent.
inline keyer_sim::Options FastKeyer() {
    keyer_sim::Options options;
    options.speedup = 50.0;
    return options;
}

// For a station whose stored messages, once started, stay started, with nothing sending
// them, until the station stops them: what its commands and events do to a message going
// out shows in its MessageGoingOut().
inline const MessageSender::CarryOut kMessagesStayStarted = [](int) {};

// The station shown in the recording window through the Main window's own view.
class ShownInMainWindow {
  protected:
    // What was shown from the last ForgetWhatWasShown on.
    std::vector<RecordingWindow::Call> Calls() { return window_.CallsFrom(shown_from_); }
    // What the set-up showed is no part of a case: the log pane, which holds the set-up's
    // Connect log, starts empty again, and Calls() after it.
    void ForgetWhatWasShown() {
        window_.SetControlText(IDC_LOG_PANE, "");
        shown_from_ = window_.CallCount();
    }

    RecordingWindow window_;
    MainWindowView view_{window_};

  private:
    std::size_t shown_from_ = 0;
};

// The station shown in a recording view by meaning.
class ShownByMeaning {
  protected:
    std::vector<std::string> Calls() { return view_.CallsFrom(shown_from_); }
    void ForgetWhatWasShown() { shown_from_ = view_.CallCount(); }

    RecordingView view_;

  private:
    std::size_t shown_from_ = 0;
};

template <typename Shown>
class StationRigTest : public loopback::LoopbackTest, protected Shown {
  protected:
    // The station's stored messages go out on its sender's thread unless `carry_out_messages`
    // says otherwise.
    explicit StationRigTest(MessageSender::CarryOut carry_out_messages = {})
        : station_(this->view_, this->view_, sockets_,
                   StationSetup{{},
                                LinkSetup{},
                                std::move(carry_out_messages),
                                [this] { return keyer_writer_held_.load(); },
                                kReconnectWaits,
                                KeyerPortPlace{{}, keyer_folder_.File("com%d")}}) {}

    // As the operator's Close and the program's end leave it.
    void TearDown() override {
        keyer_writer_held_ = false;
        station_.CloseAndExit("the test ends");
        if (sim_) {
            sim_->Stop();
        }
        LoopbackTest::TearDown();
    }

    // The emulator started, and the station's keyer attached to it as Open attaches it with
    // the network off. The attach's handshake and settings load are no part of KeyerWire.
    void AttachKeyer(const keyer_sim::Options& options) {
        keyer_sim::Options at_com1 = options;
        at_com1.link_path = keyer_folder_.File("com1");
        sim_ = std::make_unique<keyer_sim::KeyerSim>(at_com1);
        ASSERT_TRUE(sim_->Start());
        const uint32_t flags = store.NetFlags();
        settings.com_port = 1;
        store.PublishNetFlags(kNetModeOff);
        ASSERT_EQ(station_.OpenConnection(), 1);
        store.PublishNetFlags(flags);
        ASSERT_TRUE(station_.IsKeyerAttached());
        SettleKeyerWire(kHandshakeBytes + kLoadBytes);
        this->ForgetWhatWasShown();
    }

    // Linked to the test's plain socket (`peer_`) as a Net Server on loopback: listening,
    // the peer's connect and the accept, as for any client. The link starts as a RemoteSide's,
    // which sends nothing of its own, and goes on in `role_and_flags`; whatever its start put
    // on the keyer's wire is no part of KeyerWire.
    void LinkAsServer(uint32_t role_and_flags) {
        OpenTheNetwork(kNetModeServer | kNetIpAddrOverride, 0);
        if (HasFatalFailure()) {
            return;
        }
        peer_ = RawConnect(station_.LinkPort());
        ASSERT_TRUE(PumpUntil([this] { return station_.IsLinked(); }));
        GoOnLinked(kNetModeServer | role_and_flags);
    }

    // Linked as a Net Client to the test's plain socket listening on loopback. The client's
    // introduction (pause, version request) is read and dropped.
    void LinkAsClient(uint32_t role_and_flags) {
        int port = 0;
        const int listener = RawListen(&port);
        OpenTheNetwork(kNetModeClient, static_cast<uint32_t>(port));
        if (HasFatalFailure()) {
            return;
        }
        peer_ = Raw(accept(listener, nullptr, nullptr));
        ASSERT_TRUE(PumpUntil([this] { return station_.IsLinked(); }));
        GoOnLinked(kNetModeClient | role_and_flags);
    }

    // The link closed as Close closes it; a keyer stays attached.
    void Unlink() {
        station_.CloseNetworkFromButton();
        this->ForgetWhatWasShown();
    }

    // The socket events the window would get, until `done` holds.
    bool PumpUntil(const std::function<bool()>& done) {
        MainLoop loop{station_, sockets_, MainLoop::LinkTimer::kStopped, std::chrono::seconds(10)};
        return loop.PumpUntil(done);
    }

    // What reached the keyer since the last look, once `count` bytes are there, after a
    // quiet spell so that a byte too many shows as well.
    std::vector<uint8_t> KeyerWire(std::size_t count) {
        sim_->WaitForReceived(mark_ + count, std::chrono::seconds(5));
        std::this_thread::sleep_for(std::chrono::milliseconds(80));
        const std::vector<uint8_t> all = sim_->Received();
        std::vector<uint8_t> since(all.begin() + static_cast<std::ptrdiff_t>(mark_), all.end());
        mark_ = all.size();
        return since;
    }

    keyer_sim::KeyerSim& Sim() { return *sim_; }

    // From here on stored message `number` is going out.
    void MessageGoingOut(int number) {
        station_.StopStoredMessage();
        ASSERT_TRUE(station_.SendStoredMessage(number));
    }
    int SendingMessage() { return station_.MessageGoingOut(); }

    // A case holds its keyer's writer to have requests meet in one service pass, or to keep
    // what it queues from going out.
    std::atomic<bool> keyer_writer_held_{false};
    // Where the station finds its COM ports: the emulator is COM1.
    TempFolder keyer_folder_;
    Station station_;
    SettingsStore& store = station_.settings();
    SettingsRecord& settings = store.record();
    int peer_ = -1;

  private:
    // A heartbeat whose answer marks the end of what the station sent the peer so far.
    static constexpr uint8_t kDrainBeat = 0xD5;
    // The attach's echo test, host open and version (13 13 13 00 04 55 00 02), and a
    // settings load (0F, the block, 07 15).
    static constexpr std::size_t kHandshakeBytes = 8;
    static constexpr std::size_t kLoadBytes = 1 + sizeof(KeyerSettings) + 2;

    // Opens the station's network stage alone, on loopback, with its keyer left as it is.
    void OpenTheNetwork(uint32_t mode, uint32_t port) {
        store.PublishNetFlags(kNetLocalKeyerDisabled | mode | kNetRoleRemoteSide);
        std::strcpy(settings.ip_address, "127.0.0.1");
        settings.ip_port = port;
        ASSERT_EQ(station_.OpenConnection(), 1);
    }

    // The keyer's answers to the link's start come while the station is still a RemoteSide,
    // which passes none of them on.
    void GoOnLinked(uint32_t flags) {
        if (sim_ && station_.IsKeyerAttached()) {
            SettleKeyerWire(kLoadBytes);
        }
        store.PublishNetFlags(flags);
        DrainPeer();
        this->ForgetWhatWasShown();
    }

    void DrainPeer() {
        station_.processIPpacket(BuildPacket(PKT_HEARTBEAT, kDrainBeat));
        const std::vector<uint8_t> end =
            loopback::Bytes(BuildPacket(PKT_HEARTBEAT_REPLY, kDrainBeat));
        for (std::vector<uint8_t> packet; packet != end;) {
            packet = loopback::RawReceive(peer_, kPacketSize);
            ASSERT_EQ(packet.size(), kPacketSize) << "the peer's stream ended";
        }
    }

    // Once at least `coming` bytes more are on the keyer's wire and it has been quiet for a
    // while, what is on it is no part of the case.
    void SettleKeyerWire(std::size_t coming) {
        sim_->WaitForReceived(mark_ + coming, std::chrono::seconds(3));
        std::size_t seen = sim_->Received().size();
        for (std::size_t before = seen + 1; seen != before;) {
            before = seen;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            seen = sim_->Received().size();
        }
        mark_ = seen;
    }

    std::unique_ptr<keyer_sim::KeyerSim> sim_;
    std::size_t mark_ = 0;
};

}  // namespace station_rig

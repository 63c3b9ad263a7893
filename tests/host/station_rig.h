// A station as the host tests run it: the Main window a recording window, the other station
// the test's plain socket on loopback, linked to the station as to a Net Server, and, where a
// case wants it, the keyer the emulator on a pty, whose wire shows every byte the station
// sends it.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "app/main_window_view.h"
#include "keyer/keyer_link.h"
#include "keyer/serial_port.h"
#include "messages/message_sender.h"
#include "station/station.h"
#include "tests/host/socket_test_peer.h"
#include "tests/support/recording_window.h"
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
// out shows in its sender's Sending().
inline const MessageSender::CarryOut kMessagesStayStarted = [](int) {};

// The emulator with the station's keyer link attached to it: port 1 and host mode open.
class EmulatedKeyer {
  public:
    // `version`, when given, receives the version byte the keyer answered. The handshake
    // (13 13 13, 00 04 55, 00 02) is not part of the wire that Wire shows.
    void Attach(const keyer_sim::Options& options, KeyerLink& keyer, uint8_t* version = nullptr) {
        sim_ = std::make_unique<keyer_sim::KeyerSim>(options);
        ASSERT_TRUE(sim_->Start());
        SetKeyerPortPathPattern(sim_->PortPath());
        keyer_ = &keyer;
        ASSERT_EQ(keyer.port().Open(1), 0);
        uint8_t opened = 0;
        ASSERT_EQ(keyer.OpenHost(&opened), 0);
        if (version != nullptr) {
            *version = opened;
        }
        ASSERT_TRUE(sim_->WaitForReceived(8, std::chrono::seconds(3)));
        mark_ = sim_->Received().size();
    }

    // Host mode and the port closed and the emulator stopped, when it was attached.
    void Detach() {
        if (sim_) {
            keyer_->CloseHost();
            keyer_->port().Close();
            sim_->Stop();
        }
    }

    // What reached the keyer since the last look, once `count` bytes are there, after a
    // quiet spell so that a byte too many shows as well.
    std::vector<uint8_t> Wire(std::size_t count) {
        sim_->WaitForReceived(mark_ + count, std::chrono::seconds(5));
        std::this_thread::sleep_for(std::chrono::milliseconds(80));
        const std::vector<uint8_t> all = sim_->Received();
        std::vector<uint8_t> since(all.begin() + static_cast<std::ptrdiff_t>(mark_), all.end());
        mark_ = all.size();
        return since;
    }

    keyer_sim::KeyerSim& Sim() { return *sim_; }

  private:
    std::unique_ptr<keyer_sim::KeyerSim> sim_;
    KeyerLink* keyer_ = nullptr;
    std::size_t mark_ = 0;
};

class StationRigTest : public loopback::PeerLinkTest {
  protected:
    // The station's stored messages go out on its sender's thread unless `carry_out_messages`
    // says otherwise.
    explicit StationRigTest(MessageSender::CarryOut carry_out_messages = {})
        : station_(view_, view_, nullptr,
                   StationSetup{{}, LinkSetup{}, std::move(carry_out_messages), [this] {
                                    return keyer_writer_held_.load();
                                }}) {}

    // The station sends to the peer on the connection it accepted, as a Net Server does.
    void ServeThePeer() {
        station_.net().HoldLinkSocket(listener_);
        station_.net().HoldAcceptedSocket(connection_);
    }

    void TearDown() override {
        keyer_.Detach();
        PeerLinkTest::TearDown();
    }

    std::vector<uint8_t> KeyerWire(std::size_t count) { return keyer_.Wire(count); }

    // From here on a stored message is going out, its start having given `sending_value`.
    void MessageGoingOut(int32_t sending_value) {
        station_.sender().Stop();
        ASSERT_TRUE(station_.sender().Start(1, sending_value));
    }
    int32_t SendingMessage() { return station_.sender().Sending(); }

    // The station shows itself in the recording window through the Main window's own view.
    // A case holds its keyer's writer to have requests meet in one service pass.
    RecordingWindow window_;
    MainWindowView view_{window_};
    std::atomic<bool> keyer_writer_held_{false};
    Station station_;
    SettingsStore& store = station_.settings();
    SettingsRecord& settings = store.record();
    EmulatedKeyer keyer_;
};

}  // namespace station_rig

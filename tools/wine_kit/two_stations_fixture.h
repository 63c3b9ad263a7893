// Two real pellmar.exe stations linked over loopback, each in its own folder with its own
// configuration file and its own emulated keyer. with_keyer_sims.sh starts the emulators for
// each case and links them into the Wine prefix; emulator 0 is the server's keyer and
// emulator 1 the client's. The server is the RemoteSide at the far site, the client the
// ControlPoint at home.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "tools/wine_kit/station_fixtures.h"

class TwoStationsTest : public StationTestBase {
  protected:
    // Generous: two programs share two cores with Wine, and the client's connect holds its
    // window thread for a quarter second on purpose.
    static constexpr int kWaitMs = 15000;
    // Different speeds, so that a keyer shows whose settings it was given last.
    static constexpr uint8_t kServerWpm = 16;
    static constexpr uint8_t kClientWpm = 22;

    // Starts the server and opens it, then the client, and waits for the client's connect.
    void SetUp() override;
    void TearDown() override;

    virtual uint32_t ServerNetFlags() const;
    virtual void AdjustServerImage(std::vector<uint8_t>* /*image*/) {}
    virtual void AdjustClientImage(std::vector<uint8_t>* /*image*/) {}
    // The port the client connects to: the server's own, unless something stands between.
    virtual uint16_t ClientPort(uint16_t server_port) { return server_port; }

    HWND server() const { return server_->window(); }
    HWND client() const { return client_->window(); }

    // Presses Open at the server and waits until it listens.
    void OpenServer();
    // Presses Open at the client and waits until it is connected.
    void OpenClient();
    // The Open/Close press that closes a linked station: its three lines reset, and its
    // keyer handed back with base mode and then host close.
    void PressCloseAndExpectClosed(HWND station, KeyerSimControl* keyer);
    // The bytes that reached a keyer's wire after the first `mark` bytes, once they hold
    // `part` (or as they are after the time-out).
    static Bytes WireSince(KeyerSimControl* keyer, size_t mark, const Bytes& part,
                           int timeout_ms = kWaitMs) {
        return keyer->ReceivedSince(mark, part, timeout_ms);
    }

    KeyerSimControl server_keyer_;
    KeyerSimControl client_keyer_;
    std::unique_ptr<Station> server_;
    std::unique_ptr<Station> client_;
    uint16_t port_ = 0;
    std::vector<uint8_t> server_image_;
    std::vector<uint8_t> client_image_;
};

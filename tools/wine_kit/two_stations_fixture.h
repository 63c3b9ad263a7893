// Two real stations linked over loopback, each in its own folder with its own configuration
// file and its own emulated keyer. with_keyer_sims.sh starts the emulators for each case and
// links them into the Wine prefix; emulator 0 is the server's keyer and emulator 1 the
// client's. The server is the RemoteSide at the far site (remote_site.h: pellmar.exe, or the
// native site in the cases that run on each), the client the ControlPoint at home, always
// pellmar.exe.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
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

    // Starts the Net Server and waits until it listens, then the Net Client, and waits for
    // its connect. The site is the Net Server unless its flags make it the Net Client.
    void SetUp() override;
    void TearDown() override;
    // Ends both programs, the client first. A native site is ended as a service manager ends
    // it, and must let go of its keyer on the way (ExpectSigtermReleasesTheKeyer).
    void EndStations();

    virtual Site SiteKind() const { return Site::kWine; }
    // The site's flags, then home's. A site that is the Net Client dials out to home, which
    // is then the Net Server.
    virtual uint32_t ServerNetFlags() const;
    virtual uint32_t ClientNetFlags() const;
    // The site's .ini, after a [Logger] section that turns its logger port off.
    virtual std::string ServerIni() const { return std::string(); }
    // Home's .ini; none when empty.
    virtual std::string ClientIni() const { return std::string(); }
    virtual void AdjustServerImage(std::vector<uint8_t>* /*image*/) {}
    virtual void AdjustClientImage(std::vector<uint8_t>* /*image*/) {}
    // The port the client connects to: the server's own, unless something stands between.
    virtual uint16_t ClientPort(uint16_t server_port) { return server_port; }

    Site site_kind() const { return server_->kind(); }
    // The Wine site's window (nullptr for the native site).
    HWND server() const { return server_->window(); }
    HWND client() const { return client_->window(); }

    // Starts the site (again) and waits until it listens.
    void OpenServer();
    // Presses Open at the client and waits until it is connected.
    void OpenClient();
    // Starts home (again) when it is the Net Server, presses Open and waits until it listens.
    void OpenHomeServer();
    // The Open/Close press that closes a linked station: its three lines reset, and its
    // keyer handed back with base mode and then host close.
    void PressCloseAndExpectClosed(HWND station, KeyerSimControl* keyer);
    // The bytes that reached a keyer's wire after the first `mark` bytes, once they hold
    // `part` (or as they are after the time-out).
    static Bytes WireSince(KeyerSimControl* keyer, size_t mark, const Bytes& part,
                           int timeout_ms = kWaitMs) {
        return keyer->ReceivedSince(mark, part, timeout_ms);
    }

    // SIGTERM to the native site: within 1 s it has keyed up, emptied the keyer's buffer and
    // ended host mode, and exited with 0.
    void ExpectSigtermReleasesTheKeyer();

    KeyerSimControl server_keyer_;
    KeyerSimControl client_keyer_;
    std::unique_ptr<RemoteSite> server_;
    std::unique_ptr<PellmarProcess> client_;
    uint16_t port_ = 0;
    std::vector<uint8_t> server_image_;
    std::vector<uint8_t> client_image_;
};

// `Fixture` with the site as the case's parameter: TEST_P cases on it run on each site.
template <typename Fixture>
class OnEachSite : public Fixture, public ::testing::WithParamInterface<Site> {
  protected:
    Site SiteKind() const override { return this->GetParam(); }
};

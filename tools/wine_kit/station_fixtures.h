// The GoogleTest fixtures of the Wine cases that drive one real station with an emulated
// keyer. The cases run through with_keyer_sims.sh, which starts the emulators and tells the
// test their COM and control ports in the environment. Only tests link this part of the kit.
#pragma once

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>

#include "gtest/gtest.h"
#include "tools/wine_kit/remote_site.h"
#include "tools/wine_kit/station_kit.h"

// Starts Winsock for the control channels, and holds a job that kills every station
// started in it when the test ends, even a test program that is itself killed.
class StationTestBase : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    // Starts the station and puts it in the job; a failure says which step failed. Without
    // `wait_for_window` it does not wait for the Main window (a box the station shows first
    // comes before it): PellmarProcess::WaitForWindow does that later.
    ::testing::AssertionResult StartInJob(PellmarProcess* station, bool wait_for_window = true);
    // Fails the case when the emulator's control channel stopped answering at some point.
    static void ExpectAnswered(const KeyerSimControl& keyer) { EXPECT_EQ(keyer.failure(), ""); }

  private:
    bool winsock_started_ = false;
    std::unique_ptr<Job> job_;
};

// One station, Network Off, with emulator 0 as its keyer, opened with Open/Close so that
// the keyer is attached in host mode ("Local Tarvel V23 OnLine"). A case may change the
// image in AdjustImage before the fixture starts the station.
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
    Bytes WireSinceMarkContaining(const Bytes& part, int timeout_ms = kWaitMs) {
        return keyer_.ReceivedSince(wire_mark_, part, timeout_ms);
    }

    KeyerSimControl keyer_;
    Emulator emulator_;
    std::unique_ptr<PellmarProcess> station_;

  private:
    size_t wire_mark_ = 0;
};

// Names the cases that run on each site by their site:
//   INSTANTIATE_TEST_SUITE_P(EachSite, F, ::testing::Values(Site::kWine, Site::kNative),
//                            SiteParamName);
std::string SiteParamName(const ::testing::TestParamInfo<Site>& info);
// The same name where GoogleTest prints the parameter (ctest's names of the cases).
void PrintTo(Site site, std::ostream* out);

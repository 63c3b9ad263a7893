#include "tools/wine_kit/station_fixtures.h"

#include <string>

#include "app/resource_ids.h"
#include "settings/settings_record.h"

void StationTestBase::SetUp() {
    WSADATA data;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    winsock_started_ = true;
    job_ = std::make_unique<Job>();
    ASSERT_TRUE(job_->created());
}

void StationTestBase::TearDown() {
    job_.reset();
    if (winsock_started_) {
        WSACleanup();
        winsock_started_ = false;
    }
}

::testing::AssertionResult StationTestBase::StartInJob(PellmarProcess* station,
                                                       bool wait_for_window) {
    // Into the job before anything else can happen to it, so that no path leaves it running.
    if (!station->Launch()) {
        return ::testing::AssertionFailure() << "pellmar.exe did not start in " << station->folder()
                                             << ": error " << GetLastError();
    }
    if (!job_->Add(station->process_id())) {
        return ::testing::AssertionFailure()
               << "pellmar.exe (process " << station->process_id()
               << ") could not join the job: error " << GetLastError();
    }
    if (wait_for_window && !station->WaitForWindow()) {
        return ::testing::AssertionFailure() << "pellmar.exe showed no Main window";
    }
    return ::testing::AssertionSuccess();
}

void KeyedStationTest::SetUp() {
    StationTestBase::SetUp();
    ASSERT_TRUE(EmulatorFromEnvironment(0, &emulator_))
        << "run these tests through tools/wine_kit/with_keyer_sims.sh, which starts the "
           "emulator";
    ASSERT_TRUE(keyer_.Connect(emulator_.control_port));
    ASSERT_EQ(keyer_.Command("reset"), "ok");

    Bytes image = StationImage(static_cast<uint32_t>(emulator_.com_port), kNetModeOff, 0, kWpm);
    AdjustImage(&image);
    station_ = std::make_unique<PellmarProcess>();
    station_->WriteConfig(image);
    ASSERT_TRUE(StartInJob(station_.get()));
    ui::Click(window(), IDC_OPEN_CLOSE);
    ASSERT_TRUE(ui::WaitForText(window(), IDC_OPEN_CLOSE, "Close", kWaitMs))
        << ui::ReadText(window(), IDC_LOG_PANE);
    ASSERT_TRUE(ui::WaitForText(window(), IDC_LOCAL_STATUS, "Local Tarvel V23 OnLine", kWaitMs));
    // The settings block is the attach's last command; once the emulator holds its speed the
    // attach is over and what follows on the wire is the case's own.
    ASSERT_EQ(keyer_.WaitForStateField("wpm", std::to_string(kWpm), kWaitMs), std::to_string(kWpm));
    ForgetWireSoFar();
}

void KeyedStationTest::TearDown() {
    station_.reset();
    ExpectAnswered(keyer_);
    keyer_.Close();
    StationTestBase::TearDown();
}

std::string SiteParamName(const ::testing::TestParamInfo<Site>& info) {
    return SiteName(info.param);
}

void PrintTo(Site site, std::ostream* out) {
    *out << SiteName(site);
}

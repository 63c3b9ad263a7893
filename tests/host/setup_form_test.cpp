// The Setup dialog's form: what opening shows, what "Done" refuses, stores and saves. Where a
// case attaches a keyer, the emulator's, its writer is held: what "Done" asks of the keyer
// stays asked, and the keyer says nothing after the attach.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/main_window_view.h"
#include "app/resource_ids.h"
#include "forms/setup_form.h"
#include "keyer/serial_port.h"
#include "messages/message_sender.h"
#include "settings/field_number.h"
#include "settings/settings_record.h"
#include "settings/settings_store.h"
#include "station/station.h"
#include "tests/host/station_on_file.h"
#include "tests/support/recording_window.h"
#include "tests/support/temp_folder.h"
#include "tools/keyer_sim/keyer_sim.h"

namespace {

class SetupFormTest : public ::testing::Test, protected StationOnFile {
  protected:
    // A started message stays started, with no thread sending it, until something stops it.
    SetupFormTest() : StationOnFile([](int) {}, [] { return true; }) {}

    void SetUp() override { store.SetDefaults(); }
    void TearDown() override {
        station.CloseAndExit("the test ends");
        if (sim_) {
            sim_->Stop();
        }
    }

    // The keyer of `version` on COM1 attached as Open attaches it with the network off.
    void AttachKeyer(int version) {
        if (!sim_) {
            keyer_sim::Options options;
            options.link_path = folder.File("com1");
            sim_ = std::make_unique<keyer_sim::KeyerSim>(options);
            ASSERT_TRUE(sim_->Start());
        }
        if (station.IsKeyerAttached()) {
            station.OpenOrClose();
        }
        ASSERT_EQ(sim_->Command("version " + std::to_string(version)), "ok");
        settings.com_port = 1;
        store.PublishNetFlags(kNetModeOff);
        ASSERT_EQ(station.OpenConnection(), 1);
        ASSERT_EQ(station.KeyerVersion(), version);
    }

    // "Done" with what the form holds and the speed the Main window shows; the texts of the
    // refusals, in order.
    std::vector<std::string> Done(SetupForm* form, bool expect_close) {
        const uint32_t speed_shown = UnsignedFromText(window.Text(IDC_WPM)).value_or(0);
        refusals = FinishSetupForm(form, station, speed_shown);
        EXPECT_EQ(refusals.empty(), expect_close);
        std::vector<std::string> texts;
        for (const SetupRefusal& refusal : refusals) {
            EXPECT_EQ(refusal.caption, "Parameter Error");
            texts.push_back(refusal.text);
        }
        return texts;
    }

    std::vector<SetupRefusal> refusals;
    const KeyerSettings& keyer = settings.keyer_settings;
    std::unique_ptr<keyer_sim::KeyerSim> sim_;
};

using Texts = std::vector<std::string>;

TEST_F(SetupFormTest, PortListShowsThePortsThatExistAndKeepsAStoredPortNotFound) {
    EXPECT_EQ(ProbePortDeviceName(9), "COM9");
    EXPECT_EQ(ProbePortDeviceName(12), "\\\\.\\COM12");
    for (const char* name : {"com3", "com12", "com33"}) {
        std::ofstream(folder.File(name)) << "";
    }
    settings.com_port = 12;
    ASSERT_TRUE(station.SendStoredMessage(4));
    SetupForm form = OpenSetupForm(station);
    EXPECT_EQ(station.MessageGoingOut(), 0) << "opening stops a message being sent";
    EXPECT_EQ(form.entries[SetupField::kKeyerPort], (Texts{"com3", "com12"}));
    EXPECT_EQ(form.port_numbers, (std::vector<int>{3, 12}));
    EXPECT_EQ(form.selections[SetupField::kKeyerPort], 1);

    form.selections[SetupField::kKeyerPort] = 0;
    Done(&form, true);
    EXPECT_EQ(settings.com_port, 3u);

    settings.com_port = 7;
    form = OpenSetupForm(station);
    EXPECT_EQ(form.selections[SetupField::kKeyerPort], kNoSelection);
    Done(&form, true);
    EXPECT_EQ(settings.com_port, 7u) << "no port chosen keeps the stored one";
}

// What one "Done" refuses, in order: the keyer fields up to the first refusal, then the
// WPM pair whatever happened before. Each row starts from the defaults (Min 5, Max 25) with a
// Weight of 95 from a hand-edited file and a Farns of 20.
TEST_F(SetupFormTest, DoneRefusesInOrderAndChecksOnlyChangedFields) {
    const struct {
        std::vector<std::pair<SetupField, const char*>> typed;
        Texts refusals;
    } rows[] = {
        {{}, {}},
        {{{SetupField::kWeight, "60"}, {SetupField::kFarnsworth, "0"}}, {}},
        {{{SetupField::kWeight, "91"}, {SetupField::kLeadIn, "300"}},
         {"Weight must be between 10 and 90"}},
        {{{SetupField::kWeight, "91"}, {SetupField::kMaxWpm, "30"}, {SetupField::kMinWpm, "40"}},
         {"Weight must be between 10 and 90", "Max WPM must be greater than Min WPM"}},
        {{{SetupField::kLeadIn, "300"}}, {"LeadIn can't be greater than 250"}},
        {{{SetupField::kFarnsworth, "5"}}, {"Farns can't be greater than 99"}},
        {{{SetupField::kRatio, "67"}}, {"Dit/Dah Ratio must be between 33 and 66"}},
        {{{SetupField::kMaxWpm, "10"}, {SetupField::kMinWpm, "10"}},
         {"Max WPM must be greater than Min WPM"}},
        {{{SetupField::kMaxWpm, "30"}, {SetupField::kMinWpm, "4"}},
         {"Min or Max WPM is of allowable range"}},
    };
    for (const auto& row : rows) {
        store.SetDefaults();
        settings.keyer_settings.weight = 95;
        settings.keyer_settings.farnsworth = 20;
        SetupForm form = OpenSetupForm(station);
        for (const auto& [field, text] : row.typed) {
            form.texts[field] = text;
        }
        EXPECT_EQ(Done(&form, row.refusals.empty()), row.refusals)
            << "first typed: " << (row.typed.empty() ? "nothing" : row.typed[0].second);
        for (const SetupRefusal& refusal : refusals) {
            const bool keyer_field = refusal.text.find("WPM") == std::string::npos;
            EXPECT_EQ(refusal.warning, keyer_field);
        }
    }
    EXPECT_EQ(keyer.lead_in, 0) << "300 is refused whole, not as its low byte 44";
}

TEST_F(SetupFormTest, FailedDoneKeepsTheValidFieldsTheRangeAndTheNetworkUnsaved) {
    SetupForm form = OpenSetupForm(station);
    form.texts[SetupField::kWeight] = "60";
    form.texts[SetupField::kLeadIn] = "300";
    form.texts[SetupField::kTail] = "7";
    form.texts[SetupField::kMinWpm] = "10";
    form.texts[SetupField::kMaxWpm] = "40";
    form.checks[SetupField::kSwap] = true;
    form.checks[SetupField::kEnablePtt] = true;
    form.checks[SetupField::kKeyerPortEnable] = false;
    form.checks[SetupField::kRemoteSidetone] = true;
    form.checks[SetupField::kIpOverride] = true;
    form.checks[SetupField::kLetterPaddle] = true;
    form.checks[SetupField::kNetworkOff] = false;
    form.checks[SetupField::kNetClient] = true;
    form.selections[SetupField::kRole] = 2;
    form.texts[SetupField::kIpAddress] = "10.0.0.9";
    form.texts[SetupField::kIpPort] = "7373";
    Done(&form, false);

    EXPECT_EQ(keyer.weight, 60);
    EXPECT_EQ(keyer.lead_in, 0);
    EXPECT_EQ(keyer.tail, 0) << "fields after the refused one are not examined";
    EXPECT_EQ(keyer.min_wpm, 10);
    EXPECT_EQ(keyer.wpm_range, 30);
    EXPECT_EQ(keyer.mode_register & kModeSwap, 0) << "the choices wait for a clean pass";
    EXPECT_EQ(keyer.pin_config, kPinEnablePtt);
    EXPECT_EQ(settings.net_flags, kNetModeClient | kNetLocalKeyerDisabled | kNetRemoteSidetone |
                                      kNetIpAddrOverride | kNetLetterPaddle);
    EXPECT_STREQ(settings.ip_address, "10.0.0.9");
    EXPECT_EQ(settings.ip_port, 7373u);
    EXPECT_FALSE(std::filesystem::exists(store.config_path()));

    form.texts[SetupField::kLeadIn] = "200";
    Done(&form, true);
    std::ifstream file(store.config_path(), std::ios::binary);
    const std::vector<char> image((std::istreambuf_iterator<char>(file)), {});
    ASSERT_EQ(image.size(), sizeof settings);
    EXPECT_EQ(std::memcmp(image.data(), &settings, sizeof settings), 0);
    EXPECT_EQ(keyer.tail, 7);
}

// A port typed in is one a socket can use; one a file written elsewhere holds stays.
TEST_F(SetupFormTest, DoneRefusesAPortOutsideOneTo65535UnlessTheFileHeldIt) {
    const struct {
        uint32_t stored;
        const char* typed;
        Texts refusals;
        uint32_t kept;
    } rows[] = {
        {81, "65535", {}, 65535},
        {81, "1", {}, 1},
        {81, "70000", {"IP Port must be between 1 and 65535"}, 81},
        {81, "0", {"IP Port must be between 1 and 65535"}, 81},
        {81, "port", {"IP Port must be between 1 and 65535"}, 81},
        {70000, "70000", {}, 70000},
    };
    for (const auto& row : rows) {
        store.SetDefaults();
        store.PublishNetFlags(kNetModeServer);
        settings.ip_port = row.stored;
        SetupForm form = OpenSetupForm(station);
        form.texts[SetupField::kIpPort] = row.typed;
        EXPECT_EQ(Done(&form, row.refusals.empty()), row.refusals) << row.typed;
        EXPECT_EQ(settings.ip_port, row.kept) << row.typed;
    }
}

TEST_F(SetupFormTest, NetworkOffLetsTheEchoBoxesDecideARoleOverridesThem) {
    settings.net_flags = kNetRoleRemoteSide;
    SetupForm form = OpenSetupForm(station);
    form.selections[SetupField::kRole] = 1;
    form.checks[SetupField::kPaddleEcho] = false;
    form.checks[SetupField::kSerialEcho] = true;
    Done(&form, true);
    EXPECT_EQ(keyer.mode_register & (kModePaddleEcho | kModeSerialEcho), kModeSerialEcho);
    EXPECT_EQ(store.NetRole(), kNetRoleRemoteSide) << "the role list is ignored with Network Off";

    form.checks[SetupField::kNetworkOff] = false;
    form.checks[SetupField::kNetServer] = true;
    Done(&form, true);
    EXPECT_EQ(keyer.mode_register & (kModePaddleEcho | kModeSerialEcho), kModePaddleEcho);
    EXPECT_EQ(store.NetRole(), kNetRoleControlPoint);
    EXPECT_EQ(store.NetMode(), kNetModeServer);
}

TEST_F(SetupFormTest, LoweringMaxBelowTheSpeedLeavesTheSpeed) {
    settings.keyer_settings.wpm = 30;
    window.SetControlText(IDC_WPM, "30");
    SetupForm form = OpenSetupForm(station);
    form.texts[SetupField::kMaxWpm] = "25";
    form.texts[SetupField::kWeight] = "95";
    Done(&form, false);
    EXPECT_EQ(window.Text(IDC_WPM), "25") << "a refused attempt leaves the new maximum shown";

    form.texts[SetupField::kWeight] = "50";
    Done(&form, true);
    EXPECT_EQ(keyer.wpm, 30);
    EXPECT_EQ(window.Text(IDC_WPM), "30");
    EXPECT_TRUE(window.Enabled(IDC_WPM));
}

TEST_F(SetupFormTest, PotLockHandsTheSpeedToThePotAndBack) {
    station.LockSpeedToPot(true);
    SetupForm form = OpenSetupForm(station);
    EXPECT_TRUE(form.checks[SetupField::kPotLock]);
    EXPECT_FALSE(form.enabled[SetupField::kPotLock]) << "no keyer, no pot";
    EXPECT_FALSE(station.IsSpeedFromPot());
    Done(&form, true);
    EXPECT_EQ(keyer.wpm, 0);
    EXPECT_TRUE(station.IsSpeedFromPot());
    EXPECT_FALSE(window.Enabled(IDC_WPM));

    form.checks[SetupField::kPotLock] = false;
    Done(&form, true);
    EXPECT_EQ(keyer.wpm, keyer.min_wpm) << "a speed of 0 takes the pot's lowest";

    AttachKeyer(23);
    Done(&form, true);
    EXPECT_EQ(keyer.wpm, keyer.min_wpm) << "no pot reading yet: no speed of 0";
    station.OnSpeedPot(27);  // the keyer's pot, as its reader hands the reading on
    Done(&form, true);
    EXPECT_EQ(keyer.wpm, 27);
    EXPECT_EQ(window.Text(IDC_WPM), "27");
}

TEST_F(SetupFormTest, PaddleOnlyNeedsAKeyerOfVersionTwentyOrLater) {
    settings.keyer_settings.sidetone = kSidetonePaddleOnly | kSidetoneStartupMarker | 5;
    SetupForm form = OpenSetupForm(station);
    EXPECT_FALSE(form.enabled[SetupField::kPaddleOnly]);
    EXPECT_EQ(form.selections[SetupField::kSidetoneFrequency], 4) << "800 Hz stays visible";
    form.checks[SetupField::kPaddleOnly] = true;
    Done(&form, true);
    EXPECT_EQ(keyer.sidetone, 5);

    AttachKeyer(23);
    settings.keyer_settings.sidetone = kSidetonePaddleOnly | 5;
    form = OpenSetupForm(station);
    EXPECT_TRUE(form.checks[SetupField::kPaddleOnly]);
    form.selections[SetupField::kSidetoneFrequency] = 9;
    Done(&form, true);
    EXPECT_EQ(keyer.sidetone, kSidetonePaddleOnly | 10);
}

TEST_F(SetupFormTest, TailDecidesWhetherPaddleHangCanBeChosen) {
    SetupForm form = OpenSetupForm(station);
    EXPECT_TRUE(form.enabled[SetupField::kPaddleHang]);
    form.texts[SetupField::kTail] = "12";
    Done(&form, true);
    EXPECT_FALSE(form.enabled[SetupField::kPaddleHang]);
    EXPECT_FALSE(OpenSetupForm(station).enabled[SetupField::kPaddleHang]);
}

TEST_F(SetupFormTest, NetworkClicksEnableWhatTheModeUses) {
    SetupForm form = OpenSetupForm(station);
    ReactToSetupClick(SetupField::kNetServer, &form);
    EXPECT_FALSE(form.enabled[SetupField::kIpAddress] ||
                 form.enabled[SetupField::kKeyerPortEnable]);
    EXPECT_TRUE(form.enabled[SetupField::kIpOverride] && form.enabled[SetupField::kIpPort]);
    form.checks[SetupField::kIpOverride] = true;
    ReactToSetupClick(SetupField::kIpOverride, &form);
    EXPECT_TRUE(form.enabled[SetupField::kIpAddress]);
    form.checks[SetupField::kKeyerPortEnable] = false;
    ReactToSetupClick(SetupField::kKeyerPortEnable, &form);
    EXPECT_FALSE(form.enabled[SetupField::kKeyerPort]);
    ReactToSetupClick(SetupField::kNetClient, &form);
    EXPECT_TRUE(form.enabled[SetupField::kKeyerPort] && form.enabled[SetupField::kKeyerPortEnable]);
    EXPECT_FALSE(form.enabled[SetupField::kIpOverride]);
}

// Each list position through "Done" into the record's bits, and back out at the next opening.
TEST_F(SetupFormTest, EveryListPositionStoresItsBitsAndOpensAgainAsStored) {
    const auto choose = [&](SetupField list, int position, bool ptt) {
        store.SetDefaults();
        SetupForm form = OpenSetupForm(station);
        form.selections[list] = position;
        form.checks[SetupField::kEnablePtt] = ptt;
        form.checks[SetupField::kNetworkOff] = list != SetupField::kRole;
        form.checks[SetupField::kNetClient] = list == SetupField::kRole;
        Done(&form, true);
        EXPECT_EQ(OpenSetupForm(station).selections[list], position)
            << "list " << static_cast<int>(list);
    };
    const uint8_t key_modes[] = {0x10, 0x00, 0x20, 0x20, 0x20, 0x30};
    const uint8_t priorities[] = {0x00, 0x00, 0x00, 0x80, 0x40, 0x00};
    for (int p = 0; p < 6; ++p) {
        choose(SetupField::kCwMode, p, false);
        EXPECT_EQ(keyer.mode_register & kModeKeyMask, key_modes[p]) << "CW Mode " << p;
        EXPECT_EQ(keyer.pin_config & kPinUltimaticMask, priorities[p]) << "CW Mode " << p;
    }
    const uint8_t port_outputs[] = {0x04, 0x07, 0x08, 0x0A};  // PTT on only at position 1
    const uint8_t pin_outputs[] = {0x05, 0x06, 0x04, 0x08};   // PTT on only at position 0
    for (int p = 0; p < 4; ++p) {
        choose(SetupField::kPaddleHang, p, false);
        EXPECT_EQ(keyer.pin_config & kPinPaddleHangMask, p * 0x10);
    }
    AttachKeyer(23);
    for (int p = 0; p < 4; ++p) {
        choose(SetupField::kOutputSetup, p, p == 1);
        EXPECT_EQ(keyer.pin_config & 0x0F, port_outputs[p]) << "Port list " << p;
    }
    AttachKeyer(19);
    for (int p = 0; p < 4; ++p) {
        choose(SetupField::kOutputSetup, p, p == 0);
        EXPECT_EQ(keyer.pin_config & 0x0F, pin_outputs[p]) << "P3= list " << p;
    }
    const uint32_t roles[] = {kNetRoleConverse, kNetRoleControlPoint, kNetRoleRemoteSide};
    for (int p = 0; p < 3; ++p) {
        choose(SetupField::kRole, p, false);
        EXPECT_EQ(store.NetRole(), roles[p]);
    }
}

}  // namespace

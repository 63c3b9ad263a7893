// The Setup dialog's form: what opening shows, what "Done" refuses, stores and saves. No
// keyer is attached, so the keyer calls of "Done" find host mode closed and do nothing.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/main_window_view.h"
#include "app/resource_ids.h"
#include "app/setup_form.h"
#include "keyer/serial_port.h"
#include "messages/message_sender.h"
#include "settings/settings_record.h"
#include "settings/settings_store.h"
#include "station/station.h"
#include "tests/host/station_on_file.h"
#include "tests/support/recording_window.h"
#include "tests/support/temp_folder.h"

namespace {

class SetupFormTest : public ::testing::Test, protected StationOnFile {
  protected:
    // A started message stays started, with no thread sending it, until something stops it.
    SetupFormTest() : StationOnFile([](int) {}) {}

    void SetUp() override {
        store.SetDefaults();
        SetKeyerPortPathPattern(folder.File("com%d"));
        station.state().local_keyer_open = 0;
        station.state().pot_speed_active = 0;
        station.state().pot_wpm = 0;
    }

    // "Done" with what the form holds; the texts of the refusals it showed, in order.
    std::vector<std::string> Done(SetupForm* form, bool expect_close) {
        const size_t before = window.MessageBoxes().size();
        EXPECT_EQ(FinishSetupForm(form, window, window.Handle(), station), expect_close);
        std::vector<std::string> texts;
        const auto boxes = window.MessageBoxes();
        for (size_t i = before; i < boxes.size(); ++i) {
            EXPECT_EQ(boxes[i].caption, "Parameter Error");
            EXPECT_EQ(boxes[i].owner, window.Handle());
            texts.push_back(boxes[i].text);
        }
        return texts;
    }

    const KeyerSettings& keyer = settings.keyer_settings;
};

using Texts = std::vector<std::string>;

TEST_F(SetupFormTest, PortListShowsThePortsThatExistAndKeepsAStoredPortNotFound) {
    EXPECT_EQ(ProbePortDeviceName(9), "COM9");
    EXPECT_EQ(ProbePortDeviceName(12), "\\\\.\\COM12");
    for (const char* name : {"com3", "com12", "com33"}) {
        std::ofstream(folder.File(name)) << "";
    }
    settings.com_port = 12;
    ASSERT_TRUE(station.sender().Start(4, 4));
    SetupForm form = OpenSetupForm(station);
    EXPECT_EQ(station.sender().Sending(), 0) << "opening stops a message being sent";
    EXPECT_EQ(form.entries[IDC_SETUP_PORT], (Texts{"com3", "com12"}));
    EXPECT_EQ(form.port_numbers, (std::vector<int>{3, 12}));
    EXPECT_EQ(form.selections[IDC_SETUP_PORT], 1);

    form.selections[IDC_SETUP_PORT] = 0;
    Done(&form, true);
    EXPECT_EQ(settings.com_port, 3u);

    settings.com_port = 7;
    form = OpenSetupForm(station);
    EXPECT_EQ(form.selections[IDC_SETUP_PORT], kNoSelection);
    Done(&form, true);
    EXPECT_EQ(settings.com_port, 7u) << "no port chosen keeps the stored one";
}

// What one "Done" refuses, in order: the keyer fields up to the first refusal, then the
// WPM pair whatever happened before. Each row starts from the defaults (Min 5, Max 25) with a
// Weight of 95 from a hand-edited file and a Farns of 20.
TEST_F(SetupFormTest, DoneRefusesInOrderAndChecksOnlyChangedFields) {
    const struct {
        std::vector<std::pair<int, const char*>> typed;
        Texts refusals;
    } rows[] = {
        {{}, {}},
        {{{IDC_SETUP_WEIGHT, "60"}, {IDC_SETUP_FARNS, "0"}}, {}},
        {{{IDC_SETUP_WEIGHT, "91"}, {IDC_SETUP_LEAD_IN, "300"}},
         {"Weight must be between 10 and 90"}},
        {{{IDC_SETUP_WEIGHT, "91"}, {IDC_SETUP_MAX_WPM, "30"}, {IDC_SETUP_MIN_WPM, "40"}},
         {"Weight must be between 10 and 90", "Max WPM must be greater than Min WPM"}},
        {{{IDC_SETUP_LEAD_IN, "300"}}, {"LeadIn can't be greater than 250"}},
        {{{IDC_SETUP_FARNS, "5"}}, {"Farns can't be greater than 99"}},
        {{{IDC_SETUP_RATIO, "67"}}, {"Dit/Dah Ratio must be between 33 and 66"}},
        {{{IDC_SETUP_MAX_WPM, "10"}, {IDC_SETUP_MIN_WPM, "10"}},
         {"Max WPM must be greater than Min WPM"}},
        {{{IDC_SETUP_MAX_WPM, "30"}, {IDC_SETUP_MIN_WPM, "4"}},
         {"Min or Max WPM is of allowable range"}},
    };
    for (const auto& row : rows) {
        store.SetDefaults();
        settings.keyer_settings.weight = 95;
        settings.keyer_settings.farnsworth = 20;
        SetupForm form = OpenSetupForm(station);
        for (const auto& [id, text] : row.typed) {
            form.texts[id] = text;
        }
        EXPECT_EQ(Done(&form, row.refusals.empty()), row.refusals)
            << "first typed: " << (row.typed.empty() ? "nothing" : row.typed[0].second);
        const auto boxes = window.MessageBoxes();
        for (size_t i = boxes.size() - row.refusals.size(); i < boxes.size(); ++i) {
            const bool keyer_field = boxes[i].text.find("WPM") == std::string::npos;
            EXPECT_EQ(boxes[i].icon, keyer_field ? BoxIcon::kWarning : BoxIcon::kNone);
        }
    }
    EXPECT_EQ(keyer.lead_in, 0) << "300 is refused whole, not as its low byte 44";
}

TEST_F(SetupFormTest, FailedDoneKeepsTheValidFieldsTheRangeAndTheNetworkUnsaved) {
    SetupForm form = OpenSetupForm(station);
    form.texts[IDC_SETUP_WEIGHT] = "60";
    form.texts[IDC_SETUP_LEAD_IN] = "300";
    form.texts[IDC_SETUP_TAIL] = "7";
    form.texts[IDC_SETUP_MIN_WPM] = "10";
    form.texts[IDC_SETUP_MAX_WPM] = "40";
    form.checks[IDC_SETUP_SWAP] = true;
    form.checks[IDC_SETUP_ENABLE_PTT] = true;
    form.checks[IDC_SETUP_PORT_ENABLE] = false;
    form.checks[IDC_SETUP_REMOTE_SIDETONE] = true;
    form.checks[IDC_SETUP_IP_OVERRIDE] = true;
    form.checks[IDC_SETUP_LETTER_PADDLE] = true;
    form.checks[IDC_SETUP_NET_OFF] = false;
    form.checks[IDC_SETUP_NET_CLIENT] = true;
    form.selections[IDC_SETUP_ROLE] = 2;
    form.texts[IDC_SETUP_IP_ADDRESS] = "10.0.0.9";
    form.texts[IDC_SETUP_IP_PORT] = "70000";
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
    EXPECT_EQ(settings.ip_port, 70000u);
    EXPECT_FALSE(std::filesystem::exists(store.config_path()));

    form.texts[IDC_SETUP_LEAD_IN] = "200";
    Done(&form, true);
    std::ifstream file(store.config_path(), std::ios::binary);
    const std::vector<char> image((std::istreambuf_iterator<char>(file)), {});
    ASSERT_EQ(image.size(), sizeof settings);
    EXPECT_EQ(std::memcmp(image.data(), &settings, sizeof settings), 0);
    EXPECT_EQ(keyer.tail, 7);
}

TEST_F(SetupFormTest, NetworkOffLetsTheEchoBoxesDecideARoleOverridesThem) {
    settings.net_flags = kNetRoleRemoteSide;
    SetupForm form = OpenSetupForm(station);
    form.selections[IDC_SETUP_ROLE] = 1;
    form.checks[IDC_SETUP_PADDLE_ECHO] = false;
    form.checks[IDC_SETUP_SERIAL_ECHO] = true;
    Done(&form, true);
    EXPECT_EQ(keyer.mode_register & (kModePaddleEcho | kModeSerialEcho), kModeSerialEcho);
    EXPECT_EQ(store.NetRole(), kNetRoleRemoteSide) << "the role list is ignored with Network Off";

    form.checks[IDC_SETUP_NET_OFF] = false;
    form.checks[IDC_SETUP_NET_SERVER] = true;
    Done(&form, true);
    EXPECT_EQ(keyer.mode_register & (kModePaddleEcho | kModeSerialEcho), kModePaddleEcho);
    EXPECT_EQ(store.NetRole(), kNetRoleControlPoint);
    EXPECT_EQ(store.NetMode(), kNetModeServer);
}

TEST_F(SetupFormTest, LoweringMaxBelowTheSpeedLeavesTheSpeed) {
    settings.keyer_settings.wpm = 30;
    window.SetControlText(IDC_WPM, "30");
    SetupForm form = OpenSetupForm(station);
    form.texts[IDC_SETUP_MAX_WPM] = "25";
    form.texts[IDC_SETUP_WEIGHT] = "95";
    Done(&form, false);
    EXPECT_EQ(window.Text(IDC_WPM), "25") << "a refused attempt leaves the new maximum shown";

    form.texts[IDC_SETUP_WEIGHT] = "50";
    Done(&form, true);
    EXPECT_EQ(keyer.wpm, 30);
    EXPECT_EQ(window.Text(IDC_WPM), "30");
    EXPECT_TRUE(window.Enabled(IDC_WPM));
}

TEST_F(SetupFormTest, PotLockHandsTheSpeedToThePotAndBack) {
    station.state().pot_speed_active = 1;
    SetupForm form = OpenSetupForm(station);
    EXPECT_TRUE(form.checks[IDC_SETUP_POT_LOCK]);
    EXPECT_FALSE(form.enabled[IDC_SETUP_POT_LOCK]) << "no keyer, no pot";
    EXPECT_EQ(station.state().pot_speed_active, 0);
    Done(&form, true);
    EXPECT_EQ(keyer.wpm, 0);
    EXPECT_EQ(station.state().pot_speed_active, 1);
    EXPECT_FALSE(window.Enabled(IDC_WPM));

    form.checks[IDC_SETUP_POT_LOCK] = false;
    Done(&form, true);
    EXPECT_EQ(keyer.wpm, keyer.min_wpm) << "a speed of 0 takes the pot's lowest";

    station.state().local_keyer_open = 1;
    Done(&form, true);
    EXPECT_EQ(keyer.wpm, keyer.min_wpm) << "no pot reading yet: no speed of 0";
    station.state().pot_wpm = 27;
    Done(&form, true);
    EXPECT_EQ(keyer.wpm, 27);
    EXPECT_EQ(window.Text(IDC_WPM), "27");
}

TEST_F(SetupFormTest, PaddleOnlyNeedsAKeyerOfVersionTwentyOrLater) {
    settings.keyer_settings.sidetone = kSidetonePaddleOnly | kSidetoneStartupMarker | 5;
    SetupForm form = OpenSetupForm(station);
    EXPECT_FALSE(form.enabled[IDC_SETUP_PADDLE_ONLY]);
    EXPECT_EQ(form.selections[IDC_SETUP_FREQ], 4) << "800 Hz stays visible";
    form.checks[IDC_SETUP_PADDLE_ONLY] = true;
    Done(&form, true);
    EXPECT_EQ(keyer.sidetone, 5);

    station.keyer().OpenHostWithoutPort(23);
    settings.keyer_settings.sidetone = kSidetonePaddleOnly | 5;
    form = OpenSetupForm(station);
    EXPECT_TRUE(form.checks[IDC_SETUP_PADDLE_ONLY]);
    form.selections[IDC_SETUP_FREQ] = 9;
    Done(&form, true);
    EXPECT_EQ(keyer.sidetone, kSidetonePaddleOnly | 10);
}

TEST_F(SetupFormTest, TailDecidesWhetherPaddleHangCanBeChosen) {
    SetupForm form = OpenSetupForm(station);
    EXPECT_TRUE(form.enabled[IDC_SETUP_PADDLE_HANG]);
    form.texts[IDC_SETUP_TAIL] = "12";
    Done(&form, true);
    EXPECT_FALSE(form.enabled[IDC_SETUP_PADDLE_HANG]);
    EXPECT_FALSE(OpenSetupForm(station).enabled[IDC_SETUP_PADDLE_HANG]);
}

TEST_F(SetupFormTest, NetworkClicksEnableWhatTheModeUses) {
    SetupForm form = OpenSetupForm(station);
    ReactToSetupClick(IDC_SETUP_NET_SERVER, &form);
    EXPECT_FALSE(form.enabled[IDC_SETUP_IP_ADDRESS] || form.enabled[IDC_SETUP_PORT_ENABLE]);
    EXPECT_TRUE(form.enabled[IDC_SETUP_IP_OVERRIDE] && form.enabled[IDC_SETUP_IP_PORT]);
    form.checks[IDC_SETUP_IP_OVERRIDE] = true;
    ReactToSetupClick(IDC_SETUP_IP_OVERRIDE, &form);
    EXPECT_TRUE(form.enabled[IDC_SETUP_IP_ADDRESS]);
    form.checks[IDC_SETUP_PORT_ENABLE] = false;
    ReactToSetupClick(IDC_SETUP_PORT_ENABLE, &form);
    EXPECT_FALSE(form.enabled[IDC_SETUP_PORT]);
    ReactToSetupClick(IDC_SETUP_NET_CLIENT, &form);
    EXPECT_TRUE(form.enabled[IDC_SETUP_PORT] && form.enabled[IDC_SETUP_PORT_ENABLE]);
    EXPECT_FALSE(form.enabled[IDC_SETUP_IP_OVERRIDE]);
}

// Each list position through "Done" into the record's bits, and back out at the next opening.
TEST_F(SetupFormTest, EveryListPositionStoresItsBitsAndOpensAgainAsStored) {
    const auto choose = [&](int list, int position, bool ptt) {
        store.SetDefaults();
        SetupForm form = OpenSetupForm(station);
        form.selections[list] = position;
        form.checks[IDC_SETUP_ENABLE_PTT] = ptt;
        form.checks[IDC_SETUP_NET_OFF] = list != IDC_SETUP_ROLE;
        form.checks[IDC_SETUP_NET_CLIENT] = list == IDC_SETUP_ROLE;
        Done(&form, true);
        EXPECT_EQ(OpenSetupForm(station).selections[list], position) << "list " << list;
    };
    const uint8_t key_modes[] = {0x10, 0x00, 0x20, 0x20, 0x20, 0x30};
    const uint8_t priorities[] = {0x00, 0x00, 0x00, 0x80, 0x40, 0x00};
    for (int p = 0; p < 6; ++p) {
        choose(IDC_SETUP_CW_MODE, p, false);
        EXPECT_EQ(keyer.mode_register & kModeKeyMask, key_modes[p]) << "CW Mode " << p;
        EXPECT_EQ(keyer.pin_config & kPinUltimaticMask, priorities[p]) << "CW Mode " << p;
    }
    const uint8_t port_outputs[] = {0x04, 0x07, 0x08, 0x0A};  // PTT on only at position 1
    const uint8_t pin_outputs[] = {0x05, 0x06, 0x04, 0x08};   // PTT on only at position 0
    for (int p = 0; p < 4; ++p) {
        choose(IDC_SETUP_PADDLE_HANG, p, false);
        EXPECT_EQ(keyer.pin_config & kPinPaddleHangMask, p * 0x10);
        station.keyer().OpenHostWithoutPort(23);
        choose(IDC_SETUP_OUTPUT, p, p == 1);
        EXPECT_EQ(keyer.pin_config & 0x0F, port_outputs[p]) << "Port list " << p;
        station.keyer().OpenHostWithoutPort(19);
        choose(IDC_SETUP_OUTPUT, p, p == 0);
        EXPECT_EQ(keyer.pin_config & 0x0F, pin_outputs[p]) << "P3= list " << p;
    }
    const uint32_t roles[] = {kNetRoleConverse, kNetRoleControlPoint, kNetRoleRemoteSide};
    for (int p = 0; p < 3; ++p) {
        choose(IDC_SETUP_ROLE, p, false);
        EXPECT_EQ(store.NetRole(), roles[p]);
    }
}

}  // namespace

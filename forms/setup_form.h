// The Setup dialog without its window, each field by what it means. Opening turns the Settings
// record and what the station knows of its keyer into the states of the dialog's fields; a
// click on a network field enables and disables others; "Done" validates what the fields
// hold, stores it, and has the station save and apply it. A front end copies field states in
// and out of a SetupForm and shows the refusals "Done" returns: the Windows dialog in boxes
// over its controls, the site's `config set` as lines.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

class Station;

constexpr int kNoSelection = -1;

// Every field of the dialog that holds a setting.
enum class SetupField {
    kOpenAtStart,  // "Open TCP/IP Connection" at start
    kWeight,
    kLeadIn,
    kTail,
    kFarnsworth,
    kRatio,  // dit/dah
    kCompensation,
    kFirstExtension,
    kSample,  // the paddle's sample point
    kSwap,
    kAutoSpace,
    kCtSpacing,
    kPaddleDog,
    kPaddleEcho,
    kSerialEcho,
    kEnablePtt,
    kLetterPaddle,
    kMaxWpm,
    kMinWpm,
    kPotLock,
    kPaddleOnly,         // sidetone for the paddles only
    kSidetoneFrequency,  // a list
    kNetworkOff,         // the three network radio buttons
    kNetClient,
    kNetServer,
    kIpAddress,
    kIpPort,
    kIpOverride,  // a Net Server listens on the address given, not on this machine's
    kRemoteSidetone,
    kRole,        // a list
    kCwMode,      // a list
    kPaddleHang,  // a list
    kKeyerPort,   // a list: the keyer ports that exist
    kKeyerPortEnable,
    kOutputSetup,  // a list, whose entries depend on the keyer's generation
};

// The states of the dialog's fields. Opening fills every map with every field it governs; a
// front end reads the same fields back before each click and "Done".
struct SetupForm {
    std::map<SetupField, std::string> texts;                 // number and address fields
    std::map<SetupField, bool> checks;                       // check boxes and radio buttons
    std::map<SetupField, std::vector<std::string>> entries;  // each list, position 0 first
    std::map<SetupField, int> selections;  // each list's position, or kNoSelection
    std::map<SetupField, bool> enabled;    // fields the dialog enables and disables
    std::vector<int> port_numbers;         // the keyer port of each port entry
    // The keyer generation the Output Setup entries were made for (version 20 or later).
    bool extended_keyer = false;
};

// What "Done" refused, as the dialog's box says it.
struct SetupRefusal {
    std::string caption;
    std::string text;
    bool warning;  // the box shows the warning sign
};

// Lets `station` prepare for its Setup (see Station::OpenSetup), and shows its record.
SetupForm OpenSetupForm(Station& station);

// The Output Setup position that `pin_config` shows, in the list of the attached keyer's
// generation (`keyer_v2`: version 20 or later).
int OutputSetupIndex(uint8_t pin_config, bool keyer_v2);

// A click on "Network Off", "Net Client", "Net Server", the keyer port's enable or "IP Addr
// Override": enables and disables fields, and stores nothing. Other fields change nothing.
void ReactToSetupClick(SetupField field, SetupForm* form);

// "Done". `speed_shown` is the speed the station's speed field shows (0: none). Returns the
// refusals in the order the dialog shows them; none when everything passed, the record is
// saved and applied, and the dialog closes. After a refusal the dialog stays open with what
// the refused attempt stored in the record, unsaved.
std::vector<SetupRefusal> FinishSetupForm(SetupForm* form, Station& station, uint32_t speed_shown);

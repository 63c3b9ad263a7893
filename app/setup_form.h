// The Setup dialog without its window. Opening turns the Settings record and the runtime
// state into the states of the dialog's controls; a click on a network control enables and
// disables others; "Done" validates what the controls hold, stores it, saves and applies.
// The Windows dialog procedure only copies control states in and out of a SetupForm.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "app/window.h"

class Station;

constexpr int kNoSelection = -1;
constexpr int kHighestComPort = 32;

extern const char kParameterErrorCaption[];

// The states of the dialog's controls, by control id. Opening fills every map with every
// control it governs; the dialog reads the same ids back before each click and "Done".
struct SetupForm {
    std::map<int, std::string> texts;                 // edit fields
    std::map<int, bool> checks;                       // check boxes and radio buttons
    std::map<int, std::vector<std::string>> entries;  // each drop-down list, position 0 first
    std::map<int, int> selections;                    // each list's position, or kNoSelection
    std::map<int, bool> enabled;                      // controls the dialog enables and disables
    std::vector<int> port_numbers;                    // the COM port of each port list entry
};

// Stops a message being sent, lists the COM ports that exist, and shows the record and
// `station`'s state.
SetupForm OpenSetupForm(Station& station);

// The Output Setup position that `pin_config` shows, in the list of the attached keyer's
// generation (`keyer_v2`: version 20 or later).
int OutputSetupIndex(uint8_t pin_config, bool keyer_v2);

// A click on "Network Off", "Net Client", "Net Server", "Enable" or "IP Addr Override":
// enables and disables controls, and stores nothing. Other ids change nothing.
void ReactToSetupClick(int id, SetupForm* form);

// "Done". Shows each refusal in a "Parameter Error" box owned by `owner`, through `window`,
// the Main window, whose speed field a narrower pot range cuts back. Returns true when
// everything passed, the record is saved and applied, and the dialog closes; false leaves
// the dialog open with what the refused attempt stored in the record, unsaved.
bool FinishSetupForm(SetupForm* form, WindowBackend& window, WindowHandle owner, Station& station);

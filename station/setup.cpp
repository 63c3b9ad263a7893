// What the Setup dialog asks of the station beyond the record it edits: the keyer's ports and
// generation to show, the speed pot's range and lock, and the save and load after "Done".
#include <cstdint>

#include "keyer/keyer_link.h"
#include "keyer/keyer_wire.h"
#include "keyer/serial_port.h"
#include "messages/message_sender.h"
#include "settings/settings_record.h"
#include "station/settings_file.h"
#include "station/station.h"

namespace {

constexpr int kHighestKeyerPort = 32;

}  // namespace

SetupStart Station::OpenSetup() {
    SetupStart start;
    for (int n = 1; n <= kHighestKeyerPort; ++n) {
        if (HasKeyerPort(n)) {
            start.keyer_ports.push_back(n);
        }
    }
    sender_.Stop();
    start.extended_keyer = keyer_wire::IsExtendedKeyerVersion(keyer_.Version());
    start.keyer_open = state_.local_keyer_open.load() != 0;
    start.pot_lock = state_.pot_speed_active.load() != 0;
    // Without a keyer there is no pot to follow.
    if (!start.keyer_open) {
        state_.pot_speed_active = 0;
    }
    return start;
}

void Station::SetSpeedPotRange(uint8_t lowest, uint8_t highest, uint32_t speed_shown) {
    KeyerSettings& keyer = record().keyer_settings;
    keyer.wpm_range = static_cast<uint8_t>(highest - lowest);
    keyer.min_wpm = lowest;
    keyer_.RequestSpeedPot();
    if (speed_shown > highest) {
        view_.ShowSpeed(highest);
    }
}

void Station::LockSpeedToPot(bool locked) {
    uint8_t& wpm = record().keyer_settings.wpm;
    if (locked) {
        state_.pot_speed_active = 1;
        wpm = 0;
        view_.AllowSpeedEntry(false);
        return;
    }
    state_.pot_speed_active = 0;
    // A pot reading of 0 means none has arrived yet; taking it would store 0, which hands
    // the speed back to the pot that the lock just released.
    const uint8_t pot = state_.pot_wpm.load();
    if (state_.local_keyer_open.load() != 0 && pot != 0) {
        wpm = pot;
    } else if (wpm == 0) {
        wpm = record().keyer_settings.min_wpm;
    }
    view_.ShowSpeed(wpm);
    view_.AllowSpeedEntry(true);
}

void Station::ApplySetup() {
    SaveSettingsFile(settings_, view_);
    ApplyKeyerSettings();
}

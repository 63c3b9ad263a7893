// How the Setup dialog's controls map onto the Settings record.
//
// The record packs several controls into one byte and one control into several: the CW
// Mode list writes the key mode of `mode_register` and the Ultimatic priority of
// `pin_config`; the network role overrides the two echo boxes; the Output Setup list means
// different pins for the two keyer generations. Each of those rules is written once below,
// as a table or one function, and opening and "Done" both go through it, so what "Done"
// stores is what the next opening shows.
//
// "Done" is deliberately not all-or-nothing: the keyer fields are stored one by one until
// the first refusal, the speed-pot range and the network fields are stored even after a
// refusal, and only the save and the apply wait for a clean pass. An operator who fixes the
// refused field and presses "Done" again loses nothing that was typed.
#include "app/setup_form.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "app/resource_ids.h"
#include "keyer/keyer_link.h"
#include "keyer/serial_port.h"
#include "messages/message_sender.h"
#include "settings/field_number.h"
#include "settings/settings_record.h"
#include "station/settings_file.h"
#include "station/station.h"

const char kParameterErrorCaption[] = "Parameter Error";

namespace {

// The eight number fields of "Keyer Settings", in the order "Done" checks them.
struct KeyerField {
    int id;
    uint8_t KeyerSettings::*value;
    uint32_t lowest;
    uint32_t highest;
    bool zero_allowed;  // besides lowest..highest
    const char* refusal;
};

const KeyerField kKeyerFields[] = {
    {IDC_SETUP_WEIGHT, &KeyerSettings::weight, 10, 90, false, "Weight must be between 10 and 90"},
    {IDC_SETUP_LEAD_IN, &KeyerSettings::lead_in, 0, 250, false, "LeadIn can't be greater than 250"},
    {IDC_SETUP_TAIL, &KeyerSettings::tail, 0, 250, false, "Tail can't be greater than 250"},
    {IDC_SETUP_FIRST_EXT, &KeyerSettings::first_extension, 0, 250, false,
     "Xtnd can't be greater than 250"},
    {IDC_SETUP_COMP, &KeyerSettings::key_compensation, 0, 250, false,
     "Kcomp can't be greater than 250"},
    {IDC_SETUP_FARNS, &KeyerSettings::farnsworth, 10, 99, true, "Farns can't be greater than 99"},
    {IDC_SETUP_SAMPLE, &KeyerSettings::paddle_setpoint, 10, 90, false,
     "SampAdj must be between 10 and 90"},
    {IDC_SETUP_RATIO, &KeyerSettings::dit_dah_ratio, 33, 66, false,
     "Dit/Dah Ratio must be between 33 and 66"},
};

constexpr uint32_t kLowestWpm = 5;
constexpr uint32_t kHighestWpm = 99;
const char kMaxNotAboveMin[] = "Max WPM must be greater than Min WPM";
const char kWpmOutOfRange[] = "Min or Max WPM is of allowable range";

// The check boxes that stand for one bit each, whatever else is chosen.
struct FlagBox {
    int id;
    uint8_t bit;
};
const FlagBox kModeBoxes[] = {
    {IDC_SETUP_SWAP, kModeSwap},
    {IDC_SETUP_AUTOSPACE, kModeAutoSpace},
    {IDC_SETUP_CT_SPACING, kModeCtSpacing},
};
struct NetFlagBox {
    int id;
    uint32_t bit;
};
const NetFlagBox kNetFlagBoxes[] = {
    {IDC_SETUP_REMOTE_SIDETONE, kNetRemoteSidetone},
    {IDC_SETUP_IP_OVERRIDE, kNetIpAddrOverride},
    {IDC_SETUP_LETTER_PADDLE, kNetLetterPaddle},
};

const std::vector<std::string> kCwModeEntries = {"Iambic A", "Iambic B", "Ultimatic",
                                                 "UltimDah", "UltimDit", "VibroBug"};
const std::vector<std::string> kPaddleHangEntries = {"1.0 Word", "1.3 Word", "1.6 Word",
                                                     "2.0 Word"};
const std::vector<std::string> kRoleEntries = {"Converse", "ControlPoint", "RemoteSide"};
const std::vector<std::string> kSidetoneEntries = {"4000 Hz", "2000 Hz", "1333 Hz", "1000 Hz",
                                                   "800 Hz",  "666 Hz",  "571 Hz",  "500 Hz",
                                                   "444 Hz",  "400 Hz"};
const std::vector<std::string> kPortOutputEntries = {"Port 1, Tone Off", "Port 1, Tone On",
                                                     "Port 2, Tone Off", "Port 2, Tone On"};
const std::vector<std::string> kPinOutputEntries = {"P3=Key, P5=PTT", "P3=Key, P5=Tone",
                                                    "P3=Key, P5=Off", "P3=Off, P5=Key"};

// The low four bits of `pin_config` that each Output Setup position stands for.
const uint8_t kPortOutputCodes[] = {0x05, 0x07, 0x09, 0x0B};
const uint8_t kPinOutputCodes[] = {0x05, 0x06, 0x04, 0x08};
constexpr uint8_t kPinLowBits = 0x0F;

// CW Mode positions: the key mode, and the Ultimatic priority they set (none: left alone).
struct CwMode {
    uint8_t key_mode;
    bool sets_priority;
    uint8_t priority;
};
const CwMode kCwModes[] = {
    {0x10, false, 0},   {0x00, false, 0},   {0x20, true, 0x00},
    {0x20, true, 0x80}, {0x20, true, 0x40}, {0x30, false, 0},
};

const uint32_t kRoles[] = {kNetRoleConverse, kNetRoleControlPoint, kNetRoleRemoteSide};
const uint32_t kNetModes[] = {kNetModeOff, kNetModeClient, kNetModeServer};
const int kNetModeIds[] = {IDC_SETUP_NET_OFF, IDC_SETUP_NET_CLIENT, IDC_SETUP_NET_SERVER};

constexpr size_t kMaxAddressLength = kTextFieldSize - 1;

template <typename Bits, typename Bit>
void SetBit(Bits* bits, Bit bit, bool on) {
    if (on) {
        *bits = static_cast<Bits>(*bits | bit);
    } else {
        *bits = static_cast<Bits>(*bits & ~bit);
    }
}

// A list position, or kNoSelection when `count` entries have none there.
int Position(int position, size_t count) {
    return position >= 0 && static_cast<size_t>(position) < count ? position : kNoSelection;
}

int Selected(const SetupForm& form, int id, size_t count) {
    const auto found = form.selections.find(id);
    return found == form.selections.end() ? kNoSelection : Position(found->second, count);
}

bool Checked(const SetupForm& form, int id) {
    const auto found = form.checks.find(id);
    return found != form.checks.end() && found->second;
}

uint32_t NumberIn(const SetupForm& form, int id) {
    const auto found = form.texts.find(id);
    return found == form.texts.end() ? 0 : UnsignedFromText(found->second).value_or(0);
}

int CwModePosition(uint8_t mode_register, uint8_t pin_config) {
    switch (mode_register & kModeKeyMask) {
        case 0x10:
            return 0;
        case 0x00:
            return 1;
        case 0x30:
            return 5;
        default:
            if ((pin_config & 0x80) != 0) {
                return 3;
            }
            return (pin_config & 0x40) != 0 ? 4 : 2;
    }
}

int RolePosition(uint32_t role) {
    for (size_t i = 0; i < std::size(kRoles); ++i) {
        if (kRoles[i] == role) {
            return static_cast<int>(i);
        }
    }
    return kNoSelection;
}

void ShowNetworkEnables(uint32_t net_mode, bool address_override, SetupForm* form) {
    form->enabled[IDC_SETUP_IP_ADDRESS] =
        net_mode == kNetModeClient || (net_mode == kNetModeServer && address_override);
    form->enabled[IDC_SETUP_IP_PORT] = net_mode != kNetModeOff;
    form->enabled[IDC_SETUP_IP_OVERRIDE] = net_mode == kNetModeServer;
}

void ListPorts(uint32_t stored_port, SetupForm* form) {
    int position = kNoSelection;
    std::vector<std::string>& entries = form->entries[IDC_SETUP_PORT];
    for (int n = 1; n <= kHighestComPort; ++n) {
        if (!KeyerPortPresent(n)) {
            continue;
        }
        if (static_cast<uint32_t>(n) == stored_port) {
            position = static_cast<int>(form->port_numbers.size());
        }
        form->port_numbers.push_back(n);
        entries.push_back("com" + std::to_string(n));
    }
    form->selections[IDC_SETUP_PORT] = position;
}

// The eight keyer fields: the first refusal ends the checks; a field that still holds the
// stored value is not checked at all, so an odd value from a hand-edited file survives.
bool StoreKeyerFields(SetupForm* form, WindowBackend& window, WindowHandle owner,
                      KeyerSettings& stored_block) {
    for (const KeyerField& field : kKeyerFields) {
        const uint32_t value = NumberIn(*form, field.id);
        uint8_t& stored = stored_block.*field.value;
        if (value == stored) {
            continue;
        }
        const bool accepted =
            (field.zero_allowed && value == 0) || (value >= field.lowest && value <= field.highest);
        if (!accepted) {
            window.ShowMessageBox(owner, field.refusal, kParameterErrorCaption, BoxIcon::kWarning);
            return false;
        }
        stored = static_cast<uint8_t>(value);
        if (field.id == IDC_SETUP_TAIL) {
            form->enabled[IDC_SETUP_PADDLE_HANG] = value == 0;
        }
    }
    return true;
}

bool StoreSpeedPotRange(const SetupForm& form, WindowBackend& window, WindowHandle owner,
                        Station& station) {
    const uint32_t highest = NumberIn(form, IDC_SETUP_MAX_WPM);
    const uint32_t lowest = NumberIn(form, IDC_SETUP_MIN_WPM);
    if (highest <= lowest) {
        window.ShowMessageBox(owner, kMaxNotAboveMin, kParameterErrorCaption, BoxIcon::kNone);
        return false;
    }
    if (lowest < kLowestWpm || lowest > kHighestWpm || highest < kLowestWpm ||
        highest > kHighestWpm) {
        window.ShowMessageBox(owner, kWpmOutOfRange, kParameterErrorCaption, BoxIcon::kNone);
        return false;
    }
    KeyerSettings& keyer = station.settings().record().keyer_settings;
    keyer.wpm_range = static_cast<uint8_t>(highest - lowest);
    keyer.min_wpm = static_cast<uint8_t>(lowest);
    station.keyer().RequestSpeedPot();
    if (UnsignedFromText(window.GetControlText(IDC_WPM)).value_or(0) > highest) {
        station.view().ShowSpeed(static_cast<int>(highest));
    }
    return true;
}

// The choices, stored only after a clean pass. A list with no position chosen (its edit
// field holds typed text) leaves its part of the record as it was.
void StoreChoices(const SetupForm& form, Station& station) {
    StationState& state = station.state();
    SettingsStore& store = station.settings();
    SettingsRecord& settings = store.record();
    // The keyer last attached: the newer ones name their outputs differently and have the
    // paddle-only sidetone.
    const bool v2 = IsExtendedKeyerVersion(station.keyer().Version());
    KeyerSettings& keyer = settings.keyer_settings;
    for (const FlagBox& box : kModeBoxes) {
        SetBit(&keyer.mode_register, box.bit, Checked(form, box.id));
    }
    SetBit(&keyer.mode_register, kModeNoPaddleDog, !Checked(form, IDC_SETUP_PADDLE_DOG));

    const int cw_mode = Selected(form, IDC_SETUP_CW_MODE, std::size(kCwModes));
    if (cw_mode != kNoSelection) {
        const CwMode& mode = kCwModes[cw_mode];
        keyer.mode_register =
            static_cast<uint8_t>((keyer.mode_register & ~kModeKeyMask) | mode.key_mode);
        if (mode.sets_priority) {
            keyer.pin_config =
                static_cast<uint8_t>((keyer.pin_config & ~kPinUltimaticMask) | mode.priority);
        }
    }

    const int hang = Selected(form, IDC_SETUP_PADDLE_HANG, kPaddleHangEntries.size());
    if (hang != kNoSelection) {
        keyer.pin_config =
            static_cast<uint8_t>((keyer.pin_config & ~kPinPaddleHangMask) | (hang * 0x10));
    }

    // With a network the role decides the echoes: the side that keys from the link echoes
    // what arrives on its serial line, the side with the operator echoes the paddles.
    if (Checked(form, IDC_SETUP_NET_OFF)) {
        SetBit(&keyer.mode_register, kModeSerialEcho, Checked(form, IDC_SETUP_SERIAL_ECHO));
        SetBit(&keyer.mode_register, kModePaddleEcho, Checked(form, IDC_SETUP_PADDLE_ECHO));
    } else {
        const int role = Selected(form, IDC_SETUP_ROLE, std::size(kRoles));
        if (role != kNoSelection) {
            const bool remote_side = kRoles[role] == kNetRoleRemoteSide;
            SetBit(&keyer.mode_register, kModePaddleEcho, !remote_side);
            SetBit(&keyer.mode_register, kModeSerialEcho, remote_side);
            store.PublishNetFlags((store.NetFlags() & ~kNetRoleMask) | kRoles[role]);
        }
    }

    const int output = Selected(form, IDC_SETUP_OUTPUT, std::size(kPortOutputCodes));
    if (output != kNoSelection) {
        const uint8_t code = v2 ? kPortOutputCodes[output] : kPinOutputCodes[output];
        keyer.pin_config = static_cast<uint8_t>((keyer.pin_config & ~kPinLowBits) | code);
    }

    const int frequency = Selected(form, IDC_SETUP_FREQ, kSidetoneEntries.size());
    const uint8_t code = frequency != kNoSelection ? static_cast<uint8_t>(frequency + 1)
                                                   : keyer.sidetone & kSidetoneFrequencyMask;
    const bool paddle_only = Checked(form, IDC_SETUP_PADDLE_ONLY) && v2;
    keyer.sidetone = static_cast<uint8_t>(code | (paddle_only ? kSidetonePaddleOnly : 0));

    settings.open_at_startup = Checked(form, IDC_SETUP_OPEN_AT_START) ? 1 : 0;

    const int port = Selected(form, IDC_SETUP_PORT, form.port_numbers.size());
    if (port != kNoSelection) {
        settings.com_port = static_cast<uint32_t>(form.port_numbers[port]);
    }
    settings.reserved_one = 1;

    if (Checked(form, IDC_SETUP_POT_LOCK)) {
        state.pot_speed_active = 1;
        keyer.wpm = 0;
        station.view().AllowSpeedEntry(false);
        return;
    }
    state.pot_speed_active = 0;
    // A pot reading of 0 means none has arrived yet; taking it would store 0, which hands
    // the speed back to the pot that "Pot Lock" just released.
    const uint8_t pot = state.pot_wpm.load();
    if (state.local_keyer_open.load() != 0 && pot != 0) {
        keyer.wpm = pot;
    } else if (keyer.wpm == 0) {
        keyer.wpm = keyer.min_wpm;
    }
    station.view().ShowSpeed(keyer.wpm);
    station.view().AllowSpeedEntry(true);
}

// The port enable, the PTT and the network fields, stored whether or not anything was
// refused.
void StoreConnection(const SetupForm& form, SettingsStore& store) {
    SettingsRecord& settings = store.record();
    SetBit(&settings.keyer_settings.pin_config, kPinEnablePtt, Checked(form, IDC_SETUP_ENABLE_PTT));
    uint32_t net_flags = store.NetFlags();
    SetBit(&net_flags, kNetLocalKeyerDisabled, !Checked(form, IDC_SETUP_PORT_ENABLE));
    for (const NetFlagBox& box : kNetFlagBoxes) {
        SetBit(&net_flags, box.bit, Checked(form, box.id));
    }

    const auto address = form.texts.find(IDC_SETUP_IP_ADDRESS);
    const std::string text = address == form.texts.end() ? std::string() : address->second;
    std::memset(settings.ip_address, 0, sizeof settings.ip_address);
    std::memcpy(settings.ip_address, text.data(), std::min(text.size(), kMaxAddressLength));

    settings.ip_port = NumberIn(form, IDC_SETUP_IP_PORT);

    uint32_t net_mode = kNetModeOff;
    for (size_t i = 0; i < std::size(kNetModeIds); ++i) {
        if (Checked(form, kNetModeIds[i])) {
            net_mode = kNetModes[i];
            break;
        }
    }
    store.PublishNetFlags((net_flags & ~kNetModeMask) | net_mode);
}

}  // namespace

int OutputSetupIndex(uint8_t pin_config, bool keyer_v2) {
    const bool tone = (pin_config & 0x02) != 0;
    if (keyer_v2) {
        if ((pin_config & 0x04) != 0) {
            return tone ? 1 : 0;
        }
        if ((pin_config & 0x08) != 0) {
            return tone ? 3 : 2;
        }
        return 0;
    }
    if ((pin_config & 0x01) != 0) {
        return 0;
    }
    if (tone) {
        return 1;
    }
    return (pin_config & 0x04) != 0 ? 2 : 3;
}

SetupForm OpenSetupForm(Station& station) {
    StationState& state = station.state();
    const SettingsStore& store = station.settings();
    const SettingsRecord& settings = store.record();
    SetupForm form;
    const KeyerSettings& keyer = settings.keyer_settings;
    const uint32_t net_mode = store.NetMode();
    const bool v2 = IsExtendedKeyerVersion(station.keyer().Version());

    ListPorts(settings.com_port, &form);
    station.sender().Stop();

    form.entries[IDC_SETUP_CW_MODE] = kCwModeEntries;
    form.entries[IDC_SETUP_PADDLE_HANG] = kPaddleHangEntries;
    form.entries[IDC_SETUP_ROLE] = kRoleEntries;
    form.entries[IDC_SETUP_FREQ] = kSidetoneEntries;
    form.entries[IDC_SETUP_OUTPUT] = v2 ? kPortOutputEntries : kPinOutputEntries;

    for (const KeyerField& field : kKeyerFields) {
        form.texts[field.id] = std::to_string(keyer.*field.value);
    }
    // Paddle hang is the keyer's hold after the paddles; a tail of its own replaces it.
    form.enabled[IDC_SETUP_PADDLE_HANG] = keyer.tail == 0;

    for (size_t i = 0; i < std::size(kNetModeIds); ++i) {
        form.checks[kNetModeIds[i]] = net_mode == kNetModes[i];
    }
    form.selections[IDC_SETUP_CW_MODE] = CwModePosition(keyer.mode_register, keyer.pin_config);
    form.selections[IDC_SETUP_ROLE] = RolePosition(store.NetRole());
    form.selections[IDC_SETUP_PADDLE_HANG] = (keyer.pin_config & kPinPaddleHangMask) / 0x10;
    form.checks[IDC_SETUP_OPEN_AT_START] = settings.open_at_startup != 0;
    form.texts[IDC_SETUP_MAX_WPM] = std::to_string(keyer.min_wpm + keyer.wpm_range);
    form.texts[IDC_SETUP_MIN_WPM] = std::to_string(keyer.min_wpm);

    // Without a keyer there is no pot to follow: the box keeps its check but cannot change.
    form.checks[IDC_SETUP_POT_LOCK] = state.pot_speed_active.load() != 0;
    form.enabled[IDC_SETUP_POT_LOCK] = state.local_keyer_open.load() != 0;
    if (state.local_keyer_open.load() == 0) {
        state.pot_speed_active = 0;
    }

    for (const FlagBox& box : kModeBoxes) {
        form.checks[box.id] = (keyer.mode_register & box.bit) != 0;
    }
    form.checks[IDC_SETUP_PADDLE_ECHO] = (keyer.mode_register & kModePaddleEcho) != 0;
    form.checks[IDC_SETUP_SERIAL_ECHO] = (keyer.mode_register & kModeSerialEcho) != 0;
    form.checks[IDC_SETUP_PADDLE_DOG] = (keyer.mode_register & kModeNoPaddleDog) == 0;

    // The frequency is the low six bits for both generations: a "Paddle Only" bit left by a
    // newer keyer must not hide the frequency while an older one (or none) is attached.
    form.checks[IDC_SETUP_PADDLE_ONLY] = v2 && (keyer.sidetone & kSidetonePaddleOnly) != 0;
    form.enabled[IDC_SETUP_PADDLE_ONLY] = v2;
    form.selections[IDC_SETUP_FREQ] =
        Position((keyer.sidetone & kSidetoneFrequencyMask) - 1, kSidetoneEntries.size());

    form.checks[IDC_SETUP_ENABLE_PTT] = (keyer.pin_config & kPinEnablePtt) != 0;
    form.selections[IDC_SETUP_OUTPUT] = OutputSetupIndex(keyer.pin_config, v2);

    const bool port_disabled = (store.NetFlags() & kNetLocalKeyerDisabled) != 0;
    form.checks[IDC_SETUP_PORT_ENABLE] = !port_disabled;
    form.enabled[IDC_SETUP_PORT] = !port_disabled;
    form.enabled[IDC_SETUP_PORT_ENABLE] = true;

    for (const NetFlagBox& box : kNetFlagBoxes) {
        form.checks[box.id] = (store.NetFlags() & box.bit) != 0;
    }
    form.texts[IDC_SETUP_IP_ADDRESS] =
        std::string(settings.ip_address, strnlen(settings.ip_address, sizeof settings.ip_address));
    form.texts[IDC_SETUP_IP_PORT] = std::to_string(settings.ip_port);
    ShowNetworkEnables(net_mode, (store.NetFlags() & kNetIpAddrOverride) != 0, &form);
    return form;
}

void ReactToSetupClick(int id, SetupForm* form) {
    std::map<int, bool>& enabled = form->enabled;
    switch (id) {
        case IDC_SETUP_NET_OFF:
            enabled[IDC_SETUP_PORT] = true;
            enabled[IDC_SETUP_PORT_ENABLE] = true;
            enabled[IDC_SETUP_IP_ADDRESS] = false;
            enabled[IDC_SETUP_IP_PORT] = false;
            enabled[IDC_SETUP_IP_OVERRIDE] = false;
            break;
        case IDC_SETUP_NET_CLIENT:
            enabled[IDC_SETUP_IP_ADDRESS] = true;
            enabled[IDC_SETUP_IP_PORT] = true;
            enabled[IDC_SETUP_PORT_ENABLE] = true;
            enabled[IDC_SETUP_PORT] = true;
            enabled[IDC_SETUP_IP_OVERRIDE] = false;
            break;
        case IDC_SETUP_NET_SERVER:
            enabled[IDC_SETUP_IP_PORT] = true;
            enabled[IDC_SETUP_PORT] = true;
            enabled[IDC_SETUP_IP_OVERRIDE] = true;
            enabled[IDC_SETUP_IP_ADDRESS] = false;
            enabled[IDC_SETUP_PORT_ENABLE] = false;
            break;
        case IDC_SETUP_PORT_ENABLE:
            enabled[IDC_SETUP_PORT] = Checked(*form, IDC_SETUP_PORT_ENABLE);
            break;
        case IDC_SETUP_IP_OVERRIDE:
            enabled[IDC_SETUP_IP_ADDRESS] = Checked(*form, IDC_SETUP_IP_OVERRIDE);
            break;
        default:
            break;
    }
}

bool FinishSetupForm(SetupForm* form, WindowBackend& window, WindowHandle owner, Station& station) {
    bool passed = StoreKeyerFields(form, window, owner, station.settings().record().keyer_settings);
    passed = StoreSpeedPotRange(*form, window, owner, station) && passed;
    if (passed) {
        StoreChoices(*form, station);
    }
    StoreConnection(*form, station.settings());
    if (!passed) {
        return false;
    }
    SaveSettingsFile(station.settings(), station.view());
    station.ApplyKeyerSettings();
    return true;
}

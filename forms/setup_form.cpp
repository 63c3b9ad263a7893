// How the Setup dialog's fields map onto the Settings record.
//
// The record packs several fields into one byte and one field into several: the CW Mode list
// writes the key mode of `mode_register` and the Ultimatic priority of `pin_config`; the
// network role overrides the two echo boxes; the Output Setup list means different pins for
// the two keyer generations. Each of those rules is written once below, as a table or one
// function, and opening and "Done" both go through it, so what "Done" stores is what the next
// opening shows.
//
// "Done" is deliberately not all-or-nothing: the keyer fields are stored one by one until
// the first refusal, the speed-pot range and the network fields are stored even after a
// refusal, and only the save and the apply wait for a clean pass. An operator who fixes the
// refused field and presses "Done" again loses nothing that was typed.
#include "forms/setup_form.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <optional>

#include "settings/field_number.h"
#include "settings/settings_record.h"
#include "settings/settings_store.h"
#include "station/station.h"

namespace {

// The eight number fields of "Keyer Settings", in the order "Done" checks them.
struct KeyerField {
    SetupField field;
    uint8_t KeyerSettings::*value;
    uint32_t lowest;
    uint32_t highest;
    bool zero_allowed;  // besides lowest..highest
    const char* refusal;
};

const KeyerField kKeyerFields[] = {
    {SetupField::kWeight, &KeyerSettings::weight, 10, 90, false,
     "Weight must be between 10 and 90"},
    {SetupField::kLeadIn, &KeyerSettings::lead_in, 0, 250, false,
     "LeadIn can't be greater than 250"},
    {SetupField::kTail, &KeyerSettings::tail, 0, 250, false, "Tail can't be greater than 250"},
    {SetupField::kFirstExtension, &KeyerSettings::first_extension, 0, 250, false,
     "Xtnd can't be greater than 250"},
    {SetupField::kCompensation, &KeyerSettings::key_compensation, 0, 250, false,
     "Kcomp can't be greater than 250"},
    {SetupField::kFarnsworth, &KeyerSettings::farnsworth, 10, 99, true,
     "Farns can't be greater than 99"},
    {SetupField::kSample, &KeyerSettings::paddle_setpoint, 10, 90, false,
     "SampAdj must be between 10 and 90"},
    {SetupField::kRatio, &KeyerSettings::dit_dah_ratio, 33, 66, false,
     "Dit/Dah Ratio must be between 33 and 66"},
};

const char kParameterErrorCaption[] = "Parameter Error";

constexpr uint32_t kLowestWpm = 5;
constexpr uint32_t kHighestWpm = 99;
const char kMaxNotAboveMin[] = "Max WPM must be greater than Min WPM";
const char kWpmOutOfRange[] = "Min or Max WPM is of allowable range";
constexpr uint32_t kHighestIpPort = 65535;
const char kIpPortOutOfRange[] = "IP Port must be between 1 and 65535";

// The check boxes that stand for one bit each, whatever else is chosen.
struct FlagBox {
    SetupField field;
    uint8_t bit;
};
const FlagBox kModeBoxes[] = {
    {SetupField::kSwap, kModeSwap},
    {SetupField::kAutoSpace, kModeAutoSpace},
    {SetupField::kCtSpacing, kModeCtSpacing},
};
struct NetFlagBox {
    SetupField field;
    uint32_t bit;
};
const NetFlagBox kNetFlagBoxes[] = {
    {SetupField::kRemoteSidetone, kNetRemoteSidetone},
    {SetupField::kIpOverride, kNetIpAddrOverride},
    {SetupField::kLetterPaddle, kNetLetterPaddle},
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
const SetupField kNetModeFields[] = {SetupField::kNetworkOff, SetupField::kNetClient,
                                     SetupField::kNetServer};

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

int Selected(const SetupForm& form, SetupField field, size_t count) {
    const auto found = form.selections.find(field);
    return found == form.selections.end() ? kNoSelection : Position(found->second, count);
}

bool Checked(const SetupForm& form, SetupField field) {
    const auto found = form.checks.find(field);
    return found != form.checks.end() && found->second;
}

uint32_t NumberIn(const SetupForm& form, SetupField field) {
    const auto found = form.texts.find(field);
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
    form->enabled[SetupField::kIpAddress] =
        net_mode == kNetModeClient || (net_mode == kNetModeServer && address_override);
    form->enabled[SetupField::kIpPort] = net_mode != kNetModeOff;
    form->enabled[SetupField::kIpOverride] = net_mode == kNetModeServer;
}

void ListPorts(const std::vector<int>& ports, uint32_t stored_port, SetupForm* form) {
    int position = kNoSelection;
    std::vector<std::string>& entries = form->entries[SetupField::kKeyerPort];
    for (const int n : ports) {
        if (static_cast<uint32_t>(n) == stored_port) {
            position = static_cast<int>(form->port_numbers.size());
        }
        form->port_numbers.push_back(n);
        entries.push_back("com" + std::to_string(n));
    }
    form->selections[SetupField::kKeyerPort] = position;
}

// The keyer block's fields and lists, and the speed pot's.
void ShowKeyerSettings(const KeyerSettings& keyer, const SetupStart& start, SetupForm* form) {
    const bool v2 = start.extended_keyer;
    form->entries[SetupField::kCwMode] = kCwModeEntries;
    form->entries[SetupField::kPaddleHang] = kPaddleHangEntries;
    form->entries[SetupField::kSidetoneFrequency] = kSidetoneEntries;
    form->entries[SetupField::kOutputSetup] = v2 ? kPortOutputEntries : kPinOutputEntries;

    for (const KeyerField& field : kKeyerFields) {
        form->texts[field.field] = std::to_string(keyer.*field.value);
    }
    // Paddle hang is the keyer's hold after the paddles; a tail of its own replaces it.
    form->enabled[SetupField::kPaddleHang] = keyer.tail == 0;
    form->selections[SetupField::kCwMode] = CwModePosition(keyer.mode_register, keyer.pin_config);
    form->selections[SetupField::kPaddleHang] = (keyer.pin_config & kPinPaddleHangMask) / 0x10;
    form->texts[SetupField::kMaxWpm] = std::to_string(keyer.min_wpm + keyer.wpm_range);
    form->texts[SetupField::kMinWpm] = std::to_string(keyer.min_wpm);

    // Without a keyer there is no pot to follow: the box keeps its check but cannot change.
    form->checks[SetupField::kPotLock] = start.pot_lock;
    form->enabled[SetupField::kPotLock] = start.keyer_open;

    for (const FlagBox& box : kModeBoxes) {
        form->checks[box.field] = (keyer.mode_register & box.bit) != 0;
    }
    form->checks[SetupField::kPaddleEcho] = (keyer.mode_register & kModePaddleEcho) != 0;
    form->checks[SetupField::kSerialEcho] = (keyer.mode_register & kModeSerialEcho) != 0;
    form->checks[SetupField::kPaddleDog] = (keyer.mode_register & kModeNoPaddleDog) == 0;

    // The frequency is the low six bits for both generations: a "Paddle Only" bit left by a
    // newer keyer must not hide the frequency while an older one (or none) is attached.
    form->checks[SetupField::kPaddleOnly] = v2 && (keyer.sidetone & kSidetonePaddleOnly) != 0;
    form->enabled[SetupField::kPaddleOnly] = v2;
    form->selections[SetupField::kSidetoneFrequency] =
        Position((keyer.sidetone & kSidetoneFrequencyMask) - 1, kSidetoneEntries.size());

    form->checks[SetupField::kEnablePtt] = (keyer.pin_config & kPinEnablePtt) != 0;
    form->selections[SetupField::kOutputSetup] = OutputSetupIndex(keyer.pin_config, v2);
}

// The keyer port's enable, the network's mode, role, flags and address.
void ShowConnection(const SettingsStore& store, SetupForm* form) {
    const SettingsRecord& settings = store.record();
    const uint32_t net_flags = store.NetFlags();
    const uint32_t net_mode = store.NetMode();
    form->entries[SetupField::kRole] = kRoleEntries;
    for (size_t i = 0; i < std::size(kNetModeFields); ++i) {
        form->checks[kNetModeFields[i]] = net_mode == kNetModes[i];
    }
    form->selections[SetupField::kRole] = RolePosition(store.NetRole());
    form->checks[SetupField::kOpenAtStart] = settings.open_at_startup != 0;

    const bool port_disabled = (net_flags & kNetLocalKeyerDisabled) != 0;
    form->checks[SetupField::kKeyerPortEnable] = !port_disabled;
    form->enabled[SetupField::kKeyerPort] = !port_disabled;
    form->enabled[SetupField::kKeyerPortEnable] = true;

    for (const NetFlagBox& box : kNetFlagBoxes) {
        form->checks[box.field] = (net_flags & box.bit) != 0;
    }
    form->texts[SetupField::kIpAddress] =
        std::string(settings.ip_address, strnlen(settings.ip_address, sizeof settings.ip_address));
    form->texts[SetupField::kIpPort] = std::to_string(settings.ip_port);
    ShowNetworkEnables(net_mode, (net_flags & kNetIpAddrOverride) != 0, form);
}

SetupRefusal ParameterError(const char* text, bool warning) {
    return {kParameterErrorCaption, text, warning};
}

// The eight keyer fields: the first refusal ends the checks; a field that still holds the
// stored value is not checked at all, so an odd value from a hand-edited file survives.
std::optional<SetupRefusal> StoreKeyerFields(SetupForm* form, KeyerSettings& stored_block) {
    for (const KeyerField& field : kKeyerFields) {
        const uint32_t value = NumberIn(*form, field.field);
        uint8_t& stored = stored_block.*field.value;
        if (value == stored) {
            continue;
        }
        const bool accepted =
            (field.zero_allowed && value == 0) || (value >= field.lowest && value <= field.highest);
        if (!accepted) {
            return ParameterError(field.refusal, true);
        }
        stored = static_cast<uint8_t>(value);
        if (field.field == SetupField::kTail) {
            form->enabled[SetupField::kPaddleHang] = value == 0;
        }
    }
    return std::nullopt;
}

std::optional<SetupRefusal> StoreSpeedPotRange(const SetupForm& form, Station& station,
                                               uint32_t speed_shown) {
    const uint32_t highest = NumberIn(form, SetupField::kMaxWpm);
    const uint32_t lowest = NumberIn(form, SetupField::kMinWpm);
    if (highest <= lowest) {
        return ParameterError(kMaxNotAboveMin, false);
    }
    if (lowest < kLowestWpm || lowest > kHighestWpm || highest < kLowestWpm ||
        highest > kHighestWpm) {
        return ParameterError(kWpmOutOfRange, false);
    }
    station.SetSpeedPotRange(static_cast<uint8_t>(lowest), static_cast<uint8_t>(highest),
                             speed_shown);
    return std::nullopt;
}

// The mode boxes and the CW Mode and Paddle Hang lists. A list with no position chosen (its
// edit field holds typed text) leaves its part of the record as it was; so do the others.
void StoreKeyingChoices(const SetupForm& form, KeyerSettings& keyer) {
    for (const FlagBox& box : kModeBoxes) {
        SetBit(&keyer.mode_register, box.bit, Checked(form, box.field));
    }
    SetBit(&keyer.mode_register, kModeNoPaddleDog, !Checked(form, SetupField::kPaddleDog));

    const int cw_mode = Selected(form, SetupField::kCwMode, std::size(kCwModes));
    if (cw_mode != kNoSelection) {
        const CwMode& mode = kCwModes[cw_mode];
        keyer.mode_register =
            static_cast<uint8_t>((keyer.mode_register & ~kModeKeyMask) | mode.key_mode);
        if (mode.sets_priority) {
            keyer.pin_config =
                static_cast<uint8_t>((keyer.pin_config & ~kPinUltimaticMask) | mode.priority);
        }
    }

    const int hang = Selected(form, SetupField::kPaddleHang, kPaddleHangEntries.size());
    if (hang != kNoSelection) {
        keyer.pin_config =
            static_cast<uint8_t>((keyer.pin_config & ~kPinPaddleHangMask) | (hang * 0x10));
    }
}

// With a network the role decides the echoes: the side that keys from the link echoes what
// arrives on its serial line, the side with the operator echoes the paddles.
void StoreEchoesAndRole(const SetupForm& form, SettingsStore& store) {
    KeyerSettings& keyer = store.record().keyer_settings;
    if (Checked(form, SetupField::kNetworkOff)) {
        SetBit(&keyer.mode_register, kModeSerialEcho, Checked(form, SetupField::kSerialEcho));
        SetBit(&keyer.mode_register, kModePaddleEcho, Checked(form, SetupField::kPaddleEcho));
        return;
    }
    const int role = Selected(form, SetupField::kRole, std::size(kRoles));
    if (role != kNoSelection) {
        const bool remote_side = kRoles[role] == kNetRoleRemoteSide;
        SetBit(&keyer.mode_register, kModePaddleEcho, !remote_side);
        SetBit(&keyer.mode_register, kModeSerialEcho, remote_side);
        store.PublishNetFlags((store.NetFlags() & ~kNetRoleMask) | kRoles[role]);
    }
}

// The keyer's outputs and sidetone, whose meaning depends on the keyer's generation.
void StoreOutputs(const SetupForm& form, KeyerSettings& keyer) {
    const bool v2 = form.extended_keyer;
    const int output = Selected(form, SetupField::kOutputSetup, std::size(kPortOutputCodes));
    if (output != kNoSelection) {
        const uint8_t code = v2 ? kPortOutputCodes[output] : kPinOutputCodes[output];
        keyer.pin_config = static_cast<uint8_t>((keyer.pin_config & ~kPinLowBits) | code);
    }

    const int frequency = Selected(form, SetupField::kSidetoneFrequency, kSidetoneEntries.size());
    const uint8_t code = frequency != kNoSelection ? static_cast<uint8_t>(frequency + 1)
                                                   : keyer.sidetone & kSidetoneFrequencyMask;
    const bool paddle_only = Checked(form, SetupField::kPaddleOnly) && v2;
    keyer.sidetone = static_cast<uint8_t>(code | (paddle_only ? kSidetonePaddleOnly : 0));
}

// The choices, stored only after a clean pass.
void StoreChoices(const SetupForm& form, Station& station) {
    SettingsStore& store = station.settings();
    SettingsRecord& settings = store.record();
    StoreKeyingChoices(form, settings.keyer_settings);
    StoreEchoesAndRole(form, store);
    StoreOutputs(form, settings.keyer_settings);

    settings.open_at_startup = Checked(form, SetupField::kOpenAtStart) ? 1 : 0;
    const int port = Selected(form, SetupField::kKeyerPort, form.port_numbers.size());
    if (port != kNoSelection) {
        settings.com_port = static_cast<uint32_t>(form.port_numbers[port]);
    }
    settings.reserved_one = 1;
    station.LockSpeedToPot(Checked(form, SetupField::kPotLock));
}

// A port typed in must be one a socket can use; one that a file written elsewhere holds is
// kept, as the keyer fields keep theirs.
std::optional<SetupRefusal> CheckIpPort(const SetupForm& form, const SettingsRecord& settings) {
    const uint32_t port = NumberIn(form, SetupField::kIpPort);
    if (port == settings.ip_port || (port >= 1 && port <= kHighestIpPort)) {
        return std::nullopt;
    }
    return ParameterError(kIpPortOutOfRange, false);
}

// The port enable, the PTT and the network fields, stored whether or not anything was
// refused; all but a refused port.
void StoreConnection(const SetupForm& form, bool port_refused, SettingsStore& store) {
    SettingsRecord& settings = store.record();
    SetBit(&settings.keyer_settings.pin_config, kPinEnablePtt,
           Checked(form, SetupField::kEnablePtt));
    uint32_t net_flags = store.NetFlags();
    SetBit(&net_flags, kNetLocalKeyerDisabled, !Checked(form, SetupField::kKeyerPortEnable));
    for (const NetFlagBox& box : kNetFlagBoxes) {
        SetBit(&net_flags, box.bit, Checked(form, box.field));
    }

    const auto address = form.texts.find(SetupField::kIpAddress);
    const std::string text = address == form.texts.end() ? std::string() : address->second;
    std::memset(settings.ip_address, 0, sizeof settings.ip_address);
    std::memcpy(settings.ip_address, text.data(), std::min(text.size(), kMaxAddressLength));

    if (!port_refused) {
        settings.ip_port = NumberIn(form, SetupField::kIpPort);
    }

    uint32_t net_mode = kNetModeOff;
    for (size_t i = 0; i < std::size(kNetModeFields); ++i) {
        if (Checked(form, kNetModeFields[i])) {
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
    const SetupStart start = station.OpenSetup();
    const SettingsStore& store = station.settings();
    SetupForm form;
    form.extended_keyer = start.extended_keyer;
    ListPorts(start.keyer_ports, store.record().com_port, &form);
    ShowKeyerSettings(store.record().keyer_settings, start, &form);
    ShowConnection(store, &form);
    return form;
}

void ReactToSetupClick(SetupField field, SetupForm* form) {
    std::map<SetupField, bool>& enabled = form->enabled;
    switch (field) {
        case SetupField::kNetworkOff:
            enabled[SetupField::kKeyerPort] = true;
            enabled[SetupField::kKeyerPortEnable] = true;
            enabled[SetupField::kIpAddress] = false;
            enabled[SetupField::kIpPort] = false;
            enabled[SetupField::kIpOverride] = false;
            break;
        case SetupField::kNetClient:
            enabled[SetupField::kIpAddress] = true;
            enabled[SetupField::kIpPort] = true;
            enabled[SetupField::kKeyerPortEnable] = true;
            enabled[SetupField::kKeyerPort] = true;
            enabled[SetupField::kIpOverride] = false;
            break;
        case SetupField::kNetServer:
            enabled[SetupField::kIpPort] = true;
            enabled[SetupField::kKeyerPort] = true;
            enabled[SetupField::kIpOverride] = true;
            enabled[SetupField::kIpAddress] = false;
            enabled[SetupField::kKeyerPortEnable] = false;
            break;
        case SetupField::kKeyerPortEnable:
            enabled[SetupField::kKeyerPort] = Checked(*form, SetupField::kKeyerPortEnable);
            break;
        case SetupField::kIpOverride:
            enabled[SetupField::kIpAddress] = Checked(*form, SetupField::kIpOverride);
            break;
        default:
            break;
    }
}

std::vector<SetupRefusal> FinishSetupForm(SetupForm* form, Station& station, uint32_t speed_shown) {
    std::vector<SetupRefusal> refusals;
    KeyerSettings& keyer = station.settings().record().keyer_settings;
    if (std::optional<SetupRefusal> refusal = StoreKeyerFields(form, keyer)) {
        refusals.push_back(*refusal);
    }
    if (std::optional<SetupRefusal> refusal = StoreSpeedPotRange(*form, station, speed_shown)) {
        refusals.push_back(*refusal);
    }
    const std::optional<SetupRefusal> port_refusal =
        CheckIpPort(*form, station.settings().record());
    if (port_refusal) {
        refusals.push_back(*port_refusal);
    }
    if (refusals.empty()) {
        StoreChoices(*form, station);
    }
    StoreConnection(*form, port_refusal.has_value(), station.settings());
    if (refusals.empty()) {
        station.ApplySetup();
    }
    return refusals;
}

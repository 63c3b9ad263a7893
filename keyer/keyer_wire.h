// Every byte the program and a Tarvel keyer exchange, and how the keyer takes apart what it
// receives. Out of host mode the keyer heeds only the admin commands (00 and a sub-command).
// In host mode a byte below 20 is a command followed by a fixed number of argument bytes;
// 18 to 1F are the buffered commands, which the keyer keeps in its text buffer in line with
// the text; every other byte is text. What the keyer sends back falls into four kinds by its
// high bits.
//
// The handshake, the writer and the reader speak by this table, the emulator plays the keyer
// by it, and the soak reads an emulator's wire back by it, so all of them agree on every byte
// and on where one command ends and the next begins. The tests still spell the bytes out:
// they are what checks this table.
#pragma once

#include <cstddef>
#include <cstdint>

#include "keyer/keyer_settings.h"

namespace keyer_wire {

// --- The host-open handshake: three wake bytes, each a write of its own, then the echo test
// and host open.
constexpr uint8_t kWake = 0x13;
constexpr int kWakeCount = 3;

// --- Admin commands: 00 and a sub-command; the echo test takes one byte more.
constexpr uint8_t kAdminPrefix = 0x00;
constexpr uint8_t kAdminHostOpen = 0x02;   // answered by the keyer's version byte
constexpr uint8_t kAdminHostClose = 0x03;  // the last thing a host sends
constexpr uint8_t kAdminEchoTest = 0x04;   // answered by the byte that follows it
constexpr uint8_t kEchoTestByte = 0x55;    // 'U', as the handshake sends it
// Keyers whose version byte is this or more have the extended command set and message
// buttons of their own, which they report in the status byte once in extended mode; older
// ones are put in base mode.
constexpr uint8_t kFirstExtendedKeyerVersion = 20;
constexpr bool IsExtendedKeyerVersion(uint8_t version) {
    return version >= kFirstExtendedKeyerVersion;
}
constexpr uint8_t kAdminBaseMode = 0x0A;  // also the last request before the host close
constexpr uint8_t kAdminExtendedMode = 0x0B;
// Four more admin commands complete the keyer's set. The program has no use for them and
// knows nothing of them but their bytes, so they are named by their place in a service pass,
// which sends them in this order (not the order of their bytes).
enum class SpareAdmin { kFirst, kSecond, kThird, kFourth };
constexpr uint8_t kSpareAdminBytes[] = {0x0F, 0x10, 0x12, 0x11};
constexpr int kSpareAdminCount = static_cast<int>(sizeof kSpareAdminBytes);

// --- Immediate commands, taken at once in host mode. The comment gives the argument bytes.
constexpr uint8_t kSetSidetone = 0x01;         // the sidetone byte
constexpr uint8_t kSetSpeed = 0x02;            // WPM
constexpr uint8_t kSetWeight = 0x03;           // weight
constexpr uint8_t kSetPttTiming = 0x04;        // lead-in, tail
constexpr uint8_t kSetPotRange = 0x05;         // minimum WPM, range, 00
constexpr uint8_t kSetPause = 0x06;            // 1 paused, 0 not
constexpr uint8_t kRequestSpeedPot = 0x07;     // none; answered by a speed-pot byte
constexpr uint8_t kBackspace = 0x08;           // none
constexpr uint8_t kSetPinConfig = 0x09;        // pin_config
constexpr uint8_t kClearBuffer = 0x0A;         // none
constexpr uint8_t kSetKeyDown = 0x0B;          // 1 key down, 0 key up
constexpr uint8_t kSetFarnsworth = 0x0D;       // WPM
constexpr uint8_t kSetModeRegister = 0x0E;     // the mode register
constexpr uint8_t kLoadSettings = 0x0F;        // the whole settings block (KeyerSettings)
constexpr uint8_t kSetFirstExtension = 0x10;   // first extension
constexpr uint8_t kSetKeyCompensation = 0x11;  // key compensation
constexpr uint8_t kSetPaddleSetpoint = 0x12;   // paddle setpoint
constexpr uint8_t kSetPaddleInput = 0x14;      // a paddle code: 2 left, 1 right, 0 none
// None. It closes every settings load, after the load's speed-pot request, and has no other
// use in the program.
constexpr uint8_t kEndLoad = 0x15;
constexpr uint8_t kSetDitDahRatio = 0x17;  // dit/dah ratio
// The keyer takes these with one argument byte; the program never sends them, but a reader
// of the wire must still know where they end.
constexpr uint8_t kSpareCommand1 = 0x0C;
constexpr uint8_t kSpareCommand2 = 0x16;

// --- Buffered commands, kept in the keyer's buffer and carried out in line with the text.
// The message token that writes each is in messages/message_parser.h.
constexpr uint8_t kBufferedPtt = 0x18;          // 1 PTT on, 0 off
constexpr uint8_t kBufferedKey = 0x19;          // nn
constexpr uint8_t kBufferedWait = 0x1A;         // nn: that many dit units of silence
constexpr uint8_t kBufferedMerge = 0x1B;        // the next two characters, keyed as one
constexpr uint8_t kBufferedSpeed = 0x1C;        // WPM, until cancelled
constexpr uint8_t kBufferedCommandH = 0x1D;     // nn; written by [Hnn], nothing more known
constexpr uint8_t kBufferedCancelSpeed = 0x1E;  // none
constexpr uint8_t kBufferedSpare = 0x1F;        // none; no token writes it
constexpr uint8_t kFirstBufferedCommand = kBufferedPtt;
constexpr uint8_t kLastBufferedCommand = kBufferedSpare;
// Below this a byte is a command: the keyer would take the bytes after it as its arguments.
constexpr uint8_t kFirstTextByte = 0x20;

constexpr bool IsBufferedCommand(uint8_t byte) {
    return byte >= kFirstBufferedCommand && byte <= kLastBufferedCommand;
}

// Argument bytes that follow a command byte in host mode; 0 for every other byte. Merge's
// two are the characters it merges, which reach the keyer as text of their own.
constexpr int ArgumentCount(uint8_t command) {
    switch (command) {
        case kLoadSettings:
            return static_cast<int>(sizeof(KeyerSettings));
        case kSetPotRange:
            return 3;
        case kSetPttTiming:
        case kBufferedMerge:
            return 2;
        case kSetSidetone:
        case kSetSpeed:
        case kSetWeight:
        case kSetPause:
        case kSetPinConfig:
        case kSetKeyDown:
        case kSpareCommand1:
        case kSetFarnsworth:
        case kSetModeRegister:
        case kSetFirstExtension:
        case kSetKeyCompensation:
        case kSetPaddleSetpoint:
        case kSetPaddleInput:
        case kSpareCommand2:
        case kSetDitDahRatio:
        case kBufferedPtt:
        case kBufferedKey:
        case kBufferedWait:
        case kBufferedSpeed:
        case kBufferedCommandH:
            return 1;
        default:
            return 0;
    }
}

// The argument bytes that must stay with `byte` in the transmit queue: those of a buffered
// command, none for text or anything else.
constexpr int BufferedCommandArgumentCount(uint8_t byte) {
    return IsBufferedCommand(byte) ? ArgumentCount(byte) : 0;
}

// A byte of the keyer's settings block, by its place in the block.
enum class KeyerSetting : uint8_t {
    kModeRegister = offsetof(KeyerSettings, mode_register),
    kWpm = offsetof(KeyerSettings, wpm),
    kSidetone = offsetof(KeyerSettings, sidetone),
    kWeight = offsetof(KeyerSettings, weight),
    kLeadIn = offsetof(KeyerSettings, lead_in),
    kTail = offsetof(KeyerSettings, tail),
    kMinWpm = offsetof(KeyerSettings, min_wpm),
    kWpmRange = offsetof(KeyerSettings, wpm_range),
    kFirstExtension = offsetof(KeyerSettings, first_extension),
    kKeyCompensation = offsetof(KeyerSettings, key_compensation),
    kFarnsworth = offsetof(KeyerSettings, farnsworth),
    kPaddleSetpoint = offsetof(KeyerSettings, paddle_setpoint),
    kDitDahRatio = offsetof(KeyerSettings, dit_dah_ratio),
    kPinConfig = offsetof(KeyerSettings, pin_config),
};

// The immediate commands that set bytes of the settings block, in the order a service pass
// sends them. A command carries one or two settings bytes and then zeros up to its argument
// count (pot range's trailing 00).
struct SettingCommand {
    uint8_t command;
    KeyerSetting first;
    KeyerSetting second;  // the same as `first` for a command that carries one byte
};
constexpr SettingCommand kSettingCommands[] = {
    {kSetSpeed, KeyerSetting::kWpm, KeyerSetting::kWpm},
    {kSetPotRange, KeyerSetting::kMinWpm, KeyerSetting::kWpmRange},
    {kSetSidetone, KeyerSetting::kSidetone, KeyerSetting::kSidetone},
    {kSetWeight, KeyerSetting::kWeight, KeyerSetting::kWeight},
    {kSetPttTiming, KeyerSetting::kLeadIn, KeyerSetting::kTail},
    {kSetFirstExtension, KeyerSetting::kFirstExtension, KeyerSetting::kFirstExtension},
    {kSetKeyCompensation, KeyerSetting::kKeyCompensation, KeyerSetting::kKeyCompensation},
    {kSetFarnsworth, KeyerSetting::kFarnsworth, KeyerSetting::kFarnsworth},
    {kSetPaddleSetpoint, KeyerSetting::kPaddleSetpoint, KeyerSetting::kPaddleSetpoint},
    {kSetDitDahRatio, KeyerSetting::kDitDahRatio, KeyerSetting::kDitDahRatio},
    {kSetModeRegister, KeyerSetting::kModeRegister, KeyerSetting::kModeRegister},
    {kSetPinConfig, KeyerSetting::kPinConfig, KeyerSetting::kPinConfig},
};
constexpr bool CarriesTwoSettings(const SettingCommand& row) {
    return row.second != row.first;
}

// --- What the keyer sends, sorted by the high bits; the first test that matches wins.
enum class Reply { kPaddle, kStatus, kSpeedPot, kEcho };
constexpr uint8_t kPaddleReply = 0xDC;    // these bits all set: DC to DF and FC to FF
constexpr uint8_t kPaddleBits = 0x03;     // which paddles (kPaddleLeft, kPaddleRight)
constexpr uint8_t kStatusReply = 0xC0;    // C0 and up
constexpr uint8_t kStatusBits = 0x3F;     // the status bits (kStatusHold and on)
constexpr uint8_t kSpeedPotReply = 0x80;  // 80 and up
constexpr uint8_t kSpeedPotBits = 0x7F;   // WPM above the minimum last sent
// Everything below 80 is a character the keyer echoes as it keys it.

constexpr Reply KindOf(uint8_t byte) {
    if ((byte & kPaddleReply) == kPaddleReply) {
        return Reply::kPaddle;
    }
    if (byte >= kStatusReply) {
        return Reply::kStatus;
    }
    if (byte >= kSpeedPotReply) {
        return Reply::kSpeedPot;
    }
    return Reply::kEcho;
}

// A paddle report's bits.
constexpr uint8_t kPaddleLeft = 0x02;
constexpr uint8_t kPaddleRight = 0x01;

// The status byte's low six bits as the program uses them.
constexpr uint8_t kStatusHold = 0x01;     // the keyer's buffer is full: feed it nothing more
constexpr uint8_t kStatusBreakIn = 0x02;  // the operator's paddles took over from the buffer
constexpr uint8_t kStatusBusy = 0x04;     // the keyer is sending
// On a keyer of version 20 or later: the byte reports the keyer's own message buttons, and
// the bits below stand for M1 to M4 instead of the keyer's state.
constexpr uint8_t kStatusButtonReport = 0x08;
constexpr uint8_t kStatusWait = 0x10;
constexpr uint8_t kButtonM1 = 0x01;
constexpr uint8_t kButtonM2 = 0x02;
constexpr uint8_t kButtonM3 = 0x04;
constexpr uint8_t kButtonM4 = 0x10;

}  // namespace keyer_wire

// The command mailbox and the transmit queue: every entry point leaves a request for the
// keyer writer and returns at once. Results: kKeyerOk, or kKeyerHostNotOpen while host mode
// is not open (the base mode, extended mode and spare admin requests excepted).
#pragma once

#include <cstdint>
#include <initializer_list>

#include "keyer/keyer_result.h"
#include "keyer/keyer_wire.h"
#include "settings/settings_record.h"

using keyer_wire::BufferedCommandArgumentCount;
using keyer_wire::KeyerSetting;
using keyer_wire::kFirstBufferedCommand;
using keyer_wire::kFirstTextByte;
using keyer_wire::kLastBufferedCommand;

int LoadKeyerSettings(const KeyerSettings* block);
// Bytes of the settings block, each sent by its own command in the writer's next pass when
// it differs from what was last sent. Given in one call, the two bytes of a command that
// carries two (PTT timing, pot range) go out together, both new. Only a value's low byte
// counts.
struct KeyerSettingValue {
    KeyerSetting setting;
    int value;
};
int SetKeyerSettings(std::initializer_list<KeyerSettingValue> values);
int SetKeyerSpeed(int wpm);
int SetKeyerSidetone(int sidetone);
int SetKeyerKeyDown(int on);
// Key up and paddles released: 0B 00 and 14 00 reach the keyer in the writer's next pass even
// when they were the last values sent, since a station that has lost control must not trust
// its own record of what the keyer was last told.
int ReleaseKeyer();
int SetKeyerPause(int on);
int SetKeyerPaddleInput(int code);
int ClearKeyerBuffer();
int KeyerBackspace();
int RequestKeyerSpeedPot();
int SetKeyerBaseMode();
int SetKeyerExtendedMode();
int SendKeyerSpareAdmin(keyer_wire::SpareAdmin which);

// Transmit queue: text and buffered commands, sent a unit at a time on the writer's ticks.
// kKeyerQueueFull: the 64-byte ring had no room and nothing was queued.
int QueueKeyerByte(int byte);
// All `count` bytes in order, or none of them (kKeyerQueueFull), so a buffered command and its
// arguments are never parted.
int QueueKeyerBytes(const uint8_t* bytes, int count);
int IsKeyerQueueNearlyFull();  // 0 or 1, or kKeyerHostNotOpen

// The command mailbox and the transmit queue: every entry point leaves a request for the
// keyer writer and returns at once. Results: 0, or -9 while host mode is not open (the
// base/extended mode and admin requests excepted).
#pragma once

#include <cstdint>

#include "settings/settings_record.h"

int LoadKeyerSettings(const KeyerSettings* block);
int SetKeyerMode(int mode);
int SetKeyerSpeed(int wpm);
int SetKeyerSidetone(int sidetone);
int SetKeyerWeight(int weight);
int SetKeyerPttTiming(int lead_in, int tail);
int SetKeyerPotRange(int min_wpm, int range, int unused = 0);
int SetKeyerFirstExtension(int value);
int SetKeyerKeyCompensation(int value);
int SetKeyerFarnsworth(int wpm);
int SetKeyerPaddleSetpoint(int value);
int SetKeyerDitDahRatio(int value);
int SetKeyerPinConfig(int value);
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
int SendKeyerAdmin0F();
int SendKeyerAdmin10();
int SendKeyerAdmin11();
int SendKeyerAdmin12();

// The buffered commands, which the keyer keeps in its text buffer: 18 to 1F. Some take one
// argument byte, which must follow the command byte with nothing in between.
constexpr uint8_t kFirstBufferedCommand = 0x18;
constexpr uint8_t kLastBufferedCommand = 0x1F;
// The bytes the keyer takes after `byte` as its arguments: 1 for PTT (18), Key (19), Wait
// (1A), Speed (1C) and 1D; 2 for Merge (1B), whose two characters the keyer keys as one
// (they are queued as text of their own); 0 for Cancel Speed (1E), 1F and every other byte.
int BufferedCommandArgumentCount(uint8_t byte);

// Below this a byte is a keyer command, not text: the keyer would take the bytes after it as
// the command's arguments.
constexpr uint8_t kFirstTextByte = 0x20;

// Transmit queue. kKeyerQueueFull: the 64-byte ring is full and the byte was refused.
constexpr int kKeyerQueueFull = -7;
int QueueKeyerByte(int byte);
// All `count` bytes in order, or none of them (kKeyerQueueFull), so a buffered command and its
// argument are never parted.
int QueueKeyerBytes(const uint8_t* bytes, int count);
int IsKeyerQueueNearlyFull();  // 0 or 1, or -9
int QueueKeyerPtt(int on);
int QueueKeyerKey(int value);
int QueueKeyerWait(int value);
int QueueKeyerSpeed(int wpm);
int QueueKeyerCommand1D(int value);
int QueueKeyerMerge(int first, int second);
int QueueKeyerCancelSpeed();
int QueueKeyerCommand1F();

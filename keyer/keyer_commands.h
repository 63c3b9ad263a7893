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

// Transmit queue. -7: the 64-byte ring is full and the byte was refused.
int QueueKeyerByte(int byte);
// All `count` bytes in order, or none of them (-7), so a buffered command and its argument
// are never parted.
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

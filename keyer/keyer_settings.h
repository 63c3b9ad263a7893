// The keyer's settings block: the 15 bytes its load command takes, in the keyer's order, and
// what the bits of its registers mean. The Settings record keeps one such block (and the
// file format pins where), and the keyer-settings packet carries one whole.
#pragma once

#include <cstdint>

struct KeyerSettings {
    uint8_t mode_register;
    uint8_t wpm;
    uint8_t sidetone;
    uint8_t weight;
    uint8_t lead_in;
    uint8_t tail;
    uint8_t min_wpm;
    uint8_t wpm_range;
    uint8_t first_extension;
    uint8_t key_compensation;
    uint8_t farnsworth;
    uint8_t paddle_setpoint;
    uint8_t dit_dah_ratio;
    uint8_t pin_config;
    uint8_t keyer_spare;
};
static_assert(sizeof(KeyerSettings) == 15, "the keyer's load block is 15 bytes");

// `mode_register`
constexpr uint8_t kModeNoPaddleDog = 0x80;
constexpr uint8_t kModePaddleEcho = 0x40;
constexpr uint8_t kModeKeyMask = 0x30;
constexpr uint8_t kModeSwap = 0x08;
constexpr uint8_t kModeSerialEcho = 0x04;
constexpr uint8_t kModeAutoSpace = 0x02;
constexpr uint8_t kModeCtSpacing = 0x01;

// `sidetone`
constexpr uint8_t kSidetonePaddleOnly = 0x80;
constexpr uint8_t kSidetoneStartupMarker = 0x40;
constexpr uint8_t kSidetoneFrequencyMask = 0x3F;

// `pin_config`
constexpr uint8_t kPinUltimaticMask = 0xC0;
constexpr uint8_t kPinPaddleHangMask = 0x30;
constexpr uint8_t kPinOutputMask = 0x0E;
constexpr uint8_t kPinEnablePtt = 0x01;

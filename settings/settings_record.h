// The one Settings record. Its memory image is the configuration file, byte for byte, so
// every offset below is part of the file format and is pinned at compile time.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr std::size_t kSettingsRecordSize = 1832;
constexpr std::size_t kTextFieldSize = 256;
constexpr int kMessageCount = 6;
constexpr uint32_t kSettingsMagic = 0x55;

// The 15 bytes the keyer's load command takes, in the keyer's order. The same block is the
// payload of the keyer-settings packet.
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

struct SettingsRecord {
    uint32_t magic;
    uint32_t com_port;
    uint32_t open_at_startup;
    uint32_t reserved_one;
    KeyerSettings keyer_settings;
    uint8_t padding;  // never written by the program; keeps what a file supplied
    uint32_t net_flags;
    char ip_address[kTextFieldSize];
    uint32_t ip_port;
    char messages[kMessageCount][kTextFieldSize];
};

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the configuration file is the little-endian image of the record"
#endif
static_assert(sizeof(SettingsRecord) == kSettingsRecordSize, "record size is the file size");
static_assert(offsetof(SettingsRecord, magic) == 0);
static_assert(offsetof(SettingsRecord, com_port) == 4);
static_assert(offsetof(SettingsRecord, open_at_startup) == 8);
static_assert(offsetof(SettingsRecord, reserved_one) == 12);
static_assert(offsetof(SettingsRecord, keyer_settings) == 16);
static_assert(offsetof(SettingsRecord, keyer_settings) + offsetof(KeyerSettings, wpm) == 17);
static_assert(offsetof(SettingsRecord, keyer_settings) + offsetof(KeyerSettings, sidetone) == 18);
static_assert(offsetof(SettingsRecord, keyer_settings) + offsetof(KeyerSettings, pin_config) == 29);
static_assert(offsetof(SettingsRecord, keyer_settings) + offsetof(KeyerSettings, keyer_spare) ==
              30);
static_assert(offsetof(SettingsRecord, padding) == 31);
static_assert(offsetof(SettingsRecord, net_flags) == 32);
static_assert(offsetof(SettingsRecord, ip_address) == 36);
static_assert(offsetof(SettingsRecord, ip_port) == 292);
static_assert(offsetof(SettingsRecord, messages) == 296);
static_assert(offsetof(SettingsRecord, messages) + 5 * kTextFieldSize == 1576, "M6 offset");

// `net_flags`
constexpr uint32_t kNetModeMask = 0x03;
constexpr uint32_t kNetModeOff = 0x00;
constexpr uint32_t kNetModeClient = 0x01;
constexpr uint32_t kNetModeServer = 0x02;
constexpr uint32_t kNetLocalKeyerDisabled = 0x04;
constexpr uint32_t kNetRemoteSidetone = 0x08;
constexpr uint32_t kNetIpAddrOverride = 0x10;
constexpr uint32_t kNetLetterPaddle = 0x20;
constexpr uint32_t kNetRoleMask = 0xC0;
constexpr uint32_t kNetRoleConverse = 0x00;
constexpr uint32_t kNetRoleRemoteSide = 0x40;
constexpr uint32_t kNetRoleControlPoint = 0x80;

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

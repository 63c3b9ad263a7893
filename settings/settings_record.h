// The one Settings record. Its memory image is the configuration file, byte for byte, so
// every offset below is part of the file format and is pinned at compile time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "keyer/keyer_settings.h"

constexpr std::size_t kSettingsRecordSize = 1832;
constexpr std::size_t kTextFieldSize = 256;
constexpr int kMessageCount = 6;
constexpr uint32_t kSettingsMagic = 0x55;

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

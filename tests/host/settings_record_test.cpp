// The record's memory image is the file format; these check the layout from the bytes
// side, independently of the compile-time offsets.
#include <gtest/gtest.h>

#include <cstring>

#include "settings/settings_record.h"
#include "settings/settings_store.h"

namespace {

const uint8_t* Bytes(const SettingsRecord& record) {
    return reinterpret_cast<const uint8_t*>(&record);
}

TEST(SettingsRecordLayout, FieldsLandAtTheirFileOffsets) {
    SettingsRecord settings{};
    settings.magic = 0x11223344;
    settings.com_port = 0x0A;
    settings.open_at_startup = 0x0B;
    settings.reserved_one = 0x0C;
    settings.keyer_settings.mode_register = 0xA0;
    settings.keyer_settings.keyer_spare = 0xAE;
    settings.padding = 0xAF;
    settings.net_flags = 0xC2;
    settings.ip_address[0] = 'h';
    settings.ip_address[255] = 'z';
    settings.ip_port = 0x0102;
    settings.messages[0][0] = '1';
    settings.messages[4][0] = '5';
    settings.messages[5][0] = '6';
    settings.messages[5][255] = 'e';

    const uint8_t* b = Bytes(settings);
    EXPECT_EQ(b[0], 0x44);  // little-endian words
    EXPECT_EQ(b[3], 0x11);
    EXPECT_EQ(b[4], 0x0A);
    EXPECT_EQ(b[8], 0x0B);
    EXPECT_EQ(b[12], 0x0C);
    EXPECT_EQ(b[16], 0xA0);
    EXPECT_EQ(b[30], 0xAE);
    EXPECT_EQ(b[31], 0xAF);
    EXPECT_EQ(b[32], 0xC2);
    EXPECT_EQ(b[36], 'h');
    EXPECT_EQ(b[291], 'z');
    EXPECT_EQ(b[292], 0x02);
    EXPECT_EQ(b[293], 0x01);
    EXPECT_EQ(b[296], '1');
    EXPECT_EQ(b[1320], '5');
    EXPECT_EQ(b[1576], '6');
    EXPECT_EQ(b[1831], 'e');
}

TEST(SettingsRecordLayout, KeyerBlockIsFifteenBytesInTheKeyersOrder) {
    SettingsRecord settings{};
    KeyerSettings& k = settings.keyer_settings;
    uint8_t* fields[] = {&k.mode_register,    &k.wpm,        &k.sidetone,
                         &k.weight,           &k.lead_in,    &k.tail,
                         &k.min_wpm,          &k.wpm_range,  &k.first_extension,
                         &k.key_compensation, &k.farnsworth, &k.paddle_setpoint,
                         &k.dit_dah_ratio,    &k.pin_config, &k.keyer_spare};
    for (int i = 0; i < 15; ++i) {
        *fields[i] = static_cast<uint8_t>(0x60 + i);
    }
    for (int i = 0; i < 15; ++i) {
        EXPECT_EQ(Bytes(settings)[16 + i], 0x60 + i) << "keyer byte " << i;
    }
}

TEST(SettingsDefaults, SetEveryDefaultedFieldAndLeaveTheRest) {
    SettingsStore store;
    SettingsRecord& settings = store.record();
    std::memset(&settings, 0xEE, sizeof settings);
    store.SetDefaults();

    const uint8_t expected_keyer[15] = {0, 16, 5, 50, 0, 0, 5, 20, 0, 0, 0, 50, 50, 0, 0};
    EXPECT_EQ(settings.magic, 0x55u);
    EXPECT_EQ(settings.com_port, 1u);
    EXPECT_EQ(settings.open_at_startup, 0u);
    EXPECT_EQ(settings.reserved_one, 1u);
    EXPECT_EQ(std::memcmp(&settings.keyer_settings, expected_keyer, 15), 0);
    EXPECT_EQ(settings.net_flags, 0u);
    EXPECT_EQ(settings.ip_address[0], '\0');
    EXPECT_EQ(settings.ip_port, 81u);
    for (const auto& message : settings.messages) {
        EXPECT_EQ(message[0], '\0');
        EXPECT_EQ(static_cast<uint8_t>(message[1]), 0xEE) << "only the first byte is emptied";
    }
    EXPECT_EQ(settings.padding, 0xEE) << "the padding byte is never written";
}

}  // namespace

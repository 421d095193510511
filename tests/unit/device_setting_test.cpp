// The card device setting that kvtd's Linux board (KVT_CARD_DEVICE) and
// kvtcard --device share: which backend and which address.
#include <string>

#include <gtest/gtest.h>

#include "cardlib/device_setting.hpp"
#include "tests/support/rows.hpp"

namespace {

using Kind = cardlib::DeviceSetting::Kind;

struct SettingCase {
    const char *name;
    const char *text;
    Kind kind;
    unsigned address;
    const char *refusal = ""; // the whole message when it is not read, else empty
};

const SettingCase kSettings[] = {
    {"i2c_with_address", "i2c:/dev/i2c-1@0x50", Kind::i2c_dev, 0x50},
    {"bare_bus_takes_0x53", "/dev/i2c-2", Kind::i2c_dev, 0x53},
    {"decimal_address", "/dev/i2c-2@83", Kind::i2c_dev, 0x53},
    {"at24_sysfs_file", "at24:/sys/bus/i2c/devices/3-0053/eeprom", Kind::at24, 0x53},
    {"bare_at24_file", "/sys/bus/i2c/devices/12-0050/eeprom", Kind::at24, 0x53},
    {"file_naming_no_bus", "/tmp/part.bin", Kind::at24, 0x53},
    {"lowest_address", "i2c:/dev/i2c-1@0x03", Kind::i2c_dev, 0x03},
    {"highest_address", "i2c:/dev/i2c-1@0x77", Kind::i2c_dev, 0x77},
    {"reserved_address_below", "i2c:/dev/i2c-1@0x02", Kind::i2c_dev, 0,
     "bad I2C address 0x02 (0x03 to 0x77, e.g. 0x53)"},
    {"reserved_address_above", "i2c:/dev/i2c-1@0x78", Kind::i2c_dev, 0,
     "bad I2C address 0x78 (0x03 to 0x77, e.g. 0x53)"},
    {"address_not_a_number", "/dev/i2c-1@0x5g", Kind::i2c_dev, 0,
     "bad I2C address 0x5g (0x03 to 0x77, e.g. 0x53)"},
    {"no_path", "i2c:@0x53", Kind::i2c_dev, 0, "no i2c-dev path (e.g. /dev/i2c-1@0x53)"},
    {"empty", "", Kind::i2c_dev, 0, "no device path"},
};

using kvttest::PrintTo;

class DeviceSetting : public testing::TestWithParam<SettingCase> {};

TEST_P(DeviceSetting, NamesTheBackendAndAddress)
{
    const SettingCase &c = GetParam();
    std::string error;
    const auto setting = cardlib::parse_device_setting(c.text, error);
    ASSERT_EQ(setting.has_value(), *c.refusal == '\0') << error;
    EXPECT_EQ(error, c.refusal); // and nothing when it is read
    if (!setting)
        return;
    EXPECT_EQ(setting->kind, c.kind);
    EXPECT_EQ(setting->address, c.address);
}

INSTANTIATE_TEST_SUITE_P(Settings, DeviceSetting, testing::ValuesIn(kSettings), kvttest::by_name);

} // namespace

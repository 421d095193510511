// The card slot a Linux board takes from KVT_CARD_DEVICE and KVT_CARD_PART,
// linked as a board links it, without the simulated SP. The slot is made
// once, at the first card access, so each case runs in a child of its own.
// No case names an i2c-dev bus that would open: the host's /dev is not
// the test's.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <unistd.h>

#include "cardlib/eeprom_device.hpp"
#include "cardlib/i2c_bus.hpp"
#include "platform/card_lib.h"

namespace {

using Bytes = std::vector<unsigned char>;

struct Case {
    const char *name;
    const char *device; // "FILE" stands for the card's at24 file
    const char *part;   // nullptr: not set
    std::size_t part_size;
    const char *complaint; // on standard error; "" for a usable slot
};

const Case kCases[] = {
    {"PartNotSet", "at24:FILE", nullptr, 8192, ""},
    {"PartEmpty", "at24:FILE", "", 8192, ""},
    {"PartNamed", "at24:FILE", "24c256", 32768, ""},
    {"LargestPart", "at24:FILE", "24c512", 65536, ""},
    {"BarePathIsTheAt24File", "FILE", "24c64", 8192, ""},
    {"PartUnknown", "at24:FILE", "24c32", 8192,
     "^kvtd: card device: KVT_CARD_PART: not one of 24c64, 24c128, 24c256, 24c512\n$"},
    {"DeviceUnreadable", "i2c:/dev/i2c-0@0x99", "24c64", 8192,
     "^kvtd: card device: KVT_CARD_DEVICE: .+\n$"},
};

void PrintTo(const Case &c, std::ostream *out)
{
    *out << c.name;
}

class BoardSetting : public testing::TestWithParam<Case> {
  protected:
    void SetUp() override
    {
        char dir[] = "/tmp/kvt-board-XXXXXX";
        ASSERT_NE(::mkdtemp(dir), nullptr);
        dir_ = dir;
        file_ = dir_ + "/eeprom";
        contents_.resize(65536);
        std::iota(contents_.begin(), contents_.end(), 7);
        std::FILE *f = std::fopen(file_.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(std::fwrite(contents_.data(), 1, contents_.size(), f), contents_.size());
        ASSERT_EQ(std::fclose(f), 0);
    }
    void TearDown() override
    {
        std::remove(file_.c_str());
        ::rmdir(dir_.c_str());
    }

    std::string device_setting(const Case &c) const
    {
        std::string text = c.device;
        const auto at = text.find("FILE");
        return at == std::string::npos ? text : text.replace(at, 4, file_);
    }

    // In the child: the slot as the setting makes it, or an exit status
    // saying what was wrong with it.
    [[noreturn]] void probe(const Case &c) const
    {
        ::setenv("KVT_CARD_DEVICE", device_setting(c).c_str(), 1);
        if (c.part)
            ::setenv("KVT_CARD_PART", c.part, 1);
        else
            ::unsetenv("KVT_CARD_PART");
        cardlib::EepromDevice &device = cardlib::board_card_device();
        if (device.part_size() != c.part_size)
            std::_Exit(2);
        std::_Exit(*c.complaint ? probe_unusable(device) : probe_usable(device));
    }

    // The device reads the file, the monitor's header read finds the same
    // bytes at the image's header, and the card as read is the whole part,
    // which a start-up keeps before it captures over it.
    int probe_usable(cardlib::EepromDevice &device) const
    {
        Bytes head(8);
        if (device.read(0, head) != 0 || !std::equal(head.begin(), head.end(), contents_.begin()))
            return 3;
        unsigned char address[2] = {0x18, 0x00};
        Bytes header(8);
        const cardlib::I2cMessage messages[] = {{0x53, false, address}, {0x53, true, header}};
        if (cardlib::board_card_bus().transfer(messages) != 0 ||
            !std::equal(header.begin(), header.end(), contents_.begin() + 0x1800))
            return 4;
        return whole_part_as_read(device.part_size());
    }

    int whole_part_as_read(std::size_t part_size) const
    {
        Bytes image(KVT_IMAGE_SIZE);
        if (read_in_KVT(image.data(), KVT_IMAGE_SIZE) != 0)
            return 7;
        const int size = static_cast<int>(part_size);
        Bytes part(part_size);
        if (card_as_read_KVT(part.data(), size - 1) != -1 ||
            card_as_read_KVT(part.data(), size) != size ||
            !std::equal(part.begin() + 0x1800, part.begin() + 0x1800 + KVT_IMAGE_SIZE,
                        contents_.begin() + 0x1800))
            return 8;
        return 0;
    }

    // Every access fails as for a setting that names nothing usable.
    static int probe_unusable(cardlib::EepromDevice &device)
    {
        Bytes byte(1);
        if (device.present() || device.read(0, byte) != -1 || errno != EINVAL)
            return 5;
        const cardlib::I2cMessage message{0x53, true, byte};
        if (cardlib::board_card_bus().transfer({&message, 1}) != -1 || errno != EINVAL)
            return 6;
        return 0;
    }

    std::string dir_;
    std::string file_;
    Bytes contents_;
};

TEST_P(BoardSetting, MakesTheSlotItNames)
{
    const Case &c = GetParam();
    EXPECT_EXIT(probe(c), testing::ExitedWithCode(0), c.complaint);
}

INSTANTIATE_TEST_SUITE_P(Cases, BoardSetting, testing::ValuesIn(kCases),
                         [](const auto &row) { return std::string(row.param.name); });

} // namespace

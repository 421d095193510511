// The card slot a Linux board opens from its device setting: the card
// monitor's header read (device 0x53 to the platform) finds the card
// wherever the setting puts it, the at24 backend needs no i2c-dev, an
// adapter that cannot run the card's transfers is refused by name, and no
// message longer than the kernel takes reaches it.
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>

#include "cardlib/card_slot.hpp"
#include "cardlib/i2c_eeprom_device.hpp"
#include "sim/card/card_chip.hpp"
#include "sim/control.hpp"
#include "tests/support/failure_errno.hpp"
#include "tests/support/rows.hpp"
#include "tests/support/sim_root.hpp"

namespace {

using Bytes = std::vector<unsigned char>;

constexpr std::size_t kHeaderAddress = 0x1800;
constexpr std::array<unsigned char, 8> kHeader{0x0B, 0x02, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66};

// The card chip as an i2c-dev bus would reach it; counts the buses opened.
class ChipView : public cardlib::I2cBus {
  public:
    int transfer(std::span<const cardlib::I2cMessage> messages) override
    {
        return kvtsim::card_chip().transfer(messages);
    }
    cardlib::BusyWait busy_wait() const override { return kvtsim::card_chip().busy_wait(); }
    std::optional<cardlib::Adapter> adapter() override { return kvtsim::card_chip().adapter(); }
};

int buses_opened = 0;

std::unique_ptr<cardlib::I2cBus> open_chip(const std::string &)
{
    ++buses_opened;
    return std::make_unique<ChipView>();
}

struct SlotCase {
    const char *name;
    const char *setting; // {dir}: the test's root
    std::uint16_t chip_address;
    bool opens_i2c_dev;
};

const SlotCase kSlots[] = {
    {"i2c_dev_at_0x50", "i2c:/dev/i2c-7@0x50", 0x50, true},
    {"i2c_dev_at_0x53", "/dev/i2c-7", 0x53, true},
    {"at24_file_of_a_card_at_0x50", "at24:{dir}/sys/bus/i2c/devices/1-0050/eeprom", 0x53, false},
    {"at24_file_anywhere", "{dir}/card-slot", 0x53, false},
};

using kvttest::failure_errno;
using kvttest::PrintTo;

class CardSlot : public testing::TestWithParam<SlotCase> {
  protected:
    ~CardSlot() override { kvtsim::card_chip().set_model({}); }

    // The card behind the slot's backend: the chip at its address, or a
    // file where the setting names the at24 file.
    std::string setting_with_card()
    {
        const SlotCase &c = GetParam();
        std::string text = c.setting;
        if (const auto at = text.find("{dir}"); at != std::string::npos)
            text.replace(at, 5, root_.dir());
        kvtsim::ImageBytes image{};
        std::copy(kHeader.begin(), kHeader.end(), image.begin());
        kvtsim::card_chip().set_model({.address = c.chip_address});
        EXPECT_EQ(kvtsim::card_insert_image(image), 0);
        if (!c.opens_i2c_dev) {
            const std::string path = text.substr(text.find('/'));
            std::filesystem::create_directories(std::filesystem::path(path).parent_path());
            const Bytes part = kvtsim::card_eeprom();
            std::ofstream(path, std::ios::binary) << std::string(part.begin(), part.end());
        }
        return text;
    }

    kvttest::SimRoot root_;
};

TEST_P(CardSlot, TheHeaderReadOfDevice0x53FindsTheCardWhereTheSettingPutsIt)
{
    std::string error;
    const auto setting = cardlib::parse_device_setting(setting_with_card(), error);
    ASSERT_TRUE(setting) << error;
    buses_opened = 0;
    auto slot = cardlib::open_card_slot(*setting, cardlib::kPart24c64, error, open_chip);
    ASSERT_TRUE(slot) << error;
    EXPECT_EQ(buses_opened, GetParam().opens_i2c_dev ? 1 : 0);

    // What the card monitor's i2c_writeread asks: the 8 header bytes of the
    // card at device 0x53.
    std::array<unsigned char, 8> header{};
    std::array<unsigned char, 2> at{0x18, 0x00};
    const std::array messages{cardlib::I2cMessage{cardlib::kCardI2cAddress, false, at},
                              cardlib::I2cMessage{cardlib::kCardI2cAddress, true, header}};
    ASSERT_EQ(cardlib::transfer_when_ready(*slot->header_bus, messages), 0) << std::strerror(errno);
    EXPECT_EQ(header, kHeader);
    Bytes through_device(8);
    ASSERT_EQ(slot->device->read(kHeaderAddress, through_device), 0);
    EXPECT_TRUE(std::equal(kHeader.begin(), kHeader.end(), through_device.begin()));
}

INSTANTIATE_TEST_SUITE_P(Backends, CardSlot, testing::ValuesIn(kSlots), kvttest::by_name);

TEST(CardSlotAdapter, AnSmbusOnlyAdapterIsRefusedByNameAndNeverSentATransfer)
{
    kvttest::SimRoot root;
    kvtsim::card_chip().set_model({.plain_i2c = false});
    std::string error;
    const auto setting = cardlib::parse_device_setting("/dev/i2c-0", error);
    EXPECT_FALSE(cardlib::open_card_slot(*setting, cardlib::kPart24c64, error, open_chip));
    EXPECT_NE(error.find("/dev/i2c-0: adapter \"card chip\" is SMBus-only"), std::string::npos)
        << error;
    error.clear();
    EXPECT_EQ(cardlib::open_device(*setting, cardlib::kPart24c64, error, open_chip), nullptr)
        << "kvtcard's device refuses it too";
    EXPECT_FALSE(error.empty());

    cardlib::I2cEepromDevice device(kvtsim::card_chip(), cardlib::kCardI2cAddress,
                                    cardlib::kPart24c64);
    const std::uint64_t before = kvtsim::card_chip().transfers();
    Bytes byte(1);
    EXPECT_EQ(failure_errno([&] { return device.read(0, byte); }), EOPNOTSUPP);
    EXPECT_EQ(kvtsim::card_chip().transfers(), before);
    kvtsim::card_chip().set_model({});
}

// The kernel's message length is 16 bits wide: a longer message cut to it
// would read nothing and succeed. The shim refuses it before it opens the
// adapter; one the kernel takes gets as far as the (missing) adapter, which
// has no name and no functions either.
TEST(CardSlotAdapter, TheI2cDevShimRefusesAMessageLongerThanTheKernelTakes)
{
    const auto bus = cardlib::i2c_dev_bus("/nonexistent/i2c-9");
    for (const std::size_t len : {std::size_t{65536}, cardlib::kKernelMaxMessage + 1}) {
        Bytes buffer(len);
        const cardlib::I2cMessage message{0x53, true, buffer};
        EXPECT_EQ(failure_errno([&] { return bus->transfer(std::span(&message, 1)); }), EMSGSIZE)
            << len;
    }
    Bytes most(cardlib::kKernelMaxMessage);
    const cardlib::I2cMessage messages[] = {
        {0x53, false, most}, {0x53, true, most}, {0x53, true, most}};
    // No message, or more than a write and a read, is refused before the adapter is opened.
    for (const std::size_t count : {0, 3})
        EXPECT_EQ(failure_errno([&] { return bus->transfer(std::span(messages, count)); }), EINVAL)
            << count;
    EXPECT_EQ(failure_errno([&] { return bus->transfer(std::span(messages, 2)); }), ENOENT);
    EXPECT_EQ(bus->adapter(), std::nullopt);
}

// An adapter of the test's own: every transfer ends as `result` says,
// with `error` when it is negative.
struct AdapterAnswer {
    int result;
    int error;
};
AdapterAnswer answer{};

int open_null(const char *, int flags)
{
    return ::open("/dev/null", flags);
}

int answer_transfer(int, unsigned long, void *)
{
    errno = answer.error;
    return answer.result;
}

// The kernel counts the messages it has done: fewer than were given, with
// no error, is a transfer that did not happen (EIO); an error is the
// adapter's own.
TEST(CardSlotAdapter, AShortCountFailsTheTransferAndAnErrorIsPassedOn)
{
    const cardlib::AdapterAccess access{open_null, answer_transfer};
    const auto bus = cardlib::i2c_dev_bus("/dev/i2c-test", access);
    Bytes address(2);
    Bytes data(4);
    const cardlib::I2cMessage messages[] = {{0x53, false, address}, {0x53, true, data}};
    for (const auto &[given, ends] :
         {std::pair{AdapterAnswer{0, 0}, EIO}, std::pair{AdapterAnswer{1, 0}, EIO},
          std::pair{AdapterAnswer{-1, ENXIO}, ENXIO}}) {
        answer = given;
        EXPECT_EQ(failure_errno([&] { return bus->transfer(messages); }), ends) << given.result;
    }
    answer = {2, 0};
    EXPECT_EQ(bus->transfer(messages), 0);
}

// The kernel's i2c-dev in front of the simulated part: I2C_RDWR hands on
// each message as its flags and length say; I2C_FUNCS names a plain I2C
// adapter.
int chip_behind_i2c_dev(int, unsigned long request, void *arg)
{
    if (request == I2C_FUNCS) {
        *static_cast<unsigned long *>(arg) = I2C_FUNC_I2C;
        return 0;
    }
    const auto *data = static_cast<const i2c_rdwr_ioctl_data *>(arg);
    std::vector<cardlib::I2cMessage> messages;
    for (const i2c_msg &m : std::span(data->msgs, data->nmsgs))
        messages.push_back({m.addr, (m.flags & I2C_M_RD) != 0, std::span(m.buf, m.len)});
    if (kvtsim::card_chip().transfer(messages) != 0)
        return -1;
    return static_cast<int>(data->nmsgs);
}

TEST(CardSlotAdapter, TheI2cDevShimCarriesWritesAndReadsToThePart)
{
    kvttest::SimRoot root;
    ASSERT_EQ(kvtsim::card_insert_blank(cardlib::kPart24c64.size), 0);
    const cardlib::AdapterAccess access{open_null, chip_behind_i2c_dev};
    const auto bus = cardlib::i2c_dev_bus("/dev/i2c-test", access);
    const std::optional<cardlib::Adapter> adapter = bus->adapter();
    ASSERT_TRUE(adapter.has_value());
    EXPECT_TRUE(adapter->plain_i2c);
    cardlib::I2cEepromDevice device(*bus, cardlib::kCardI2cAddress, cardlib::kPart24c64);
    const Bytes page{0x4b, 0x56, 0x54, 0x01, 0x02, 0x03, 0x04, 0x05};
    ASSERT_EQ(device.program(0x48, page), 0);
    Bytes back(page.size());
    ASSERT_EQ(device.read(0x48, back), 0);
    EXPECT_EQ(back, page);
}

} // namespace

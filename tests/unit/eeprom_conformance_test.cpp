// Conformance of the card's EEPROM backends: every device the card library
// may run over keeps the contract of cardlib/eeprom_device.hpp. Each
// backend here runs the same tests:
//   - the card chip of the simulated SP, a 24C64, 24C256 and 24C512 true
//     to the datasheet, through the i2c-dev device code;
//   - the at24 device over a plain file, as the at24 driver's file reads;
//   - the device named by KVT_CONFORMANCE_DEVICE (e.g.
//     "i2c:/dev/i2c-1@0x53") and KVT_CONFORMANCE_PART, when set: a card on
//     a real board. Its writes overwrite the card: use a spare one.
// The board's card is never pulled by a test; holding the part busy and
// pulling it mid-transfer run on the chip model alone.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cardlib/at24_device.hpp"
#include "cardlib/device_setting.hpp"
#include "cardlib/i2c_eeprom_device.hpp"
#include "sim/card_chip.hpp"
#include "sim/control.hpp"
#include "tests/support/sim_root.hpp"

namespace {

using Bytes = std::vector<unsigned char>;
using cardlib::EepromDevice;
using cardlib::EepromPart;

// Splits a write into page writes at `page` boundaries, as the card
// library does.
int program_split(EepromDevice &device, std::size_t page, std::size_t address, const Bytes &bytes)
{
    for (std::size_t done = 0; done < bytes.size();) {
        const std::size_t len = std::min(bytes.size() - done, page - (address + done) % page);
        const auto piece = std::span(bytes).subspan(done, len);
        if (device.program(address + done, piece) != 0)
            return -1;
        done += len;
    }
    return 0;
}

// Writes every length from 1 to two pages and one byte at each offset from
// three bytes before to two after the page boundary `boundary`, split at
// `page`, and reads each back with one sequential read of the pages
// around it. The first write that failed or read back otherwise, or "".
std::string boundary_mismatch(EepromDevice &device, std::size_t page, std::size_t boundary)
{
    const std::size_t first = boundary - page;
    Bytes expected(4 * page);
    if (device.read(first, expected) != 0)
        return "cannot read the pages around the boundary";
    unsigned round = 0;
    for (std::size_t at = boundary - 3; at <= boundary + 2; ++at) {
        for (std::size_t len = 1; len <= 2 * page + 1; ++len, ++round) {
            Bytes bytes(len);
            for (std::size_t i = 0; i < len; ++i)
                bytes[i] = static_cast<unsigned char>(round * 7 + i * 13 + 1);
            std::copy(bytes.begin(), bytes.end(), expected.begin() + static_cast<long>(at - first));
            Bytes got(expected.size());
            if (program_split(device, page, at, bytes) != 0 || device.read(first, got) != 0 ||
                got != expected)
                return "write of " + std::to_string(len) + " at " + std::to_string(at);
        }
    }
    return {};
}

// The card chip on the bus, reached through the i2c-dev device.
template <std::size_t Part> class ChipBackend {
  public:
    static constexpr EepromPart kPart = cardlib::kParts[Part];

    ChipBackend() { EXPECT_EQ(kvtsim::card_insert_blank(kPart.size), 0); }

    EepromDevice &device() { return device_; }
    void pull() { ASSERT_EQ(kvtsim::card_pull(), 0); }
    void insert() { ASSERT_EQ(kvtsim::card_insert(), 0); }
    Bytes cells() const { return kvtsim::card_eeprom(); }

  private:
    kvttest::SimRoot root_;
    cardlib::I2cEepromDevice device_{kvtsim::card_chip(), cardlib::kCardI2cAddress, kPart};
};

// Whether the chip acknowledges right now, asked once.
bool chip_answers_at_once()
{
    const cardlib::I2cMessage probe{cardlib::kCardI2cAddress, false, {}};
    return kvtsim::card_chip().transfer(std::span(&probe, 1)) == 0;
}

// The at24 driver's file, played by a plain file.
class At24FileBackend {
  public:
    static constexpr EepromPart kPart = cardlib::kPart24c64;

    At24FileBackend() { std::ofstream(path_, std::ios::binary) << std::string(kPart.size, '\xff'); }

    EepromDevice &device() { return device_; }
    void pull() { ASSERT_EQ(std::rename(path_.c_str(), (path_ + ".out").c_str()), 0); }
    void insert() { ASSERT_EQ(std::rename((path_ + ".out").c_str(), path_.c_str()), 0); }
    Bytes cells() const
    {
        const std::string text = kvttest::read_file(path_);
        return Bytes(text.begin(), text.end());
    }

  private:
    kvttest::SimRoot root_;
    std::string path_ = root_.dir() + "/eeprom";
    cardlib::At24Device device_{path_, kPart};
};

// A card on a real board, named by the environment.
class ConfiguredBackend {
  public:
    ConfiguredBackend()
    {
        const char *setting = std::getenv("KVT_CONFORMANCE_DEVICE");
        const char *part = std::getenv("KVT_CONFORMANCE_PART");
        std::string error;
        const auto parsed = cardlib::parse_device_setting(setting ? setting : "", error);
        const auto named = cardlib::part_named(part ? part : "24c64");
        if (setting && parsed && named)
            device_ = cardlib::open_device(*parsed, *named);
    }

    bool configured() const { return device_ != nullptr; }
    EepromDevice &device() { return *device_; }
    void pull() {}
    void insert() {}
    Bytes cells() const { return {}; }

  private:
    std::unique_ptr<EepromDevice> device_;
};

template <typename Backend> class EepromConformance : public testing::Test {
  protected:
    void SetUp() override
    {
        if constexpr (std::is_same_v<Backend, ConfiguredBackend>)
            if (!backend.configured())
                GTEST_SKIP() << "KVT_CONFORMANCE_DEVICE names no device";
    }

    EepromDevice &device() { return backend.device(); }

    Backend backend;
};

using Backends = testing::Types<ChipBackend<0>, ChipBackend<2>, ChipBackend<3>, At24FileBackend,
                                ConfiguredBackend>;
TYPED_TEST_SUITE(EepromConformance, Backends);

TYPED_TEST(EepromConformance, ReadsBackEveryWriteNearAPageBoundary)
{
    EepromDevice &device = this->device();
    EXPECT_EQ(boundary_mismatch(device, device.page_size(), device.part_size() / 2), "");
    Bytes read(device.part_size());
    ASSERT_EQ(device.read(0, read), 0);
    const Bytes cells = this->backend.cells();
    EXPECT_TRUE(cells.empty() || cells == read) << "the bench's view of the part differs";
}

TYPED_TEST(EepromConformance, RefusesRangesOutsideThePartOrAcrossAPage)
{
    EepromDevice &device = this->device();
    const std::size_t page = device.page_size();
    Bytes two(2, 0x5A);
    errno = 0;
    EXPECT_EQ(device.read(device.part_size() - 1, two), -1);
    EXPECT_EQ(errno, EINVAL);
    errno = 0;
    EXPECT_EQ(device.program(page - 1, two), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(device.program(device.part_size() - 2, two), 0);
}

TYPED_TEST(EepromConformance, AnAbsentCardFailsWithEnxioAndCountsAsAChange)
{
    if (std::is_same_v<TypeParam, ConfiguredBackend>)
        GTEST_SKIP() << "a card on a board is not pulled by a test";
    EepromDevice &device = this->device();
    Bytes byte(1);
    ASSERT_TRUE(device.present());
    EXPECT_FALSE(device.card_changed());
    this->backend.pull();
    EXPECT_FALSE(device.present());
    errno = 0;
    EXPECT_EQ(device.read(0, byte), -1);
    EXPECT_TRUE(errno == ENXIO || errno == EREMOTEIO) << errno;
    errno = 0;
    EXPECT_EQ(device.program(0, byte), -1);
    EXPECT_TRUE(errno == ENXIO || errno == EREMOTEIO) << errno;
    this->backend.insert();
    EXPECT_TRUE(device.present());
    EXPECT_TRUE(device.card_changed());
    EXPECT_FALSE(device.card_changed());
}

// What only the chip model can do: hold the part busy, pull it mid-transfer.
template <typename B> class EepromOnTheModel : public EepromConformance<B> {
};
using ModelBackends = testing::Types<ChipBackend<0>, ChipBackend<2>, ChipBackend<3>>;
TYPED_TEST_SUITE(EepromOnTheModel, ModelBackends);

// Acknowledge polling: program() returns once the part answers again, and
// gives up, with the part silent, after the bus's bounded wait.
TYPED_TEST(EepromOnTheModel, WaitsOutTheWriteCycleWithinABound)
{
    EepromDevice &device = this->device();
    const auto limit = kvtsim::card_chip().busy_wait().give_up_after;
    const Bytes bytes{1, 2, 3};
    kvtsim::fault_set("card.busy", (limit / 2).count());
    ASSERT_EQ(device.program(0x100, bytes), 0);
    EXPECT_TRUE(chip_answers_at_once());

    kvtsim::fault_set("card.busy", (limit * 20).count());
    errno = 0;
    EXPECT_EQ(device.program(0x200, bytes), -1);
    EXPECT_EQ(errno, ENXIO);
    kvtsim::fault_clear("card.busy");
    ASSERT_TRUE(kvttest::wait_until(chip_answers_at_once));
    Bytes got(3);
    ASSERT_EQ(device.read(0x200, got), 0);
    EXPECT_EQ(got, bytes) << "the write itself went through";
}

TYPED_TEST(EepromOnTheModel, ACardPulledMidWriteKeepsItsOldBytes)
{
    EepromDevice &device = this->device();
    const Bytes old(8, 0x11);
    ASSERT_EQ(device.program(0x40, old), 0);
    kvtsim::fault_set("card.pull", 2 + 5, 1); // the address, then 5 of 8 data bytes
    errno = 0;
    EXPECT_EQ(device.program(0x40, Bytes(8, 0x22)), -1);
    EXPECT_TRUE(errno == ENXIO || errno == EREMOTEIO) << errno;
    this->backend.insert();
    EXPECT_TRUE(device.card_changed());
    Bytes got(8);
    ASSERT_EQ(device.read(0x40, got), 0);
    EXPECT_EQ(got, old) << "no stop reached the part: nothing was programmed";
}

// A backend that splits writes at the wrong page size: the chip wraps each
// page write that runs past its page to the page's start, so the boundary
// check sees the data land elsewhere.
TEST(EepromConformanceCheck, CatchesAWrongPageSplit)
{
    kvttest::SimRoot root;
    constexpr EepromPart kClaimed{"24c64 taken for 64-byte pages", 8192, 64};
    cardlib::I2cEepromDevice device(kvtsim::card_chip(), cardlib::kCardI2cAddress, kClaimed);
    EXPECT_NE(boundary_mismatch(device, kClaimed.page, 4096), "");
}

} // namespace

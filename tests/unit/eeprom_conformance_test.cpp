// Conformance of the card's EEPROM backends: every device the card library
// may run over keeps the contract of cardlib/eeprom_device.hpp. Each
// backend here runs the same tests:
//   - the card chip of the simulated SP through the i2c-dev device code,
//     one part of each size, its page taken from the datasheet table below
//     (never from the card library's), behind adapters that report a
//     missing acknowledge in each of the ways real ones do and that limit
//     a message's length;
//   - the at24 device over a plain file, failing as the at24 driver does
//     for a pulled card;
//   - the device named by KVT_CONFORMANCE_DEVICE (e.g.
//     "i2c:/dev/i2c-1@0x53") and KVT_CONFORMANCE_PART, when set: a card on
//     a real board. Its writes overwrite the card: use a spare one. A
//     setting that names nothing usable, or a run in which none of its
//     tests ran, fails.
// The board's card is never pulled by a test; holding the part busy and
// pulling it mid-transfer run on the chip model alone.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "cardlib/at24_device.hpp"
#include "cardlib/card_slot.hpp"
#include "cardlib/i2c_eeprom_device.hpp"
#include "sim/card/card_chip.hpp"
#include "sim/control.hpp"
#include "tests/support/failure_errno.hpp"
#include "tests/support/sim_root.hpp"

namespace {

using Bytes = std::vector<unsigned char>;
using cardlib::EepromDevice;
using kvttest::failure_errno;

// The 24C parts as their datasheets give them, written apart from the card
// library's table so that a wrong row there fails here.
struct Datasheet {
    const char *part;
    std::size_t size;
    std::size_t page;
};
constexpr Datasheet k24c64{"24c64", 8192, 32};
constexpr Datasheet k24c128{"24c128", 16384, 64};
constexpr Datasheet k24c256{"24c256", 32768, 64};
constexpr Datasheet k24c512{"24c512", 65536, 128};

TEST(EepromParts, TheLibrarysTableMatchesTheDatasheets)
{
    for (const Datasheet &sheet : {k24c64, k24c128, k24c256, k24c512}) {
        const auto part = cardlib::part_named(sheet.part);
        ASSERT_TRUE(part) << sheet.part;
        EXPECT_EQ(part->size, sheet.size) << sheet.part;
        EXPECT_EQ(part->page, sheet.page) << sheet.part;
        EXPECT_EQ(cardlib::part_of_size(sheet.size)->name, sheet.part);
    }
}

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

// The card chip on the bus, reached through the i2c-dev device with the
// card library's part of that name; the chip itself follows the datasheet
// and the adapter reports a missing acknowledge as `Nack` and refuses
// messages over `MaxMessage` bytes (0: none).
template <const Datasheet &Sheet, int Nack, std::size_t MaxMessage> class ChipBackend {
  public:
    ChipBackend()
    {
        kvtsim::card_chip().set_model(
            {.page = Sheet.page, .max_message = MaxMessage, .nack_errno = Nack});
        EXPECT_EQ(kvtsim::card_insert_blank(Sheet.size), 0);
    }
    ~ChipBackend() { kvtsim::card_chip().set_model({}); }

    static std::string name()
    {
        const char *nack = Nack == ENXIO       ? "enxio"
                           : Nack == EREMOTEIO ? "eremoteio"
                           : Nack == EIO       ? "eio"
                                               : "etimedout";
        std::string text = std::string("chip_") + Sheet.part + "_nack_" + nack;
        return MaxMessage ? text + "_messages_" + std::to_string(MaxMessage) : text;
    }
    EepromDevice &device() { return device_; }
    void pull() { ASSERT_EQ(kvtsim::card_pull(), 0); }
    void insert() { ASSERT_EQ(kvtsim::card_insert(), 0); }
    Bytes cells() const { return kvtsim::card_eeprom(); }
    int nack_errno() const { return Nack; }

  private:
    kvttest::SimRoot root_;
    cardlib::I2cEepromDevice device_{kvtsim::card_chip(), cardlib::kCardI2cAddress,
                                     cardlib::part_named(Sheet.part).value_or(cardlib::kPart24c64)};
};

// Whether the chip acknowledges right now, asked once.
bool chip_answers_at_once()
{
    const cardlib::I2cMessage probe{cardlib::kCardI2cAddress, false, {}};
    return kvtsim::card_chip().transfer(std::span(&probe, 1)) == 0;
}

// The bound at24 driver with its card pulled: every read and write waits
// out its write_timeout and fails with ETIMEDOUT. An unbound driver fails
// with ENODEV, and its file is gone (ENOENT).
std::atomic<int> driver_card_pulled{0};
// Bytes a read or write moves at most, as a driver with an I/O limit; 0:
// all asked for.
std::atomic<std::size_t> driver_chunk{0};
// Reads and writes still to be cut short by a signal before they move a byte.
std::atomic<int> driver_interruptions{0};

template <typename Buffer, ssize_t (*Call)(int, Buffer, std::size_t, off_t)>
ssize_t driver_io(int fd, Buffer buf, std::size_t len, off_t at)
{
    if (driver_card_pulled != 0) {
        errno = driver_card_pulled;
        return -1;
    }
    if (driver_interruptions > 0) {
        --driver_interruptions;
        errno = EINTR;
        return -1;
    }
    return Call(fd, buf, driver_chunk != 0 ? std::min<std::size_t>(len, driver_chunk) : len, at);
}

constexpr cardlib::FileAccess kDriverFiles{
    [](const char *path, int flags) { return ::open(path, flags); }, driver_io<void *, ::pread>,
    driver_io<const void *, ::pwrite>};

// The at24 driver's file, played by a plain file.
class At24FileBackend {
  public:
    // A card in the slot, and a driver that moves whole transfers.
    At24FileBackend()
    {
        driver_card_pulled = 0;
        driver_chunk = 0;
        driver_interruptions = 0;
        std::ofstream(path_, std::ios::binary) << std::string(k24c64.size, '\xff');
    }

    static std::string name() { return "at24_file"; }
    EepromDevice &device() { return device_; }
    void pull(int error = ETIMEDOUT) { driver_card_pulled = error; }
    void insert() { driver_card_pulled = 0; }
    const std::string &path() const { return path_; }
    Bytes cells() const
    {
        const std::string text = kvttest::read_file(path_);
        return Bytes(text.begin(), text.end());
    }
    int nack_errno() const { return ENXIO; }

  private:
    kvttest::SimRoot root_;
    std::string path_ = root_.dir() + "/eeprom";
    cardlib::At24Device device_{path_, cardlib::kPart24c64, kDriverFiles};
};

// Tests of the configured device that ran to their end.
int configured_tests_done = 0;

// A card on a real board, named by the environment.
class ConfiguredBackend {
  public:
    ConfiguredBackend()
    {
        const char *setting = std::getenv("KVT_CONFORMANCE_DEVICE");
        const char *part = std::getenv("KVT_CONFORMANCE_PART");
        if (!setting)
            return;
        const auto parsed = cardlib::parse_device_setting(setting, problem_);
        const auto named = cardlib::part_named(part ? part : "24c64");
        if (!named)
            problem_ =
                std::string("KVT_CONFORMANCE_PART ") + part + " is no part the library knows";
        if (parsed && named)
            device_ = cardlib::open_device(*parsed, *named, problem_);
        if (!problem_.empty())
            problem_ = std::string("KVT_CONFORMANCE_DEVICE ") + setting + ": " + problem_;
        else if (!device_->present())
            problem_ = std::string("KVT_CONFORMANCE_DEVICE ") + setting + ": no card answers";
    }

    static std::string name() { return "configured"; }
    bool named() const { return std::getenv("KVT_CONFORMANCE_DEVICE") != nullptr; }
    const std::string &problem() const { return problem_; }
    EepromDevice &device() { return *device_; }
    void pull() {}
    void insert() {}
    Bytes cells() const { return {}; }
    int nack_errno() const { return ENXIO; }

  private:
    std::string problem_;
    std::unique_ptr<EepromDevice> device_;
};

template <typename Backend> class EepromConformance : public testing::Test {
  protected:
    static constexpr bool kConfigured = std::is_same_v<Backend, ConfiguredBackend>;

    void SetUp() override
    {
        if constexpr (kConfigured) {
            if (!backend.named())
                GTEST_SKIP() << "KVT_CONFORMANCE_DEVICE names no device";
            ASSERT_EQ(backend.problem(), "");
        }
    }

    void TearDown() override
    {
        if constexpr (kConfigured)
            if (!HasFailure() && !IsSkipped())
                ++configured_tests_done;
    }

    EepromDevice &device() { return backend.device(); }

    Backend backend;
};

struct BackendNames {
    template <typename T> static std::string GetName(int) { return T::name(); }
};

// The chip of each size, and any backends after them.
template <typename... More>
using ChipBackends =
    testing::Types<ChipBackend<k24c64, ENXIO, 0>, ChipBackend<k24c128, EREMOTEIO, 0>,
                   ChipBackend<k24c256, EIO, 64>, ChipBackend<k24c512, ETIMEDOUT, 32>, More...>;
using Backends = ChipBackends<At24FileBackend, ConfiguredBackend>;
TYPED_TEST_SUITE(EepromConformance, Backends, BackendNames);

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
    EXPECT_EQ(failure_errno([&] { return device.read(device.part_size() - 1, two); }), EINVAL);
    EXPECT_EQ(failure_errno([&] { return device.program(page - 1, two); }), EINVAL);
    EXPECT_EQ(device.program(device.part_size() - 2, two), 0);
}

// The error is the adapter's for a missing acknowledge (the at24 device
// turns the driver's ETIMEDOUT into ENXIO), and the card counts as changed.
TYPED_TEST(EepromConformance, AnAbsentCardFailsAsUnacknowledgedAndCountsAsAChange)
{
    if (std::is_same_v<TypeParam, ConfiguredBackend>)
        GTEST_SKIP() << "a card on a board is not pulled by a test";
    EepromDevice &device = this->device();
    Bytes byte(1);
    ASSERT_TRUE(device.present());
    EXPECT_FALSE(device.card_changed());
    this->backend.pull();
    EXPECT_FALSE(device.present());
    EXPECT_EQ(failure_errno([&] { return device.read(0, byte); }), this->backend.nack_errno());
    EXPECT_EQ(failure_errno([&] { return device.program(0, byte); }), this->backend.nack_errno());
    this->backend.insert();
    EXPECT_TRUE(device.present());
    EXPECT_TRUE(device.card_changed());
    EXPECT_FALSE(device.card_changed());
}

// What only the driver's file can do: be cut short, be interrupted, be read
// and written in pieces, be unbound. An interrupted call is made again, and
// a file that ends early fails even when the call before was interrupted.
// The file is opened for each access, and closed whatever its end.
TEST(At24File, ShortFilesInterruptedAndPiecewiseTransfersAndAnUnboundDriver)
{
    At24FileBackend backend;
    EepromDevice &device = backend.device();
    const std::size_t descriptors = kvttest::open_descriptors();
    ASSERT_EQ(::truncate(backend.path().c_str(), 4096), 0);
    Bytes byte(1);
    driver_interruptions = 1;
    EXPECT_EQ(failure_errno([&] { return device.read(5000, byte); }), EIO);

    driver_chunk = 48;
    driver_interruptions = 2;
    Bytes guarded(128, 0xAA);
    ASSERT_EQ(device.read(0, std::span(guarded).first(64)), 0);
    EXPECT_EQ(std::count(guarded.begin(), guarded.begin() + 64, 0xFF), 64);
    EXPECT_EQ(std::count(guarded.begin() + 64, guarded.end(), 0xAA), 64) << "read past its span";

    for (const int error : {ENOENT, ENODEV}) {
        backend.pull(error);
        EXPECT_EQ(failure_errno([&] { return device.read(0, byte); }), ENXIO) << error;
        backend.insert();
    }
    driver_chunk = 10;
    Bytes page(device.page_size());
    std::iota(page.begin(), page.end(), 1);
    ASSERT_EQ(device.program(device.page_size(), page), 0);
    Bytes back(page.size());
    ASSERT_EQ(device.read(device.page_size(), back), 0);
    EXPECT_EQ(back, page) << "written in pieces of 10";
    EXPECT_EQ(kvttest::open_descriptors(), descriptors);
}

// What only the chip model can do: hold the part busy, pull it mid-transfer.
template <typename B> class EepromOnTheModel : public EepromConformance<B> {
};
TYPED_TEST_SUITE(EepromOnTheModel, ChipBackends<>, BackendNames);

// Acknowledge polling: program() returns once the part answers again,
// whatever errno the adapter gives meanwhile, and gives up, with the part
// silent, after the bus's bounded wait.
TYPED_TEST(EepromOnTheModel, WaitsOutTheWriteCycleWithinABound)
{
    EepromDevice &device = this->device();
    const auto limit = kvtsim::card_chip().busy_wait().give_up_after;
    const Bytes bytes{1, 2, 3};
    kvtsim::fault_set("card.busy", (limit / 2).count());
    ASSERT_EQ(device.program(0x100, bytes), 0);
    EXPECT_TRUE(chip_answers_at_once());

    kvtsim::fault_set("card.busy", (limit * 20).count());
    EXPECT_EQ(failure_errno([&] { return device.program(0x200, bytes); }),
              this->backend.nack_errno());
    kvtsim::fault_clear("card.busy");
    ASSERT_TRUE(kvttest::wait_until(chip_answers_at_once));
    Bytes got(3);
    ASSERT_EQ(device.read(0x200, got), 0);
    EXPECT_EQ(got, bytes) << "the write itself went through";
}

// Outside a write cycle of ours a silent part is not polled: an empty slot
// costs the same few transfers however long the busy wait is.
TYPED_TEST(EepromOnTheModel, AnEmptySlotIsAskedOnlyTheIdleTries)
{
    EepromDevice &device = this->device();
    this->backend.pull();
    ASSERT_TRUE(kvttest::wait_until([] { return !cardlib::write_cycle_running(); }));
    const std::uint64_t before = kvtsim::card_chip().transfers();
    EXPECT_FALSE(device.present());
    const auto tries = kvtsim::card_chip().transfers() - before;
    EXPECT_GE(tries, 1U);
    EXPECT_LE(tries, static_cast<std::uint64_t>(kvtsim::card_chip().busy_wait().idle_tries));
}

TYPED_TEST(EepromOnTheModel, ACardPulledMidWriteKeepsItsOldBytes)
{
    EepromDevice &device = this->device();
    const Bytes old(8, 0x11);
    ASSERT_EQ(device.program(0x40, old), 0);
    kvtsim::fault_set("card.pull", 2 + 5, 1); // the address, then 5 of 8 data bytes
    EXPECT_EQ(failure_errno([&] { return device.program(0x40, Bytes(8, 0x22)); }),
              this->backend.nack_errno());
    this->backend.insert();
    EXPECT_TRUE(device.card_changed());
    Bytes got(8);
    ASSERT_EQ(device.read(0x40, got), 0);
    EXPECT_EQ(got, old) << "no stop reached the part: nothing was programmed";
}

// A run against a configured device that tested nothing (a filter that
// left its tests out, every one skipped) must not pass.
class ConfiguredRunCheck : public testing::Environment {
  public:
    void TearDown() override
    {
        if (std::getenv("KVT_CONFORMANCE_DEVICE") && configured_tests_done == 0)
            ADD_FAILURE() << "KVT_CONFORMANCE_DEVICE is set but none of its tests passed";
    }
};

[[maybe_unused]] testing::Environment *const configured_run_check =
    testing::AddGlobalTestEnvironment(new ConfiguredRunCheck);

} // namespace

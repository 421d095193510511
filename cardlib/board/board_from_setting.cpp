// The card slot of a Linux board, named by the environment:
//   KVT_CARD_DEVICE  the device (cardlib/device_setting.hpp);
//                    default "i2c:/dev/i2c-0@0x53"
//   KVT_CARD_PART    24c64 (default), 24c128, 24c256 or 24c512
// The card monitor's header read goes over the device's bus: the i2c-dev
// path itself, or /dev/i2c-N of the at24 file's "N-00AA" directory.
// A setting that can't be read is reported once on standard error, and
// every card access then fails with EINVAL.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "cardlib/device_setting.hpp"

namespace {

constexpr const char *kDeviceEnv = "KVT_CARD_DEVICE";
constexpr const char *kPartEnv = "KVT_CARD_PART";
constexpr const char *kDefaultDevice = "i2c:/dev/i2c-0@0x53";

class Unusable : public cardlib::EepromDevice, public cardlib::I2cBus {
  public:
    std::size_t part_size() const override { return cardlib::kPart24c64.size; }
    std::size_t page_size() const override { return cardlib::kPart24c64.page; }
    int read(std::size_t, std::span<unsigned char>) override { return refuse(); }
    int program(std::size_t, std::span<const unsigned char>) override { return refuse(); }
    bool present() override { return false; }
    int transfer(std::span<const cardlib::I2cMessage>) override { return refuse(); }

  private:
    static int refuse()
    {
        errno = EINVAL;
        return -1;
    }
};

struct Board {
    std::unique_ptr<cardlib::EepromDevice> device;
    std::unique_ptr<cardlib::I2cBus> bus;
};

const char *setting(const char *name, const char *fallback)
{
    const char *value = std::getenv(name);
    return value && *value ? value : fallback;
}

Board unusable(const std::string &reason)
{
    std::fprintf(stderr, "kvtd: card device: %s\n", reason.c_str());
    return {std::make_unique<Unusable>(), std::make_unique<Unusable>()};
}

Board board_from_environment()
{
    std::string error;
    const auto device = cardlib::parse_device_setting(setting(kDeviceEnv, kDefaultDevice), error);
    if (!device)
        return unusable(std::string(kDeviceEnv) + ": " + error);
    const auto part = cardlib::part_named(setting(kPartEnv, "24c64"));
    if (!part)
        return unusable(std::string(kPartEnv) + ": not one of 24c64, 24c128, 24c256, 24c512");
    const std::string bus = cardlib::bus_of(*device);
    if (bus.empty())
        return unusable(std::string(kDeviceEnv) + ": " + device->path +
                        " names no I2C bus for the header read (expected .../N-00AA/...)");
    return {cardlib::open_device(*device, *part), cardlib::i2c_dev_bus(bus)};
}

Board &board()
{
    // Never destroyed: a fatal stop may end the process from any thread.
    static auto *made = new Board(board_from_environment());
    return *made;
}

} // namespace

cardlib::EepromDevice &cardlib::board_card_device()
{
    return *board().device;
}

cardlib::I2cBus &cardlib::board_card_bus()
{
    return *board().bus;
}

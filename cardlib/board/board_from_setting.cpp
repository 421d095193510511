// The card slot of a Linux board, named by the environment:
//   KVT_CARD_DEVICE  the device (cardlib/device_setting.hpp);
//                    default "i2c:/dev/i2c-0@0x53"
//   KVT_CARD_PART    24c64 (default), 24c128, 24c256 or 24c512
// The card monitor's header read (i2c_writeread on device 0x53) goes to the
// same slot: the setting's address on its i2c-dev bus, or the at24 file.
// A setting that can't be used is reported once on standard error, and
// every card access then fails with EINVAL.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "cardlib/card_slot.hpp"

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

const char *setting(const char *name, const char *fallback)
{
    const char *value = std::getenv(name);
    return value && *value ? value : fallback;
}

cardlib::CardSlot unusable(const std::string &reason)
{
    std::fprintf(stderr, "kvtd: card device: %s\n", reason.c_str());
    return {std::make_shared<Unusable>(), std::make_unique<Unusable>()};
}

cardlib::CardSlot slot_from_environment()
{
    std::string error;
    const auto device = cardlib::parse_device_setting(setting(kDeviceEnv, kDefaultDevice), error);
    if (!device)
        return unusable(std::string(kDeviceEnv) + ": " + error);
    const auto part = cardlib::part_named(setting(kPartEnv, "24c64"));
    if (!part)
        return unusable(std::string(kPartEnv) + ": not one of 24c64, 24c128, 24c256, 24c512");
    auto slot = cardlib::open_card_slot(*device, *part, error);
    if (!slot)
        return unusable(std::string(kDeviceEnv) + ": " + error);
    return std::move(*slot);
}

cardlib::CardSlot &slot()
{
    // Never destroyed: a fatal stop may end the process from any thread.
    static auto *made = new cardlib::CardSlot(slot_from_environment());
    return *made;
}

} // namespace

cardlib::EepromDevice &cardlib::board_card_device()
{
    return *slot().device;
}

cardlib::I2cBus &cardlib::board_card_bus()
{
    return *slot().header_bus;
}

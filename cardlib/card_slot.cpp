#include "cardlib/card_slot.hpp"

#include <algorithm>
#include <cerrno>
#include <vector>

#include "cardlib/at24_device.hpp"
#include "cardlib/i2c_eeprom_device.hpp"

namespace cardlib {

namespace {

// An i2c-dev device that shares its bus with the slot's header read.
class SharedBusDevice : public I2cEepromDevice {
  public:
    SharedBusDevice(std::shared_ptr<I2cBus> bus, std::uint16_t address, const EepromPart &part)
        : I2cEepromDevice(*bus, address, part), bus_(std::move(bus))
    {
    }

  private:
    std::shared_ptr<I2cBus> bus_;
};

// The i2c-dev bus with the card's platform address, 0x53, taken to the
// slot's address; other devices on the bus are reached as they are.
class CardAddressBus : public I2cBus {
  public:
    CardAddressBus(std::shared_ptr<I2cBus> bus, std::uint16_t address)
        : bus_(std::move(bus)), address_(address)
    {
    }

    int transfer(std::span<const I2cMessage> messages) override
    {
        std::vector<I2cMessage> mapped(messages.begin(), messages.end());
        for (I2cMessage &message : mapped)
            if (message.address == kCardI2cAddress)
                message.address = address_;
        return bus_->transfer(mapped);
    }

    BusyWait busy_wait() const override { return bus_->busy_wait(); }
    std::optional<Adapter> adapter() override { return bus_->adapter(); }

  private:
    std::shared_ptr<I2cBus> bus_;
    std::uint16_t address_;
};

// The at24 driver's file seen as the card at 0x53: the write of a card
// address then a read, the one transfer i2c_writeread makes. The driver
// waits out a write cycle itself, so a failure is not asked again.
class EepromAsBus : public I2cBus {
  public:
    explicit EepromAsBus(std::shared_ptr<EepromDevice> device) : device_(std::move(device)) {}

    int transfer(std::span<const I2cMessage> messages) override
    {
        const bool to_card = std::all_of(messages.begin(), messages.end(), [](const I2cMessage &m) {
            return m.address == kCardI2cAddress;
        });
        if (!to_card) {
            errno = ENXIO;
            return -1;
        }
        if (messages.size() != 2 || messages[0].read || messages[0].bytes.size() != 2 ||
            !messages[1].read) {
            errno = EINVAL;
            return -1;
        }
        const std::size_t address = std::size_t{messages[0].bytes[0]} << 8 | messages[0].bytes[1];
        return device_->read(address, messages[1].bytes);
    }

    BusyWait busy_wait() const override { return {.idle_tries = 1}; }

  private:
    std::shared_ptr<EepromDevice> device_;
};

// The setting's i2c-dev bus; null, with the reason in `error`, when its
// adapter cannot run the card's transfers.
std::shared_ptr<I2cBus> usable_bus(const DeviceSetting &setting, BusOpener open_bus,
                                   std::string &error)
{
    std::shared_ptr<I2cBus> bus = open_bus(setting.path);
    if (const auto adapter = bus->adapter())
        error = adapter_problem(setting.path, *adapter);
    return error.empty() ? bus : nullptr;
}

} // namespace

std::optional<CardSlot> open_card_slot(const DeviceSetting &setting, const EepromPart &part,
                                       std::string &error, BusOpener open_bus)
{
    if (setting.kind == DeviceSetting::Kind::at24) {
        auto device = std::make_shared<At24Device>(setting.path, part);
        return CardSlot{device, std::make_unique<EepromAsBus>(device)};
    }
    const auto bus = usable_bus(setting, open_bus, error);
    if (!bus)
        return std::nullopt;
    return CardSlot{std::make_shared<SharedBusDevice>(bus, setting.address, part),
                    std::make_unique<CardAddressBus>(bus, setting.address)};
}

std::unique_ptr<EepromDevice> open_device(const DeviceSetting &setting, const EepromPart &part,
                                          std::string &error, BusOpener open_bus)
{
    if (setting.kind == DeviceSetting::Kind::at24)
        return std::make_unique<At24Device>(setting.path, part);
    const auto bus = usable_bus(setting, open_bus, error);
    if (!bus)
        return nullptr;
    return std::make_unique<SharedBusDevice>(bus, setting.address, part);
}

} // namespace cardlib

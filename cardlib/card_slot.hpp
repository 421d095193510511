// The card slot a device setting names, opened: the EEPROM device the card
// library reads and writes, and the bus on which the platform's
// i2c_writeread, the card monitor's header read, finds the card. The
// monitor asks for the card as device 0x53; the slot answers that as the
// card wherever it is: the setting's address on an i2c-dev bus, or the
// at24 driver's file, which needs no i2c-dev at all.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "cardlib/device_setting.hpp"
#include "cardlib/eeprom_device.hpp"
#include "cardlib/eeprom_part.hpp"
#include "cardlib/i2c_bus.hpp"

namespace cardlib {

struct CardSlot {
    std::shared_ptr<EepromDevice> device;
    std::unique_ptr<I2cBus> header_bus;
};

// Opens an i2c-dev bus by its path: i2c_dev_bus on a board.
using BusOpener = std::unique_ptr<I2cBus> (*)(const std::string &path);

// nullopt, with the reason in `error`, for a bus whose adapter cannot run
// the card's transfers (SMBus-only). An adapter that is not there yet is
// no reason: the first access fails instead.
std::optional<CardSlot> open_card_slot(const DeviceSetting &setting, const EepromPart &part,
                                       std::string &error, BusOpener open_bus = i2c_dev_bus);

// The slot's device alone, as kvtcard and the conformance suite use it.
std::unique_ptr<EepromDevice> open_device(const DeviceSetting &setting, const EepromPart &part,
                                          std::string &error, BusOpener open_bus = i2c_dev_bus);

} // namespace cardlib

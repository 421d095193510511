// The card's EEPROM as the I2C bus sees it, true to a 24C-series datasheet:
// a part at address 0x53 whose cells are <root>/sim/card/eeprom.bin (its
// size names the part: 8 KiB is a 24C64 with 32-byte pages, 16 and 32 KiB
// a 24C128 and 24C256 with 64-byte pages, 64 KiB a 24C512 with 128-byte
// pages) and whose volatile state, the address
// counter and the end of a running write cycle, is <root>/sim/card/chip.
// Every process on the root reaches the one card; each transfer holds the
// chip file's lock.
//
//  - A write message sets the address counter from its first two bytes
//    (the upper bits a smaller part ignores); the data bytes that follow
//    are latched into the counter's page, wrapping to the start of that
//    page past its end, and programmed at the stop that ends the
//    transfer (a repeated start instead drops them). Programming takes a
//    write cycle: 5 ms times KVT_SIM_TIME_SCALE, or the value of the
//    fault "card.busy" in microseconds.
//  - During a write cycle, and with no card in the slot, nothing
//    acknowledges: the transfer fails with ENXIO (the adapter's errno for
//    a missing acknowledge, see BusModel).
//  - A read message reads from the address counter on, across pages,
//    wrapping at the end of the part.
//  - Fault "card.pull" N: the card leaves the slot once N more bytes have
//    crossed the bus. A write cut so programs nothing and fails as
//    unacknowledged; a read cut so gets 0xFF for the rest, as from a
//    floating bus, and no error.
//  - Each write that programs counts one page write, each read message one
//    read (sim/control.hpp, card I/O accounting).
#pragma once

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <functional>
#include <mutex>

#include "cardlib/i2c_bus.hpp"

namespace kvtsim {

// The part and the adapter as a test sets them up, in its own process:
// where the part answers, its page (from the test's own datasheet table),
// and the adapter's kind, message limit and errno for a missing
// acknowledge. Other processes on the root see the defaults.
struct BusModel {
    std::uint16_t address = 0x53;
    std::size_t page = 0;        // 0: the page of the part's size, as above
    std::size_t max_message = 0; // 0: any the kernel takes; longer: EOPNOTSUPP
    int nack_errno = ENXIO;      // ENXIO, EREMOTEIO, EIO or ETIMEDOUT
    bool plain_i2c = true;       // false: SMBus-only, every transfer EOPNOTSUPP
};

class CardChip : public cardlib::I2cBus {
  public:
    int transfer(std::span<const cardlib::I2cMessage> messages) override;
    // The card library's defaults, scaled by KVT_SIM_TIME_SCALE like the
    // write cycle (at least 2 ms to give up, for a loaded test machine).
    cardlib::BusyWait busy_wait() const override;
    std::optional<cardlib::Adapter> adapter() override;

    void set_model(const BusModel &model);
    BusModel model() const;
    // Transfers this process put on the bus, answered or not.
    std::uint64_t transfers() const;

  private:
    mutable std::mutex lock_;
    BusModel model_;
    std::uint64_t transfers_ = 0; // under lock_: 32-bit SPs lack 64-bit atomics
};

CardChip &card_chip();

// Runs `change` (a card leaving or entering the slot) while no transfer
// runs; the part in the slot then starts unpowered: address 0, idle.
int change_slot(const std::function<int()> &change);

} // namespace kvtsim

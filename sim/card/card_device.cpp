// The simulated SP's board: the card slot is the card library's i2c-dev
// device over the card chip (sim/card/card_chip.hpp), the code a board runs on
// /dev/i2c-N, with the faults that the tests inject into card I/O between
// the two:
//   "card.read"        a transfer that reads fails with the fault's errno
//   "card.write"       a page write fails with the fault's errno
//   "card.write_torn"  value N: power is lost once N more bytes have been
//                      programmed; the page write that crosses the N-th
//                      byte programs only its first bytes and fails with
//                      ENODEV, the bus gone with the power (no error the
//                      library would take for a busy part and poll),
//                      and so does every transfer after it until a read of
//                      the card (the next start, the next write's check)
//                      finds the power back. Armed by the next page write.
//   "card.power_cut"   value N: the SP loses power once N more bytes have
//                      been programmed: the page write that crosses the
//                      N-th byte programs only its first bytes, and the
//                      page writes after it program nothing, though the
//                      writer cannot tell (it would not live to see it:
//                      the test ends it). Every page write from the one
//                      that armed it on is noted, as it was meant, in
//                      <root>/sim/card/power_cut: "ADDRESS HEXBYTES" per
//                      line. Armed by the next page write; a read of the
//                      card ends it.
//   "card.detect"      the slot's presence-detect line gives no signal: a
//                      card swapped between two transfers goes unseen
//   "i2c"              the card monitor's header read (i2c_writeread)
//                      fails with the fault's errno
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>

#include "cardlib/i2c_eeprom_device.hpp"
#include "sim/card/card_chip.hpp"
#include "sim/card/eeprom.hpp"
#include "sim/control.hpp"
#include "sim/faults/fault_errno.hpp"

namespace {

using cardlib::I2cMessage;

bool reads(std::span<const I2cMessage> messages)
{
    return std::any_of(messages.begin(), messages.end(),
                       [](const I2cMessage &m) { return m.read && !m.bytes.empty(); });
}

// The page write among the messages: a write with data after the address.
const I2cMessage *page_write(std::span<const I2cMessage> messages)
{
    const auto found = std::find_if(messages.begin(), messages.end(), [](const I2cMessage &m) {
        return !m.read && m.bytes.size() > 2;
    });
    return found == messages.end() ? nullptr : &*found;
}

class CardFaults : public cardlib::I2cBus {
  public:
    int transfer(std::span<const I2cMessage> messages) override
    {
        if (reads(messages)) {
            budget_ = -1;
            power_lost_ = false;
            power_ = -1;
            if (kvtsim::fault_sets_errno("card.read"))
                return -1;
        }
        if (power_lost_) {
            errno = ENODEV;
            return -1;
        }
        const I2cMessage *write = page_write(messages);
        if (!write)
            return kvtsim::card_chip().transfer(messages);
        if (kvtsim::fault_sets_errno("card.write"))
            return -1;
        if (power_cut(*write))
            return 0;
        return torn(*write);
    }

    cardlib::BusyWait busy_wait() const override { return kvtsim::card_chip().busy_wait(); }

  private:
    // True when the power for the card is gone: the page write is noted
    // and what the power left of it programmed.
    bool power_cut(const I2cMessage &write)
    {
        long armed = 0;
        if (power_ < 0 && kvtsim::fault_fires("card.power_cut", &armed)) {
            power_ = std::max(armed, 0L);
            std::remove(kvtsim::sim_path("card/power_cut").c_str());
        }
        if (power_ < 0)
            return false;
        note_meant(write);
        const std::size_t data = write.bytes.size() - 2;
        const std::size_t reach = std::min(data, static_cast<std::size_t>(power_));
        power_ -= static_cast<long>(reach);
        const I2cMessage cut{write.address, false, write.bytes.first(2 + reach)};
        if (reach > 0)
            (void)kvtsim::card_chip().transfer(std::span(&cut, 1));
        return true;
    }

    static void note_meant(const I2cMessage &write)
    {
        std::FILE *file = std::fopen(kvtsim::sim_path("card/power_cut").c_str(), "a");
        if (!file)
            return;
        std::fprintf(file, "%04x ", write.bytes[0] << 8 | write.bytes[1]);
        for (std::size_t i = 2; i < write.bytes.size(); ++i)
            std::fprintf(file, "%02x", write.bytes[i]);
        std::fputc('\n', file);
        std::fclose(file);
    }

    // The page write, cut where a torn write's power loss falls.
    int torn(const I2cMessage &write)
    {
        const std::size_t data = write.bytes.size() - 2;
        const std::size_t reach = bytes_before_power_loss(data);
        if (reach == data)
            return kvtsim::card_chip().transfer(std::span(&write, 1));
        const I2cMessage cut{write.address, false, write.bytes.first(2 + reach)};
        if (reach > 0 && kvtsim::card_chip().transfer(std::span(&cut, 1)) != 0)
            return -1;
        power_lost_ = true;
        errno = ENODEV;
        return -1;
    }

    // How many of `len` bytes still reach the card before a torn write's
    // power loss; all of them while none is armed.
    std::size_t bytes_before_power_loss(std::size_t len)
    {
        long armed = 0;
        if (budget_ < 0 && kvtsim::fault_fires("card.write_torn", &armed))
            budget_ = std::max(armed, 0L);
        if (budget_ < 0)
            return len;
        const std::size_t reach = std::min(len, static_cast<std::size_t>(budget_));
        budget_ -= static_cast<long>(reach);
        if (reach < len)
            budget_ = -1; // the power is gone: this write ends here
        return reach;
    }

    long budget_ = -1;
    bool power_lost_ = false; // until a read finds the power back
    long power_ = -1;         // bytes the card still takes before the power cut
};

CardFaults &card_faults()
{
    static auto *bus = new CardFaults;
    return *bus;
}

class HeaderFaults : public cardlib::I2cBus {
  public:
    int transfer(std::span<const I2cMessage> messages) override
    {
        if (kvtsim::fault_sets_errno("i2c"))
            return -1;
        return kvtsim::card_chip().transfer(messages);
    }

    cardlib::BusyWait busy_wait() const override { return kvtsim::card_chip().busy_wait(); }
};

// The slot's presence-detect line (the card generation) tells of a card
// swapped between two transfers, which the bus alone cannot.
class SlotDevice : public cardlib::I2cEepromDevice {
  public:
    SlotDevice() : I2cEepromDevice(card_faults(), cardlib::kCardI2cAddress, cardlib::kPart24c64) {}

    bool card_changed() override
    {
        const bool missed = I2cEepromDevice::card_changed();
        const std::string root = kvtsim::root();
        const std::uint64_t generation = kvtsim::eeprom::generation();
        const bool changed = root != root_ || generation != generation_;
        root_ = root;
        generation_ = generation;
        return missed || (changed && !kvtsim::fault_fires("card.detect"));
    }

  private:
    std::string root_;
    std::uint64_t generation_ = 0;
};

} // namespace

cardlib::EepromDevice &cardlib::board_card_device()
{
    static auto *device = new SlotDevice;
    return *device;
}

cardlib::I2cBus &cardlib::board_card_bus()
{
    static auto *bus = new HeaderFaults;
    return *bus;
}

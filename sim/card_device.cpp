// The simulated SP's card slot as the card library's device: the
// simulated part, with the faults that the tests inject into card I/O.
//   "card.read"        a read fails with the fault's errno
//   "card.write"       a page write fails with the fault's errno
//   "card.write_torn"  value N: power is lost once N more bytes have been
//                      programmed; the page write that crosses the N-th
//                      byte programs only its first bytes and fails (EIO).
//                      Armed by the next page write; a read of the card
//                      (the next start, the next write's check) finds the
//                      power back.
#include <algorithm>
#include <cerrno>
#include <string>

#include "cardlib/eeprom_device.hpp"
#include "sim/control.hpp"
#include "sim/eeprom.hpp"
#include "sim/fault_errno.hpp"

namespace {

class SimCardDevice : public cardlib::EepromDevice {
  public:
    std::size_t part_size() const override { return kvtsim::kEepromSize; }
    std::size_t page_size() const override { return kvtsim::eeprom::kPageSize; }

    int read(std::size_t address, std::span<unsigned char> out) override
    {
        budget_ = -1;
        if (kvtsim::fault_sets_errno("card.read"))
            return -1;
        return kvtsim::eeprom::read(address, out.data(), out.size());
    }

    int program(std::size_t address, std::span<const unsigned char> bytes) override
    {
        if (kvtsim::fault_sets_errno("card.write"))
            return -1;
        const std::size_t reach = bytes_before_power_loss(bytes.size());
        if (reach > 0 && kvtsim::eeprom::program(address, bytes.data(), reach) != 0)
            return -1;
        if (reach < bytes.size()) {
            errno = EIO;
            return -1;
        }
        return 0;
    }

    bool present() override { return kvtsim::card_present(); }

    bool card_changed() override
    {
        const std::string root = kvtsim::root();
        const std::uint64_t generation = kvtsim::eeprom::generation();
        const bool changed = root != root_ || generation != generation_;
        root_ = root;
        generation_ = generation;
        return changed;
    }

  private:
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
    std::string root_;
    std::uint64_t generation_ = 0;
};

} // namespace

cardlib::EepromDevice &cardlib::board_card_device()
{
    static auto *device = new SimCardDevice;
    return *device;
}

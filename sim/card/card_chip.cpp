#include "sim/card/card_chip.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <mutex>
#include <optional>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "sim/card/card_io.hpp"
#include "sim/card/eeprom.hpp"
#include "sim/control.hpp"
#include "sim/root/file_lock.hpp"
#include "sim/system/time_scale.hpp"

namespace kvtsim {

namespace {

using cardlib::I2cMessage;

constexpr double kWriteCycleUs = 5000;
constexpr std::size_t kMaxPages = 65536 / 32;

// The 24C parts by size, as their datasheets give them: bytes, page bytes.
constexpr std::pair<std::size_t, std::size_t> kPartPages[] = {
    {8192, 32}, {16384, 64}, {32768, 64}, {65536, 128}};

std::size_t page_of_part(std::size_t size)
{
    for (const auto &[bytes, page] : kPartPages)
        if (bytes == size)
            return page;
    return 0;
}

std::int64_t now_ns()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

struct ChipState {
    std::uint64_t counter = 0;
    std::int64_t busy_until = 0; // steady clock, ns: shared by every process
};

// The chip file, locked for one transfer or slot change.
class LockedChip : public FileLock {
  public:
    LockedChip() : FileLock(sim_path("card/chip"), LOCK_EX) {}

    ChipState load() const
    {
        char text[64] = {};
        ChipState state;
        if (::pread(fd(), text, sizeof text - 1, 0) > 0)
            std::sscanf(text, "%" SCNu64 " %" SCNd64, &state.counter, &state.busy_until);
        return state;
    }

    void save(const ChipState &state) const
    {
        char text[64];
        const int len = std::snprintf(text, sizeof text, "%" PRIu64 " %" PRId64 "\n", state.counter,
                                      state.busy_until);
        if (len > 0 && ::pwrite(fd(), text, static_cast<std::size_t>(len), 0) == len)
            (void)::ftruncate(fd(), len);
    }
};

// 32-bit counters: lock-free on every target, 64-bit ones are not on 32-bit PowerPC.
std::array<std::atomic<std::uint32_t>, kMaxPages> &page_programs()
{
    static std::array<std::atomic<std::uint32_t>, kMaxPages> counts{};
    return counts;
}

// The part in the slot, open for one transfer; closed when none answers.
class Cells {
  public:
    explicit Cells(std::size_t page) : fd_(::open(eeprom::path().c_str(), O_RDWR | O_CLOEXEC))
    {
        struct stat st {};
        if (fd_ >= 0 && ::fstat(fd_, &st) == 0) {
            size_ = static_cast<std::size_t>(st.st_size);
            page_ = page_of_part(size_) == 0 ? 0 : page != 0 ? page : page_of_part(size_);
        }
        if (page_ == 0)
            close();
    }
    ~Cells() { close(); }
    Cells(const Cells &) = delete;
    Cells &operator=(const Cells &) = delete;

    bool answers() const { return fd_ >= 0; }
    std::size_t size() const { return size_; }
    std::size_t page() const { return page_; }

    // From `address` on, wrapping at the end of the part.
    void read(std::size_t address, std::span<unsigned char> out) const
    {
        for (std::size_t done = 0; done < out.size();) {
            const std::size_t at = (address + done) % size();
            const std::size_t len = std::min(out.size() - done, size() - at);
            if (::pread(fd_, out.data() + done, len, static_cast<off_t>(at)) !=
                static_cast<ssize_t>(len))
                std::fill_n(out.begin() + static_cast<long>(done), len, 0xFF);
            done += len;
        }
    }

    // The latched bytes of the page at `base`; the others keep their value.
    void program(std::size_t base, const std::vector<std::optional<unsigned char>> &latched) const
    {
        std::vector<unsigned char> cells(page());
        read(base, cells);
        for (std::size_t i = 0; i < cells.size(); ++i)
            cells[i] = latched[i].value_or(cells[i]);
        (void)::pwrite(fd_, cells.data(), cells.size(), static_cast<off_t>(base));
        ++page_programs().at(base / page());
    }

    void close()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

  private:
    int fd_;
    std::size_t size_ = 0;
    std::size_t page_ = 0; // 0: no part the chip knows
};

// The card pulled by the fault "card.pull": armed by the first transfer
// after the fault is set, then counting bytes down in this process.
class PullPoint {
  public:
    // How many of the next `len` bytes cross before the card leaves.
    std::size_t reach(std::size_t len)
    {
        const std::lock_guard guard(lock_);
        long armed = 0;
        if (left_ < 0 && fault_fires("card.pull", &armed))
            left_ = std::max(armed, 0L);
        if (left_ < 0)
            return len;
        const std::size_t reach = std::min(len, static_cast<std::size_t>(left_));
        left_ = reach < len ? -1 : left_ - static_cast<long>(reach);
        return reach;
    }

  private:
    std::mutex lock_;
    long left_ = -1;
};

PullPoint &pull_point()
{
    static auto *point = new PullPoint;
    return *point;
}

std::int64_t write_cycle_ns()
{
    long us = 0;
    if (fault_fires("card.busy", &us))
        return static_cast<std::int64_t>(std::max(us, 0L)) * 1000;
    return static_cast<std::int64_t>(kWriteCycleUs * time_scale() * 1000);
}

void pull_card(Cells &cells)
{
    cells.close();
    eeprom::new_generation();
    (void)std::rename(eeprom::path().c_str(), eeprom::pulled_path().c_str());
}

void read_message(Cells &cells, ChipState &state, std::span<unsigned char> bytes, std::size_t reach)
{
    cells.read(static_cast<std::size_t>(state.counter), bytes.first(reach));
    std::fill(bytes.begin() + static_cast<long>(reach), bytes.end(), 0xFF);
    state.counter = (state.counter + reach) % cells.size();
    if (!bytes.empty())
        card_io_add(CardIo{.reads = 1, .bytes_read = bytes.size()});
}

// Latches the data into the page buffer and, at the stop, programs it.
void write_message(Cells &cells, ChipState &state, std::span<const unsigned char> bytes, bool stop)
{
    if (bytes.size() >= 2)
        state.counter = ((std::size_t{bytes[0]} << 8) | bytes[1]) % cells.size();
    if (bytes.size() <= 2)
        return;
    const auto data = bytes.subspan(2);
    const std::size_t page = cells.page();
    const std::size_t base = state.counter - state.counter % page;
    const std::size_t start = state.counter % page;
    std::vector<std::optional<unsigned char>> latched(page);
    for (std::size_t i = 0; i < data.size(); ++i)
        latched[(start + i) % page] = data[i];
    state.counter = base + (start + data.size()) % page;
    if (!stop)
        return;
    cells.program(base, latched);
    state.busy_until = now_ns() + write_cycle_ns();
    card_io_add(CardIo{.pages_programmed = 1, .bytes_written = data.size()});
}

int no_acknowledge(int error)
{
    errno = error;
    return -1;
}

} // namespace

std::uint64_t CardChip::transfers() const
{
    const std::lock_guard guard(lock_);
    return transfers_;
}

// A message longer than the adapter takes fails before it reaches the
// bus, as the kernel's check of an adapter's limits does.
int CardChip::transfer(std::span<const I2cMessage> messages)
{
    {
        const std::lock_guard guard(lock_);
        ++transfers_;
    }
    const BusModel bus = model();
    const bool too_long = std::any_of(messages.begin(), messages.end(), [&](const I2cMessage &m) {
        return bus.max_message != 0 && m.bytes.size() > bus.max_message;
    });
    if (!bus.plain_i2c || too_long)
        return no_acknowledge(EOPNOTSUPP);
    const LockedChip chip;
    if (chip.fd() < 0)
        return no_acknowledge(bus.nack_errno);
    ChipState state = chip.load();
    Cells cells(bus.page);
    int result = 0;
    for (std::size_t i = 0; i < messages.size() && result == 0; ++i) {
        const I2cMessage &message = messages[i];
        if (message.address != bus.address || !cells.answers() || now_ns() < state.busy_until) {
            result = no_acknowledge(bus.nack_errno);
            break;
        }
        const std::size_t reach = pull_point().reach(message.bytes.size());
        if (message.read)
            read_message(cells, state, message.bytes, reach);
        else if (reach < message.bytes.size())
            result = no_acknowledge(bus.nack_errno); // no stop reaches the part
        else
            write_message(cells, state, message.bytes, i + 1 == messages.size());
        if (reach < message.bytes.size())
            pull_card(cells);
    }
    chip.save(state);
    return result;
}

cardlib::BusyWait CardChip::busy_wait() const
{
    const double scale = time_scale();
    const cardlib::BusyWait product;
    const auto scaled = [scale](std::chrono::microseconds span) {
        return std::chrono::microseconds(
            static_cast<long>(static_cast<double>(span.count()) * scale));
    };
    return {scaled(product.poll_interval),
            std::max(scaled(product.give_up_after), std::chrono::microseconds(2000)),
            product.idle_tries};
}

std::optional<cardlib::Adapter> CardChip::adapter()
{
    return cardlib::Adapter{"card chip", model().plain_i2c, cardlib::kKernelMaxMessage};
}

void CardChip::set_model(const BusModel &model)
{
    const std::lock_guard guard(lock_);
    model_ = model;
}

BusModel CardChip::model() const
{
    const std::lock_guard guard(lock_);
    return model_;
}

CardChip &card_chip()
{
    static auto *chip = new CardChip;
    return *chip;
}

int change_slot(const std::function<int()> &change)
{
    const LockedChip chip;
    const int result = change();
    if (chip.fd() >= 0)
        chip.save(ChipState{});
    return result;
}

std::vector<std::uint64_t> card_page_programs()
{
    std::vector<std::uint64_t> counts;
    for (const auto &count : page_programs())
        counts.push_back(count.load());
    counts.resize(kEepromSize / 32);
    return counts;
}

void card_page_programs_reset()
{
    for (auto &count : page_programs())
        count.store(0);
}

} // namespace kvtsim

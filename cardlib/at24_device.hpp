// The card's part through the Linux at24 driver: its nvmem file
// (/sys/bus/i2c/devices/N-00AA/eeprom, or wherever the board links it),
// read and written with pread and pwrite. The driver splits each access
// into transfers of at most its io_limit (128 bytes by default) and pages,
// and waits out each write cycle itself; sysfs hands over at most one
// memory page per call, so a long read comes in several. Works as well over
// a plain file of the part's size.
#pragma once

#include <atomic>
#include <string>

#include <sys/types.h>

#include "cardlib/eeprom_device.hpp"
#include "cardlib/eeprom_part.hpp"

namespace cardlib {

// The system calls the device makes; tests put a driver's failures here.
struct FileAccess {
    int (*open)(const char *path, int flags);
    ssize_t (*pread)(int fd, void *buf, std::size_t len, off_t at);
    ssize_t (*pwrite)(int fd, const void *buf, std::size_t len, off_t at);
};
const FileAccess &system_file_access();

class At24Device : public EepromDevice {
  public:
    At24Device(std::string path, const EepromPart &part,
               const FileAccess &files = system_file_access())
        : path_(std::move(path)), part_(part), files_(files)
    {
    }

    std::size_t part_size() const override { return part_.size; }
    std::size_t page_size() const override { return part_.page; }
    // A card that does not answer is ENXIO, whatever the driver said:
    // ETIMEDOUT once the driver has given up on the part, ENOENT or ENODEV
    // when it never bound (no card at boot).
    int read(std::size_t address, std::span<unsigned char> out) override;
    int program(std::size_t address, std::span<const unsigned char> bytes) override;
    bool present() override;
    // True once after an access failed: the card may have been replaced.
    bool card_changed() override;

  private:
    bool in_part(std::size_t address, std::size_t len) const;
    int finish(int result);

    std::string path_;
    EepromPart part_;
    const FileAccess &files_;
    // Also set by the card monitor's header read, which reads this file
    // on its own thread.
    std::atomic<bool> missed_{false};
};

} // namespace cardlib

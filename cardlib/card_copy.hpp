// The card library's copy of what the card in the slot holds: made by a
// whole read, kept current by the library's own writes, and trusted only
// while nothing says the card may have changed behind it. A write then
// needs no read of the image before it: it compares the new bytes with the
// copy and programs only the pages that differ.
//
// What makes the copy stale: a card change the board signals, a transfer
// that found the slot empty, a header read (the card monitor's) that failed
// or brought other bytes than the copy holds, a failed write, and any
// record written since by another writer using this library, which the
// check before each write finds: every writer puts its record into the
// slot after the newest, so a newer record changes that slot's sequence,
// and one written over the newest slot changes its check.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "cardlib/eeprom_device.hpp"
#include "cardlib/record.hpp"
#include "cardlib/verdict.hpp"

namespace cardlib {

class CardCopy {
  public:
    // The image at card address `image_address` (0x1800 on every KVT card;
    // kvtcard reads others).
    explicit CardCopy(std::size_t image_address = kImageAddress) : image_address_(image_address) {}

    // Reads the image and the record slots in one transfer.
    int read_card(EepromDevice &device);

    // Writes `bytes` at image offset `offset`: the record first, then the
    // pages whose bytes differ from the card's. 0, or -1 with errno; after a
    // failure the copy is dropped and the next write reads the card again.
    int write(EepromDevice &device, std::size_t offset, std::span<const unsigned char> bytes);

    // The verdict on `image`: with the card's record when `image` is the
    // card's image as this copy knows it, by the acceptance rule otherwise.
    CardVerdict judge(ImageView image) const;

    // The card may have changed: the next write reads it again first.
    void mark_stale() { known_ = false; }
    // `bytes` were just read from card address `address` (the monitor's
    // header read): any of them that differs from the copy makes it stale.
    void note_read(std::size_t address, std::span<const unsigned char> bytes);

    // The whole part as the last whole read found it: the image and the
    // record slots, every byte the read did not cover 0xFF. Empty before
    // the first read.
    std::vector<unsigned char> part_as_read() const;

    const std::array<unsigned char, kImageSize> &image() const { return image_; }
    bool known() const { return known_; }

  private:
    // The first and the last two bytes of a slot: its sequence and its check.
    struct SlotEnds {
        std::array<unsigned char, 2> sequence{};
        std::array<unsigned char, 2> check{};
    };

    bool trusted(EepromDevice &device);
    int write_known(EepromDevice &device, std::size_t offset, std::span<const unsigned char> bytes);
    bool no_record_since(EepromDevice &device);
    int program_record(EepromDevice &device, const Record &record);
    int program_changes(EepromDevice &device, std::size_t offset,
                        std::span<const unsigned char> bytes);
    void remember_slot(std::size_t slot, std::span<const unsigned char, kSlotSize> bytes);
    std::size_t next_slot() const;
    bool refused() const;

    std::size_t image_address_;
    std::array<unsigned char, kImageSize> image_{};
    bool known_ = false;
    CardLayout layout_;
    std::optional<NewestRecord> newest_;
    std::array<SlotEnds, kMaxSlots> slots_{}; // as on the card
    std::vector<unsigned char> read_;         // the last whole read, from image_address_
    std::size_t part_size_ = 0;
};

} // namespace cardlib

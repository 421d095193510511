// The card library's copy of what the card in the slot holds: made by a
// whole read, kept current by the library's own writes, and trusted only
// while the card's newest record is still the one the library last saw. A
// write then needs no read before it: it compares the new bytes with the
// copy and programs only the pages that differ.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <span>

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
    // card's image as this copy knows it, by the checksums alone otherwise.
    CardVerdict judge(ImageView image) const;

    const std::array<unsigned char, kImageSize> &image() const { return image_; }
    bool known() const { return known_; }

  private:
    bool trusted(EepromDevice &device);
    int program_record(EepromDevice &device, const Record &record);
    int program_changes(EepromDevice &device, std::size_t offset,
                        std::span<const unsigned char> bytes);
    void forget() { known_ = false; }

    std::size_t image_address_;
    std::array<unsigned char, kImageSize> image_{};
    bool known_ = false;
    bool fresh_ = false; // read whole since the last write: no record check needed
    CardLayout layout_;
    std::optional<NewestRecord> newest_;
    std::array<unsigned char, kSlotStampSize>
        stamp_{}; // the newest slot's first bytes, as on the card
};

} // namespace cardlib

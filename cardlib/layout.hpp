// Where the card keeps what: the image at card address 0x1800, and the
// library's record slots in the whole pages that follow it.
#pragma once

#include <cstddef>

#include "platform/card_lib.h"

namespace cardlib {

inline constexpr std::size_t kImageAddress = 0x1800;
inline constexpr std::size_t kImageSize = KVT_IMAGE_SIZE;
inline constexpr std::size_t kImageEnd = kImageAddress + kImageSize;
inline constexpr std::size_t kSlotSize = 32;
inline constexpr std::size_t kMaxSlots = 8;

struct CardLayout {
    std::size_t image_address = kImageAddress;
    std::size_t page_size = 0;
    std::size_t first_slot = 0; // card address of slot 0
    std::size_t slot_count = 0;

    std::size_t slot_address(std::size_t slot) const { return first_slot + slot * page_size; }
    // The image and the slots, as one sequential read covers them.
    std::size_t span_end() const { return slot_address(slot_count); }
};

// The layout on a part of `part_size` bytes programmed in pages of
// `page_size`, with the image at `image_address`: each slot starts a page
// of its own after the image, so that programming one never touches an
// image byte. slot_count is 0 on a part too small for the image or a page
// too small for a slot.
CardLayout layout_for(std::size_t part_size, std::size_t page_size,
                      std::size_t image_address = kImageAddress);

} // namespace cardlib

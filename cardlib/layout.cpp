#include "cardlib/layout.hpp"

#include <algorithm>

namespace cardlib {

CardLayout layout_for(std::size_t part_size, std::size_t page_size, std::size_t image_address)
{
    CardLayout layout;
    layout.image_address = image_address;
    layout.page_size = page_size;
    const std::size_t image_end = image_address + kImageSize;
    if (page_size < kSlotSize || part_size < image_end)
        return layout;
    layout.first_slot = (image_end + page_size - 1) / page_size * page_size;
    if (layout.first_slot < part_size)
        layout.slot_count = std::min(kMaxSlots, (part_size - layout.first_slot) / page_size);
    return layout;
}

} // namespace cardlib

#include "cardlib/card_copy.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace cardlib {

namespace {

struct Span {
    std::size_t first = 0;
    std::size_t end = 0; // one past the last byte
    bool empty() const { return first == end; }
};

// The stretch from the first to the last byte that `bytes` changes.
Span changed_span(std::span<const unsigned char> old, std::span<const unsigned char> bytes)
{
    std::size_t first = 0;
    while (first < bytes.size() && bytes[first] == old[first])
        ++first;
    std::size_t end = bytes.size();
    while (end > first && bytes[end - 1] == old[end - 1])
        --end;
    return {first, end};
}

} // namespace

int CardCopy::read_card(EepromDevice &device)
{
    forget();
    layout_ = layout_for(device.part_size(), device.page_size(), image_address_);
    const std::size_t image_end = image_address_ + kImageSize;
    const std::size_t end = layout_.slot_count > 0 ? layout_.span_end() : image_end;
    if (end > device.part_size()) {
        errno = EINVAL;
        return -1;
    }
    std::vector<unsigned char> bytes(end - image_address_);
    (void)device.card_changed(); // what is read now is the card in the slot
    if (device.read(image_address_, bytes) != 0)
        return -1;
    std::copy_n(bytes.begin(), kImageSize, image_.begin());
    newest_.reset();
    if (layout_.slot_count > 0) {
        const std::size_t slots_at = layout_.first_slot - image_address_;
        newest_ = newest_record(std::span(bytes).subspan(slots_at), layout_.page_size,
                                layout_.slot_count);
        if (newest_)
            std::copy_n(bytes.begin() +
                            static_cast<long>(slots_at + newest_->slot * layout_.page_size),
                        kSlotStampSize, stamp_.begin());
    }
    known_ = true;
    fresh_ = true;
    return 0;
}

// The copy holds while no card change was seen and the newest slot still
// carries the stamp the library last saw there: a card put in meanwhile
// would have to carry this library's newest record, byte for byte. The
// first write after a whole read (start-up's write-back) takes the read's
// word for it.
bool CardCopy::trusted(EepromDevice &device)
{
    if (!known_ || device.card_changed())
        return false;
    if (!newest_ || fresh_)
        return true;
    std::array<unsigned char, kSlotStampSize> stamp{};
    if (device.read(layout_.slot_address(newest_->slot), stamp) != 0)
        return false;
    return stamp == stamp_;
}

int CardCopy::program_record(EepromDevice &device, const Record &record)
{
    if (layout_.slot_count == 0)
        return 0;
    const std::size_t slot = newest_ ? (newest_->slot + 1) % layout_.slot_count : 0;
    const auto bytes = encode(record);
    if (device.program(layout_.slot_address(slot), bytes) != 0)
        return -1;
    newest_ = NewestRecord{record, slot};
    std::copy_n(bytes.begin(), kSlotStampSize, stamp_.begin());
    return 0;
}

// Each page holding a changed byte is programmed once, from its first to
// its last changed byte, in ascending order.
int CardCopy::program_changes(EepromDevice &device, std::size_t offset,
                              std::span<const unsigned char> bytes)
{
    const std::size_t page = layout_.page_size;
    for (std::size_t done = 0; done < bytes.size();) {
        const std::size_t address = image_address_ + offset + done;
        const std::size_t piece = std::min(bytes.size() - done, page - address % page);
        const auto old = std::span(image_).subspan(offset + done, piece);
        const auto now = bytes.subspan(done, piece);
        const Span changed = changed_span(old, now);
        if (!changed.empty() &&
            device.program(address + changed.first,
                           now.subspan(changed.first, changed.end - changed.first)) != 0)
            return -1;
        std::copy(now.begin(), now.end(), old.begin());
        done += piece;
    }
    return 0;
}

int CardCopy::write(EepromDevice &device, std::size_t offset, std::span<const unsigned char> bytes)
{
    if (!trusted(device) && read_card(device) != 0)
        return -1;
    fresh_ = false;
    if (layout_.page_size == 0) {
        errno = EINVAL;
        return -1;
    }
    const Span changed = changed_span(std::span(image_).subspan(offset, bytes.size()), bytes);
    if (changed.empty())
        return 0;
    std::array<unsigned char, kImageSize> after = image_;
    std::copy(bytes.begin(), bytes.end(), after.begin() + static_cast<long>(offset));
    const std::uint16_t sequence =
        newest_ ? static_cast<std::uint16_t>(newest_->record.sequence + 1) : 1;
    const Record record = record_of_write(image_, after, offset + changed.first,
                                          changed.end - changed.first, sequence);
    if (program_record(device, record) != 0 || program_changes(device, offset, bytes) != 0) {
        forget();
        return -1;
    }
    return 0;
}

CardVerdict CardCopy::judge(ImageView image) const
{
    const bool is_card = known_ && std::equal(image.begin(), image.end(), image_.begin());
    if (!is_card || !newest_)
        return classify_card(image, std::nullopt);
    return classify_card(image, newest_->record);
}

} // namespace cardlib

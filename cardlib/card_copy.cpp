#include "cardlib/card_copy.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace cardlib {

namespace {

constexpr std::size_t kEndBytes = 2;

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

bool reads_as(EepromDevice &device, std::size_t address, const std::array<unsigned char, 2> &want)
{
    std::array<unsigned char, kEndBytes> got{};
    return device.read(address, got) == 0 && got == want;
}

} // namespace

int CardCopy::read_card(EepromDevice &device)
{
    known_ = false;
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
    read_ = bytes;
    part_size_ = device.part_size();
    std::copy_n(bytes.begin(), kImageSize, image_.begin());
    newest_.reset();
    if (layout_.slot_count > 0) {
        const auto slots = std::span(bytes).subspan(layout_.first_slot - image_address_);
        newest_ = newest_record(slots, layout_.page_size, layout_.slot_count);
        for (std::size_t s = 0; s < layout_.slot_count; ++s)
            remember_slot(s, slots.subspan(s * layout_.page_size).first<kSlotSize>());
    }
    known_ = true;
    return 0;
}

std::vector<unsigned char> CardCopy::part_as_read() const
{
    if (read_.empty())
        return {};
    std::vector<unsigned char> part(part_size_, 0xFF);
    std::copy(read_.begin(), read_.end(), part.begin() + static_cast<long>(image_address_));
    return part;
}

void CardCopy::remember_slot(std::size_t slot, std::span<const unsigned char, kSlotSize> bytes)
{
    std::copy_n(bytes.begin(), kEndBytes, slots_.at(slot).sequence.begin());
    std::copy_n(bytes.end() - kEndBytes, kEndBytes, slots_.at(slot).check.begin());
}

std::size_t CardCopy::next_slot() const
{
    return newest_ ? (newest_->slot + 1) % layout_.slot_count : 0;
}

// No record was written since the copy was made: the slot after the newest
// still has the sequence it had, and the newest slot its check. On a part
// with 32-byte pages the two lie side by side, and one 4-byte read takes
// both.
bool CardCopy::no_record_since(EepromDevice &device)
{
    const std::size_t next = next_slot();
    const SlotEnds &after = slots_.at(next);
    if (!newest_)
        return reads_as(device, layout_.slot_address(next), after.sequence);
    const SlotEnds &own = slots_.at(newest_->slot);
    const std::size_t own_check = layout_.slot_address(newest_->slot) + kSlotSize - kEndBytes;
    if (own_check + kEndBytes != layout_.slot_address(next))
        return reads_as(device, own_check, own.check) &&
               reads_as(device, layout_.slot_address(next), after.sequence);
    std::array<unsigned char, 2 * kEndBytes> both{};
    if (device.read(own_check, both) != 0)
        return false;
    return std::equal(own.check.begin(), own.check.end(), both.begin()) &&
           std::equal(after.sequence.begin(), after.sequence.end(), both.begin() + kEndBytes);
}

// Even the first write after a whole read checks: another process using
// the library (kvtcard) may have written between the two.
bool CardCopy::trusted(EepromDevice &device)
{
    if (!known_ || device.card_changed())
        return false;
    return layout_.slot_count == 0 || no_record_since(device);
}

void CardCopy::note_read(std::size_t address, std::span<const unsigned char> bytes)
{
    const std::size_t first = std::max(address, image_address_);
    const std::size_t end = std::min(address + bytes.size(), image_address_ + kImageSize);
    for (std::size_t at = first; at < end; ++at)
        if (bytes[at - address] != image_.at(at - image_address_))
            mark_stale();
}

int CardCopy::program_record(EepromDevice &device, const Record &record)
{
    if (layout_.slot_count == 0)
        return 0;
    const std::size_t slot = next_slot();
    const auto bytes = encode(record);
    if (device.program(layout_.slot_address(slot), bytes) != 0)
        return -1;
    newest_ = NewestRecord{record, slot};
    remember_slot(slot, bytes);
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

bool CardCopy::refused() const
{
    const std::optional<Record> record =
        newest_ ? std::optional(newest_->record) : std::optional<Record>();
    return !classify_card(image_, record, image_address_).accepted();
}

int CardCopy::write(EepromDevice &device, std::size_t offset, std::span<const unsigned char> bytes)
{
    if (!trusted(device) && read_card(device) != 0)
        return -1;
    return write_known(device, offset, bytes);
}

int CardCopy::write_known(EepromDevice &device, std::size_t offset,
                          std::span<const unsigned char> bytes)
{
    if (layout_.page_size == 0) {
        errno = EINVAL;
        return -1;
    }
    const Span changed = changed_span(std::span(image_).subspan(offset, bytes.size()), bytes);
    // A write that changes nothing programs nothing, unless the card as it
    // stands is refused: then a record of the empty write says that what
    // the card holds is now meant (a capture of a configuration that equals
    // a card refused for a cut write).
    const bool over_refused = refused();
    if (changed.empty() && !over_refused)
        return 0;
    std::array<unsigned char, kImageSize> after = image_;
    std::copy(bytes.begin(), bytes.end(), after.begin() + static_cast<long>(offset));
    const std::uint16_t sequence =
        newest_ ? static_cast<std::uint16_t>(newest_->record.sequence + 1) : 1;
    const WriteShape shape{offset + changed.first, changed.end - changed.first, layout_.page_size,
                           image_address_, over_refused};
    const Record record = record_of_write(image_, after, shape, sequence);
    if (program_record(device, record) != 0 || program_changes(device, offset, bytes) != 0) {
        mark_stale();
        return -1;
    }
    return 0;
}

CardVerdict CardCopy::judge(ImageView image) const
{
    const bool is_card = known_ && std::equal(image.begin(), image.end(), image_.begin());
    if (!is_card || !newest_)
        return classify_card(image, std::nullopt, image_address_);
    return classify_card(image, newest_->record, image_address_);
}

} // namespace cardlib

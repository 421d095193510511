#include "cardlib/record.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

#include "card/sections.hpp"
#include "cardlib/checksum.hpp"
#include "cardlib/record_units.hpp"

namespace cardlib {

namespace {

constexpr std::size_t kChecked = offsetof(RecordSlot, check);
constexpr std::size_t kSmallestPage = 16;
constexpr std::size_t kLargestPage = 256;

std::uint16_t slot_check(std::span<const unsigned char, kSlotSize> slot)
{
    return crc16(slot.first<kChecked>());
}

// `a` is newer than `b` when it lies less than half the sequence space after it.
bool newer(std::uint16_t a, std::uint16_t b)
{
    return a != b && static_cast<std::uint16_t>(a - b) < 0x8000;
}

std::uint8_t page_code(std::size_t page_size)
{
    return static_cast<std::uint8_t>(std::countr_zero(page_size) << 4);
}

} // namespace

std::uint8_t unit_fingerprint(ImageView image, std::size_t first, std::size_t end)
{
    const std::uint16_t crc = crc16(image.subspan(first, end - first));
    return static_cast<std::uint8_t>(crc ^ crc >> 8);
}

std::uint16_t stretch_crc(ImageView image, std::size_t first, std::size_t length)
{
    std::uint16_t crc = kCrc16Start;
    for (std::size_t s = 1; s < kSections; ++s) {
        const kvt::SectionSpan &span = kvt::kSectionMap.at(s);
        const std::size_t from = std::max(first, span.first);
        const std::size_t to = std::min(first + length, span.cksum + 1);
        if (from < to)
            crc = crc16(image.subspan(from, to - from), crc);
    }
    return crc;
}

Record record_of_write(ImageView before, ImageView after, const WriteShape &shape,
                       std::uint16_t sequence)
{
    Record record;
    record.sequence = sequence;
    record.first = static_cast<std::uint16_t>(shape.first);
    record.length = static_cast<std::uint16_t>(shape.length);
    record.crc_before = stretch_crc(before, shape.first, shape.length);
    record.crc_after = stretch_crc(after, shape.first, shape.length);
    record.over_refused = shape.over_refused;
    record.page_size = shape.page_size;
    const auto units =
        record_units(shape.first, shape.length, shape.page_size, shape.image_address);
    for (std::size_t u = 0; u < units.size(); ++u)
        record.units.at(u) = {unit_fingerprint(before, units[u].first, units[u].end),
                              unit_fingerprint(after, units[u].first, units[u].end)};
    return record;
}

std::array<unsigned char, kSlotSize> encode(const Record &record)
{
    RecordSlot slot{};
    slot.sequence.set(record.sequence);
    slot.format = kRecordFormat;
    slot.flags = static_cast<std::uint8_t>((record.over_refused ? kOverRefused : 0) |
                                           page_code(record.page_size));
    slot.first.set(record.first);
    slot.length.set(record.length);
    slot.crc_before.set(record.crc_before);
    slot.crc_after.set(record.crc_after);
    slot.units = record.units;
    std::array<unsigned char, kSlotSize> bytes{};
    std::memcpy(bytes.data(), &slot, kSlotSize);
    const std::uint16_t check = slot_check(bytes);
    bytes[kChecked] = static_cast<unsigned char>(check >> 8);
    bytes[kChecked + 1] = static_cast<unsigned char>(check);
    return bytes;
}

std::optional<Record> decode(std::span<const unsigned char, kSlotSize> bytes)
{
    RecordSlot slot;
    std::memcpy(&slot, bytes.data(), kSlotSize);
    if (slot.format != kRecordFormat || slot.check.get() != slot_check(bytes))
        return std::nullopt;
    Record record;
    record.sequence = slot.sequence.get();
    record.first = slot.first.get();
    record.length = slot.length.get();
    record.crc_before = slot.crc_before.get();
    record.crc_after = slot.crc_after.get();
    record.over_refused = (slot.flags & kOverRefused) != 0;
    record.page_size = std::size_t{1} << (slot.flags >> 4);
    record.units = slot.units;
    // A stretch outside the image, or pages no part has, are not this
    // library's.
    if (record.first > kImageSize || record.length > kImageSize - record.first)
        return std::nullopt;
    if (record.page_size < kSmallestPage || record.page_size > kLargestPage)
        return std::nullopt;
    return record;
}

std::optional<NewestRecord> newest_record(std::span<const unsigned char> slots, std::size_t stride,
                                          std::size_t count)
{
    std::optional<NewestRecord> newest;
    for (std::size_t i = 0; i < count && (i * stride + kSlotSize) <= slots.size(); ++i) {
        const auto record = decode(slots.subspan(i * stride).first<kSlotSize>());
        if (record && (!newest || newer(record->sequence, newest->record.sequence)))
            newest = NewestRecord{*record, i};
    }
    return newest;
}

} // namespace cardlib

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

bool in_sections(ConfigSections sections, std::size_t s)
{
    return s >= 1 && (sections >> (s - 1) & 1) != 0;
}

std::uint16_t sections_crc(ImageView image, ConfigSections sections)
{
    std::uint16_t crc = kCrc16Start;
    for (std::size_t s = 1; s < kSections; ++s) {
        const kvt::SectionSpan &span = kvt::kSectionMap.at(s);
        if (in_sections(sections, s))
            crc = crc16(image.subspan(span.first, span.length + 1), crc);
    }
    return crc;
}

ConfigSections sections_differing(ImageView a, ImageView b)
{
    ConfigSections sections = 0;
    for (std::size_t s = 1; s < kSections; ++s) {
        const kvt::SectionSpan &span = kvt::kSectionMap.at(s);
        if (!std::equal(a.begin() + static_cast<long>(span.first),
                        a.begin() + static_cast<long>(span.cksum + 1),
                        b.begin() + static_cast<long>(span.first)))
            sections |= static_cast<ConfigSections>(1u << (s - 1));
    }
    return sections;
}

Record record_of_write(ImageView before, ImageView after, const WriteShape &shape,
                       std::uint16_t sequence)
{
    Record record;
    record.sequence = sequence;
    record.first = static_cast<std::uint16_t>(shape.first);
    record.length = static_cast<std::uint16_t>(shape.length);
    record.sections = sections_differing(before, after);
    record.crc_before = sections_crc(before, record.sections);
    record.crc_after = sections_crc(after, record.sections);
    record.over_refused = shape.over_refused;
    record.page_size = shape.page_size;
    const auto units = record_units(record, shape.image_address);
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
    slot.span = {static_cast<std::uint8_t>(record.first >> 4),
                 static_cast<std::uint8_t>((record.first & 0xF) << 4 | record.length >> 8),
                 static_cast<std::uint8_t>(record.length)};
    slot.sections = record.sections;
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
    record.first = static_cast<std::uint16_t>(slot.span[0] << 4 | slot.span[1] >> 4);
    record.length = static_cast<std::uint16_t>((slot.span[1] & 0xF) << 8 | slot.span[2]);
    record.sections = slot.sections;
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

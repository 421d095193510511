#include "cardlib/record.hpp"

#include <cstring>

#include "card/sections.hpp"
#include "cardlib/checksum.hpp"

namespace cardlib {

namespace {

constexpr std::size_t kCheckedFrom = offsetof(RecordSlot, sequence);

std::uint16_t slot_check(std::span<const unsigned char, kSlotSize> slot)
{
    return crc16(slot.subspan(kCheckedFrom));
}

// `a` is newer than `b` when it lies less than half the sequence space after it.
bool newer(std::uint16_t a, std::uint16_t b)
{
    return a != b && static_cast<std::uint16_t>(a - b) < 0x8000;
}

} // namespace

std::uint16_t section_crc(ImageView image, std::size_t s)
{
    const kvt::SectionSpan &span = kvt::kSectionMap.at(s);
    return crc16(image.subspan(span.first, span.length + 1));
}

Record record_of_write(ImageView before, ImageView after, std::size_t first, std::size_t length,
                       std::uint16_t sequence)
{
    Record record;
    record.sequence = sequence;
    record.first = static_cast<std::uint16_t>(first);
    record.length = static_cast<std::uint16_t>(length);
    record.old_crc = crc16(before.subspan(first, length));
    for (std::size_t s = 0; s < kSections; ++s)
        record.section_crc.at(s) = section_crc(after, s);
    return record;
}

std::array<unsigned char, kSlotSize> encode(const Record &record)
{
    RecordSlot slot{};
    slot.sequence.set(record.sequence);
    slot.format = kRecordFormat;
    slot.first.set(record.first);
    slot.length.set(record.length);
    slot.old_crc.set(record.old_crc);
    for (std::size_t s = 0; s < kSections; ++s)
        slot.section_crc.at(s).set(record.section_crc.at(s));
    std::array<unsigned char, kSlotSize> bytes{};
    std::memcpy(bytes.data(), &slot, kSlotSize);
    const std::uint16_t check = slot_check(bytes);
    bytes[0] = static_cast<unsigned char>(check >> 8);
    bytes[1] = static_cast<unsigned char>(check);
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
    record.old_crc = slot.old_crc.get();
    for (std::size_t s = 0; s < kSections; ++s)
        record.section_crc.at(s) = slot.section_crc.at(s).get();
    // A stretch outside the image is not one this library wrote.
    if (record.first > kImageSize || record.length > kImageSize - record.first)
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

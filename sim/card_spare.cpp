#include "sim/card_spare.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <vector>

#include "card/sections.hpp"

namespace kvtsim::spare {

namespace {

using Record = std::array<unsigned char, kRecordSize>;

constexpr std::size_t kKnownAt = 18;
constexpr std::size_t kFirstAt = 20;
constexpr std::size_t kLengthAt = 22;
constexpr std::size_t kIntentCrcAt = 24;
constexpr std::size_t kMarkerAt = 26;
constexpr unsigned char kNoWrite = 0xFF;

std::uint16_t get16(const Record &r, std::size_t at)
{
    return static_cast<std::uint16_t>(r[at] << 8 | r[at + 1]);
}

void set16(Record &r, std::size_t at, std::uint16_t value)
{
    r[at] = static_cast<unsigned char>(value >> 8);
    r[at + 1] = static_cast<unsigned char>(value);
}

std::size_t section_end(const kvt::SectionSpan &s)
{
    return s.cksum + 1;
}

bool crc_known(const Record &r, std::size_t index)
{
    return (get16(r, kKnownAt) & (1u << index)) == 0;
}

std::uint16_t section_crc(const unsigned char *image, const kvt::SectionSpan &s)
{
    return crc16(image + s.first, section_end(s) - s.first);
}

// Every section with a stored CRC matches `image`.
bool crcs_match(const Record &r, const unsigned char *image)
{
    for (std::size_t i = 0; i < kvt::kSectionMap.size(); ++i)
        if (crc_known(r, i) && get16(r, 2 * i) != section_crc(image, kvt::kSectionMap[i]))
            return false;
    return true;
}

bool touches(const kvt::SectionSpan &s, std::size_t offset, std::size_t len)
{
    return s.first < offset + len && offset < section_end(s);
}

// One step of a write, cut short (EIO) when the budget runs out.
int program(std::size_t address, const unsigned char *data, std::size_t len, eeprom::WriteMode mode,
            std::size_t &budget, CardIo &tally)
{
    const std::size_t reach = std::min(len, budget);
    budget -= reach;
    if (reach > 0 && eeprom::write(address, data, reach, mode, tally) != 0)
        return -1;
    if (reach < len) {
        errno = EIO;
        return -1;
    }
    return 0;
}

// The image as it will be once `len` bytes of `data` land at `offset`, for
// the sections the write touches: the card's bytes of those sections that
// the write leaves alone are read (one read, only when there are any).
int image_after(std::size_t offset, const unsigned char *data, std::size_t len, ImageBytes &after,
                CardIo &tally)
{
    std::size_t low = offset;
    std::size_t high = offset + len;
    for (const kvt::SectionSpan &s : kvt::kSectionMap)
        if (touches(s, offset, len)) {
            low = std::min(low, s.first);
            high = std::max(high, section_end(s));
        }
    if (low < offset || high > offset + len) {
        if (eeprom::peek(kImageOffset + low, after.data() + low, high - low) != 0)
            return -1;
        ++tally.reads;
        tally.bytes_read += high - low;
    }
    std::memcpy(after.data() + offset, data, len);
    return 0;
}

} // namespace

std::uint16_t crc16(const unsigned char *bytes, std::size_t len)
{
    std::uint16_t crc = 0xFFFF;
    for (std::size_t i = 0; i < len; ++i) {
        crc = static_cast<std::uint16_t>(crc ^ bytes[i] << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<std::uint16_t>(crc & 0x8000 ? crc << 1 ^ 0x1021 : crc << 1);
    }
    return crc;
}

int write_image(std::size_t offset, const unsigned char *data, std::size_t len,
                eeprom::WriteMode mode, std::size_t budget, CardIo &tally)
{
    const std::size_t address = kImageOffset + offset;
    if (len == 0)
        return eeprom::write(address, data, 0, mode, tally);
    Record record{};
    if (eeprom::peek(kRecordAddress, record.data(), record.size()) != 0)
        return -1;
    ++tally.reads;
    tally.bytes_read += record.size();
    ImageBytes after{};
    if (image_after(offset, data, len, after, tally) != 0)
        return -1;

    set16(record, kFirstAt, static_cast<std::uint16_t>(offset));
    set16(record, kLengthAt, static_cast<std::uint16_t>(len));
    set16(record, kIntentCrcAt, crc16(data, len));
    record[kMarkerAt] = kWriteInProgress;
    if (program(kRecordAddress + kIntentAt, record.data() + kIntentAt, kIntentSize, mode, budget,
                tally) != 0 ||
        program(address, data, len, mode, budget, tally) != 0)
        return -1;

    std::uint16_t known = get16(record, kKnownAt);
    for (std::size_t i = 0; i < kvt::kSectionMap.size(); ++i)
        if (touches(kvt::kSectionMap[i], offset, len)) {
            set16(record, 2 * i, section_crc(after.data(), kvt::kSectionMap[i]));
            known = static_cast<std::uint16_t>(known & ~(1u << i));
        }
    set16(record, kKnownAt, known);
    record[kMarkerAt] = kNoWrite;
    return program(kRecordAddress, record.data(), record.size(), mode, budget, tally);
}

bool card_accepts(const unsigned char *image)
{
    Record record{};
    if (eeprom::read(kRecordAddress, record.data(), record.size()) != 0)
        return true;
    const bool in_progress = record[kMarkerAt] != kNoWrite;
    if (!in_progress && crcs_match(record, image))
        return true;
    // Something is amiss on the card; it decides only for the card's own image.
    ImageBytes card{};
    if (eeprom::read(kImageOffset, card.data(), card.size()) != 0 ||
        std::memcmp(card.data(), image, card.size()) != 0)
        return true;
    if (!in_progress)
        return false;
    // Cut before the marker was cleared: good only when every byte of the
    // write and every section CRC made it.
    const std::size_t first = get16(record, kFirstAt);
    const std::size_t len = get16(record, kLengthAt);
    return first <= kImageSize && len <= kImageSize - first &&
           crc16(image + first, len) == get16(record, kIntentCrcAt) && crcs_match(record, image);
}

} // namespace kvtsim::spare

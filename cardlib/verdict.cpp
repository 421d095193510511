#include "cardlib/verdict.hpp"

#include <algorithm>
#include <cstdio>

#include "card/image.hpp"
#include "card/sections.hpp"
#include "cardlib/checksum.hpp"

namespace cardlib {

namespace {

SectionSet bit(std::size_t s)
{
    return static_cast<SectionSet>(1u << s);
}

bool erased(ImageView image)
{
    return std::all_of(image.begin(), image.end(), [](unsigned char b) { return b == 0xFF; });
}

SectionSet wrong_checksums(ImageView image)
{
    SectionSet wrong = 0;
    for (std::size_t s = 0; s < kSections; ++s) {
        const kvt::SectionSpan &span = kvt::kSectionMap.at(s);
        if (xor_checksum(image.subspan(span.first, span.length)) != image[span.cksum])
            wrong |= bit(s);
    }
    return wrong;
}

SectionSet differing_from(ImageView image, const Record &record)
{
    SectionSet differing = 0;
    for (std::size_t s = 0; s < kSections; ++s)
        if (section_crc(image, s) != record.section_crc.at(s))
            differing |= bit(s);
    return differing;
}

SectionSet touched_by(const Record &record)
{
    SectionSet touched = 0;
    for (std::size_t s = 0; s < kSections; ++s) {
        const kvt::SectionSpan &span = kvt::kSectionMap.at(s);
        if (span.first <= record.first + record.length - 1u && record.first <= span.cksum &&
            record.length > 0)
            touched |= bit(s);
    }
    return touched;
}

unsigned first_section(SectionSet sections)
{
    for (unsigned s = 0; s < kSections; ++s)
        if (sections & bit(s))
            return s + 1;
    return 0;
}

constexpr SectionSet kHeader = 1;

// See record.hpp for the reasoning behind each state. A write programs its
// pages in ascending order, so a write cut inside the header has left every
// later section as it was: a header that is neither the old nor the new one,
// with every other section of the write completed, was rewritten afterwards
// by someone else. A write of the header alone leaves nothing to tell the
// two apart, and counts as cut.
RecordState record_state(ImageView image, const Record &record, SectionSet differing)
{
    if (differing == 0)
        return RecordState::consistent;
    const SectionSet touched = touched_by(record);
    if ((differing & ~touched) != 0)
        return RecordState::stale;
    if (crc16(image.subspan(record.first, record.length)) == record.old_crc)
        return RecordState::not_landed;
    const SectionSet rest = touched & ~kHeader;
    if ((differing & kHeader) != 0 && rest != 0 && (differing & rest) == 0)
        return RecordState::stale;
    return RecordState::torn;
}

CardKind kind_of(ImageView image, SectionSet bad, RecordState record)
{
    if (erased(image))
        return CardKind::blank;
    if (image[0] == kvt::kInvalidatedVersion)
        return CardKind::invalidated;
    if (image[0] != kvt::kImageVersion)
        return CardKind::unknown_version;
    if (bad != 0)
        return CardKind::bad_checksum;
    if (record == RecordState::torn)
        return CardKind::write_interrupted;
    return CardKind::valid;
}

} // namespace

CardVerdict classify_card(ImageView image, const std::optional<Record> &newest)
{
    CardVerdict verdict;
    verdict.version = image[0];
    verdict.bad_checksums = wrong_checksums(image);
    if (newest) {
        verdict.differing = differing_from(image, *newest);
        verdict.record = record_state(image, *newest, verdict.differing);
        if (verdict.record == RecordState::torn)
            verdict.interrupted_section =
                static_cast<std::uint8_t>(first_section(verdict.differing & touched_by(*newest)));
    }
    verdict.kind = kind_of(image, verdict.bad_checksums, verdict.record);
    return verdict;
}

std::string section_list(SectionSet sections)
{
    std::string list;
    for (unsigned s = 0; s < kSections; ++s) {
        if ((sections & bit(s)) == 0)
            continue;
        if (!list.empty())
            list += ", ";
        list += std::to_string(s + 1);
    }
    return list;
}

std::string verdict_reason(const CardVerdict &verdict)
{
    switch (verdict.kind) {
    case CardKind::valid:
        return "card valid";
    case CardKind::blank:
        return "card blank (erased)";
    case CardKind::invalidated:
        return "card invalidated by a fatal stop";
    case CardKind::unknown_version: {
        char text[48];
        std::snprintf(text, sizeof text, "card invalid: unknown version 0x%02x", verdict.version);
        return text;
    }
    case CardKind::bad_checksum: {
        const bool one = (verdict.bad_checksums & (verdict.bad_checksums - 1)) == 0;
        return std::string("card invalid: checksum wrong in section") + (one ? " " : "s ") +
               section_list(verdict.bad_checksums);
    }
    case CardKind::write_interrupted:
        return "card invalid: write interrupted in section " +
               std::to_string(verdict.interrupted_section);
    }
    return "card invalid";
}

std::string verdict_warning(const CardVerdict &verdict)
{
    if (verdict.kind != CardKind::valid)
        return {};
    if (verdict.record == RecordState::stale) {
        const bool one = (verdict.differing & (verdict.differing - 1)) == 0;
        return std::string("section") + (one ? " " : "s ") + section_list(verdict.differing) +
               " changed since this card library's last write (another writer, or damage the "
               "checksums miss)";
    }
    if (verdict.record == RecordState::not_landed)
        return "the card library's last write never reached the card; the card holds the "
               "image from before it";
    return {};
}

} // namespace cardlib

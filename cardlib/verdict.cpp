#include "cardlib/verdict.hpp"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "card/image.hpp"
#include "card/sections.hpp"
#include "cardlib/checksum.hpp"
#include "cardlib/record_units.hpp"

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

// A unit of the record's stretch as the card holds it, by its fingerprints.
enum class Held : std::uint8_t { after, before, both, neither };

struct HeldUnit {
    Held held;
    std::size_t section; // 1 to 8
    bool in_stretch;
};

std::vector<HeldUnit> held_units(ImageView image, const Record &record, std::size_t image_address)
{
    const auto units = record_units(record, image_address);
    std::vector<HeldUnit> held;
    for (std::size_t u = 0; u < units.size(); ++u) {
        const std::uint8_t print = unit_fingerprint(image, units[u].first, units[u].end);
        const bool before = print == record.units.at(u).before;
        const bool after = print == record.units.at(u).after;
        const Held h = before && after ? Held::both
                       : after         ? Held::after
                       : before        ? Held::before
                                       : Held::neither;
        held.push_back({h, units[u].section, units[u].in_stretch});
    }
    return held;
}

// Whether the write, cut in unit k, explains what the card holds. Unit k
// holds bytes the write changes. Inside k's section: every unit before k as
// the write left it, every unit after it as the write found it (a unit
// outside the stretch is both, unless someone wrote it since), and the
// section mixed. Other sections may have been written since by someone
// else, but none before k's section shows what the write found there, and
// none after it what the write left: those would say the cut lies
// elsewhere.
bool cut_in(const std::vector<HeldUnit> &units, std::size_t k)
{
    if (!units[k].in_stretch)
        return false;
    const std::size_t section = units[k].section;
    bool landed = false, unlanded = false;
    for (std::size_t i = 0; i < units.size(); ++i) {
        const Held h = units[i].held;
        if (i == k || h == Held::both)
            continue;
        const bool before_k = i < k;
        if (units[i].section != section) {
            if (h == (before_k ? Held::before : Held::after))
                return false;
            continue;
        }
        if (h != (before_k ? Held::after : Held::before))
            return false;
        (before_k ? landed : unlanded) = true;
    }
    switch (units[k].held) {
    case Held::neither:
        return true;
    case Held::after:
        return unlanded;
    case Held::before:
        return landed;
    case Held::both:
        break;
    }
    return landed && unlanded;
}

// The stretch holds neither what the write found nor what it left, yet no
// unit's fingerprint differs from both: an 8-bit fingerprint took the unit
// that differs for one of the two. When the units read as a cut would
// leave them (as left, then as found), the cut cannot be told from them:
// the section where they turn, or the first or last unit's, is refused.
std::size_t unplaced_cut(const std::vector<HeldUnit> &units)
{
    std::size_t turn = 0;
    bool found_seen = false;
    for (const HeldUnit &unit : units) {
        if (unit.held == Held::neither || (found_seen && unit.held == Held::after))
            return 0;
        if (unit.held == Held::before && !found_seen) {
            found_seen = true;
            turn = unit.section;
        }
    }
    if (turn != 0)
        return turn;
    return units.empty() ? 0 : units.back().section;
}

struct RecordReading {
    RecordState state = RecordState::none;
    std::size_t section = 0; // 1 to 8, for torn
    SectionSet differing = 0;
};

std::size_t first_holding(const std::vector<HeldUnit> &units, Held held)
{
    for (const HeldUnit &unit : units)
        if (unit.held == held)
            return unit.section;
    return 0;
}

RecordReading read_record(ImageView image, const Record &record, std::size_t image_address)
{
    const std::uint16_t crc = sections_crc(image, record.sections);
    if (crc == record.crc_after)
        return {RecordState::consistent};
    const auto units = held_units(image, record, image_address);
    // Over a refused card, any part of the stretch the write has not
    // reached may still hold what made the card refused.
    if (record.over_refused && !units.empty()) {
        const std::size_t s = first_holding(units, Held::before);
        if (s != 0 || crc == record.crc_before)
            return {RecordState::torn, s != 0 ? s : units.front().section};
    }
    if (crc == record.crc_before)
        return {RecordState::not_landed};
    for (std::size_t k = 0; k < units.size(); ++k)
        if (cut_in(units, k))
            return {RecordState::torn, units[k].section};
    if (const std::size_t s = unplaced_cut(units); s != 0)
        return {RecordState::torn, s};
    RecordReading stale{RecordState::stale};
    for (const HeldUnit &unit : units)
        if (unit.held == Held::before || unit.held == Held::neither)
            stale.differing |= bit(unit.section);
    return stale;
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

std::string sections_named(SectionSet sections)
{
    const bool one = (sections & (sections - 1)) == 0;
    return std::string("section") + (one ? " " : "s ") + section_list(sections);
}

} // namespace

CardVerdict classify_card(ImageView image, const std::optional<Record> &newest,
                          std::size_t image_address)
{
    CardVerdict verdict;
    verdict.version = image[0];
    verdict.bad_checksums = wrong_checksums(image);
    if (newest) {
        const RecordReading reading = read_record(image, *newest, image_address);
        verdict.record = reading.state;
        verdict.interrupted_section = static_cast<std::uint8_t>(reading.section + 1);
        verdict.differing = reading.differing;
    }
    verdict.kind = kind_of(image, verdict.bad_checksums, verdict.record);
    if (verdict.kind != CardKind::write_interrupted)
        verdict.interrupted_section = 0;
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
    case CardKind::bad_checksum:
        return "card invalid: checksum wrong in " + sections_named(verdict.bad_checksums);
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
    if (verdict.record == RecordState::stale && verdict.differing != 0)
        return sections_named(verdict.differing) +
               " changed since this card library's last write (another writer, or damage the "
               "checksums miss)";
    if (verdict.record == RecordState::not_landed)
        return "the card library's last write never reached the card; the card holds the "
               "image from before it";
    return {};
}

} // namespace cardlib

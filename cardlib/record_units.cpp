#include "cardlib/record_units.hpp"

#include <algorithm>
#include <cstddef>

#include "card/sections.hpp"
#include "cardlib/record.hpp"

namespace cardlib {

namespace {

// The pieces of section `section`, split where card pages begin and where
// the stretch [first, end) begins and ends.
void add_pieces(std::vector<Unit> &pieces, std::size_t section, std::size_t first, std::size_t end,
                std::size_t page_size, std::size_t image_address)
{
    const kvt::SectionSpan &span = kvt::kSectionMap.at(section);
    for (std::size_t from = span.first; from <= span.cksum;) {
        const std::size_t page_end = ((image_address + from) / page_size + 1) * page_size;
        std::size_t piece_end = std::min(span.cksum + 1, page_end - image_address);
        for (const std::size_t edge : {first, end})
            if (edge > from && edge < piece_end)
                piece_end = edge;
        pieces.push_back({from, piece_end, section, from < end && first < piece_end});
        from = piece_end;
    }
}

Unit merged(std::vector<Unit>::const_iterator from, std::vector<Unit>::const_iterator to)
{
    const bool in_stretch =
        std::any_of(from, to, [](const Unit &piece) { return piece.in_stretch; });
    return {from->first, std::prev(to)->end, from->section, in_stretch};
}

} // namespace

std::vector<Unit> record_units(const Record &record, std::size_t image_address)
{
    std::vector<Unit> pieces;
    if (record.page_size == 0)
        return pieces;
    for (std::size_t s = 1; s < kSections; ++s)
        if (in_sections(record.sections, s))
            add_pieces(pieces, s, record.first, record.first + record.length, record.page_size,
                       image_address);
    if (pieces.size() <= kUnits)
        return pieces;

    std::vector<Unit> units;
    const std::size_t last = pieces.back().section;
    auto at = pieces.cbegin();
    while (at->section != last) {
        const auto end = std::find_if(at, pieces.cend(),
                                      [&](const Unit &p) { return p.section != at->section; });
        units.push_back(merged(at, end));
        at = end;
    }
    const auto room = static_cast<std::ptrdiff_t>(kUnits - units.size());
    const auto fine_from = pieces.cend() - std::min(room - 1, pieces.cend() - at);
    if (fine_from != at)
        units.push_back(merged(at, fine_from));
    units.insert(units.end(), fine_from, pieces.cend());
    return units;
}

} // namespace cardlib

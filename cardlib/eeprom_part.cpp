#include "cardlib/eeprom_part.hpp"

#include <algorithm>
#include <cctype>

namespace cardlib {

std::optional<EepromPart> part_named(std::string_view name)
{
    for (const EepromPart &part : kParts)
        if (std::equal(
                name.begin(), name.end(), part.name.begin(), part.name.end(),
                [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; }))
            return part;
    return std::nullopt;
}

std::optional<EepromPart> part_of_size(std::size_t size)
{
    for (const EepromPart &part : kParts)
        if (part.size == size)
            return part;
    return std::nullopt;
}

} // namespace cardlib

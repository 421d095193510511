// The checks that make the daemon accept a card: version 0x0B and nine
// correct section checksums, computed with the card library's checksum.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "card/image.hpp"
#include "tools/kvtcard/node.hpp"

namespace kvtcard {

struct SectionCheck {
    unsigned section;
    const char *name;
    unsigned char stored;
    unsigned char computed;
    bool ok() const { return stored == computed; }
};

std::array<SectionCheck, 9> check_sections(const kvt::Image &image);

// Every reason the daemon would refuse the card; empty when it would
// accept it.
std::vector<std::string> refusal_reasons(const kvt::Image &image);

Node decode_checksums(const kvt::Image &image);

} // namespace kvtcard

// The card library's verdict on a card, with every detail behind it: the
// version, each section checksum as stored and as computed, and the
// library's record.
#pragma once

#include <array>
#include <map>
#include <string>
#include <vector>

#include "card/image.hpp"
#include "tools/kvtcard/card_file.hpp"
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

// Why the daemon would refuse the card, the verdict's reason first and then
// each failed check; empty when it would accept it.
std::vector<std::string> refusal_reasons(const Card &card);

Node decode_checksums(const kvt::Image &image);

// For each top-level key of the show document, the checksum status of the
// sections it decodes: "section 4: checksum ok", "sections 2, 9: checksum
// wrong in 9".
std::map<std::string, std::string> checksum_notes(const kvt::Image &image);

} // namespace kvtcard

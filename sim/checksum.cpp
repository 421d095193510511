// The section checksum and the image validator of the card library. The
// daemon's writers, its header check and valid_KVT all use this one
// checksum. valid_KVT also consults what the card library itself keeps on
// the card beside the image (sim/card_spare.hpp): it reads the card's spare
// bytes, since the caller hands it only a copy of the image.
#include <array>
#include <cstring>

#include "card/sections.hpp"
#include "platform/card_lib.h"
#include "sim/card_spare.hpp"

namespace
{

// XOR of the bytes, started from 0x5A rather than 0. With a start of 0 a
// zeroed stretch would carry a matching zero checksum, and an erased part
// (every byte 0xFF) would match whenever the stretch has an odd length, so
// a blank or wiped card could pass for a written one. From 0x5A a run of
// 0x00 sums to 0x5A and a run of 0xFF to 0x5A or 0xA5, neither of which
// equals the 0x00 or 0xFF found in the checksum byte of such a card.
constexpr unsigned char kChecksumStart = 0x5A;

unsigned char xor_checksum(const unsigned char *bytes, std::size_t len)
{
    unsigned char sum = kChecksumStart;
    for (std::size_t i = 0; i < len; ++i)
        sum ^= bytes[i];
    return sum;
}

} // namespace

extern "C" {

void calculate_xor_checksum(const void *data, int len, unsigned char *cksum)
{
    if (!cksum || len < 0 || (!data && len > 0))
        return;
    *cksum = xor_checksum(static_cast<const unsigned char *>(data), static_cast<std::size_t>(len));
}

// Any platform code is accepted: the simulated SP has one kind of card.
// When the copy is the image on the card, the card's own record must also
// show it whole: no write cut part way, every stored section CRC matching.
int valid_KVT(const void *image_copy, int /*platform*/)
{
    if (!image_copy)
        return 0;
    std::array<unsigned char, KVT_IMAGE_SIZE> bytes{};
    std::memcpy(bytes.data(), image_copy, bytes.size());
    if (bytes[0] != kvt::kImageVersion)
        return 0;
    for (const kvt::SectionSpan &s : kvt::kSectionMap)
        if (xor_checksum(&bytes.at(s.first), s.length) != bytes.at(s.cksum))
            return 0;
    return kvtsim::spare::card_accepts(bytes.data()) ? 1 : 0;
}

} // extern "C"

// hexdump: the image by card address, in hex and ASCII, cut where its
// sections and reserved bytes begin and end, each stretch headed by its
// name and span; a checksum byte that is wrong is marked with '!'.
#include <cstdio>

#include "card/sections.hpp"
#include "tools/kvtcard/invocation.hpp"
#include "tools/kvtcard/verify.hpp"

namespace kvtcard {

namespace {

constexpr std::size_t kRow = 16;

struct Stretch {
    std::size_t first; // image offsets
    std::size_t end;
    unsigned section; // 0: reserved bytes
};

// The sections with their checksum bytes, and the reserved bytes between.
std::vector<Stretch> stretches()
{
    std::vector<Stretch> out;
    std::size_t at = 0;
    unsigned section = 0;
    for (const kvt::SectionSpan &span : kvt::kSectionMap) {
        ++section;
        if (span.first > at)
            out.push_back({at, span.first, 0});
        out.push_back({span.first, span.cksum + 1, section});
        at = span.cksum + 1;
    }
    if (at < KVT_IMAGE_SIZE)
        out.push_back({at, KVT_IMAGE_SIZE, 0});
    return out;
}

std::string hex(std::size_t value, int digits)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%0*zx", digits, value);
    return text;
}

std::string title(const Stretch &stretch, const SectionCheck *check, std::size_t base)
{
    const std::string span = hex(base + stretch.first, 4) + "-" + hex(base + stretch.end - 1, 4);
    if (!check)
        return "reserved: " + span;
    std::string line = "section " + std::to_string(check->section) + ", " + check->name + ": " +
                       span + ", checksum ";
    if (check->ok())
        return line + "ok";
    return line + "WRONG: " + hex(check->stored, 2) + ", computed " + hex(check->computed, 2);
}

// Rows of 16 card addresses holding the stretch's bytes; the other
// columns blank.
void write_rows(std::string &out, std::span<const unsigned char> image, const Stretch &stretch,
                std::size_t base, std::size_t bad_checksum_at)
{
    const std::size_t end = base + stretch.end;
    for (std::size_t row = (base + stretch.first) / kRow * kRow; row < end; row += kRow) {
        char text[32];
        std::snprintf(text, sizeof text, "  %04zx:", row);
        std::string hexes = text;
        std::string ascii;
        for (std::size_t at = row; at < row + kRow; ++at) {
            if (at < base + stretch.first || at >= end) {
                hexes += "   ";
                ascii += ' ';
                continue;
            }
            const unsigned char byte = image[at - base];
            std::snprintf(text, sizeof text, "%c%02x", at - base == bad_checksum_at ? '!' : ' ',
                          byte);
            hexes += text;
            ascii += byte >= 0x20 && byte < 0x7F ? static_cast<char>(byte) : '.';
        }
        out.append(hexes).append("  |").append(ascii).append("|\n");
    }
}

std::string hexdump_text(const Card &card)
{
    const auto image = kvt::image_bytes(card.image);
    const auto checks = check_sections(card.image);
    std::string out = "source: " + card.source + " (" + card.format + "), image at " +
                      hex(card.image_address, 4) + "\n";
    for (const Stretch &stretch : stretches()) {
        const SectionCheck *check = stretch.section ? &checks.at(stretch.section - 1) : nullptr;
        const std::size_t bad = check && !check->ok() ? stretch.end - 1 : KVT_IMAGE_SIZE;
        out += title(stretch, check, card.image_address) + "\n";
        write_rows(out, image, stretch, card.image_address, bad);
    }
    return out;
}

Node hexdump_document(const Card &card)
{
    const auto image = kvt::image_bytes(card.image);
    const auto checks = check_sections(card.image);
    Node parts = Node::array();
    for (const Stretch &stretch : stretches()) {
        std::string bytes;
        for (std::size_t at = stretch.first; at < stretch.end; ++at)
            bytes += hex(image[at], 2).substr(2);
        Node part =
            Node::object()
                .set("section", Node::number(stretch.section))
                .set("name",
                     Node::text(stretch.section ? checks.at(stretch.section - 1).name : "reserved"))
                .set("first", Node::hex(card.image_address + stretch.first, 4))
                .set("last", Node::hex(card.image_address + stretch.end - 1, 4));
        if (stretch.section)
            part.set("checksum_ok", Node::boolean(checks.at(stretch.section - 1).ok()));
        parts.push(part.set("bytes", Node::text(bytes)));
    }
    return Node::object()
        .set("source", Node::text(card.source))
        .set("format", Node::text(card.format))
        .set("image_address", Node::hex(card.image_address, 4))
        .set("stretches", std::move(parts));
}

} // namespace

int run_hexdump(const Invocation &run)
{
    if (run.sources.size() != 1)
        return fail("hexdump takes 1 card");
    std::vector<Card> cards;
    if (!load_cards(run, cards))
        return kExitError;
    if (run.json)
        print(hexdump_document(cards.front()), true);
    else
        std::fputs(hexdump_text(cards.front()).c_str(), stdout);
    return kExitOk;
}

} // namespace kvtcard

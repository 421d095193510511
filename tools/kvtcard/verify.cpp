#include "tools/kvtcard/verify.hpp"

#include <cstdio>

#include "card/sections.hpp"
#include "tools/kvtcard/commands.hpp"

namespace kvtcard {

namespace {

std::string hex_byte(unsigned value)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02x", value);
    return text;
}

} // namespace

std::array<SectionCheck, 9> check_sections(const kvt::Image &image)
{
    std::array<SectionCheck, 9> checks{};
    const auto bytes = kvt::image_bytes(image);
    for (std::size_t i = 0; i < kvt::kSectionMap.size(); ++i) {
        const kvt::SectionSpan &s = kvt::kSectionMap.at(i);
        unsigned char computed = 0;
        calculate_xor_checksum(&bytes[s.first], static_cast<int>(s.length), &computed);
        checks.at(i) = {static_cast<unsigned>(i + 1), kvt::kSectionNames.at(i), bytes[s.cksum],
                        computed};
    }
    return checks;
}

std::vector<std::string> refusal_reasons(const Card &card)
{
    const cardlib::CardVerdict verdict = card_verdict(card);
    if (verdict.accepted())
        return {};
    std::vector<std::string> reasons{cardlib::verdict_reason(verdict)};
    if (card.image.hdr_version != kvt::kImageVersion)
        reasons.push_back("header version " + hex_byte(card.image.hdr_version) + " is not " +
                          hex_byte(kvt::kImageVersion));
    for (const SectionCheck &check : check_sections(card.image))
        if (!check.ok())
            reasons.push_back("section " + std::to_string(check.section) + " (" + check.name +
                              ") checksum " + hex_byte(check.stored) + " should be " +
                              hex_byte(check.computed));
    return reasons;
}

Node decode_checksums(const kvt::Image &image)
{
    Node checks = Node::array();
    for (const SectionCheck &check : check_sections(image))
        checks.push(Node::object()
                        .set("section", Node::number(check.section))
                        .set("name", Node::text(check.name))
                        .set("stored", Node::hex(check.stored, 2))
                        .set("computed", Node::hex(check.computed, 2))
                        .set("ok", Node::boolean(check.ok())));
    return checks;
}

Node verify_card(const Card &card)
{
    const cardlib::CardVerdict verdict = card_verdict(card);
    Node reasons = Node::array();
    for (const std::string &reason : refusal_reasons(card))
        reasons.push(Node::text(reason));
    Node warnings = Node::array();
    if (const std::string warning = cardlib::verdict_warning(verdict); !warning.empty())
        warnings.push(Node::text(warning));
    return Node::object()
        .set("source", Node::text(card.source))
        .set("valid", Node::boolean(verdict.accepted()))
        .set("verdict", Node::text(cardlib::verdict_reason(verdict)))
        .set("reasons", std::move(reasons))
        .set("warnings", std::move(warnings));
}

} // namespace kvtcard

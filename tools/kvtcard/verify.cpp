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

std::map<std::string, std::string> checksum_notes(const kvt::Image &image)
{
    constexpr std::pair<const char *, std::array<unsigned, 2>> kSectionsOf[] = {
        {"header", {1, 0}},      {"users", {2, 9}},         {"network", {3, 0}},
        {"post", {4, 0}},        {"flags", {4, 0}},         {"cli", {4, 0}},
        {"alert_rules", {5, 0}}, {"customer_info", {6, 0}}, {"console", {7, 0}},
        {"cli_modes", {8, 0}},
    };
    const auto checks = check_sections(image);
    std::map<std::string, std::string> notes;
    for (const auto &[key, sections] : kSectionsOf) {
        const bool two = sections[1] != 0;
        std::string note =
            two ? "sections " + std::to_string(sections[0]) + ", " + std::to_string(sections[1])
                : "section " + std::to_string(sections[0]);
        std::string wrong;
        for (const unsigned s : sections)
            if (s != 0 && !checks.at(s - 1).ok())
                wrong += (wrong.empty() ? "" : ", ") + std::to_string(s);
        if (wrong.empty())
            note += ": checksum ok";
        else
            note += two ? ": checksum wrong in " + wrong : ": checksum WRONG";
        notes.emplace(key, note);
    }
    return notes;
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

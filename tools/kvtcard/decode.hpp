// Decoders: one per section of the card image, each turning the section's
// fields into a document node with the value texts the daemon itself uses.
#pragma once

#include <array>

#include "card/image.hpp"
#include "sections/encodings.hpp"
#include "tools/kvtcard/card_file.hpp"
#include "tools/kvtcard/node.hpp"

namespace kvtcard {

// POST level and verbosity names belong to the SP's platform-control
// library, so the card alone gives only their codes.
struct DecodeOptions {
    bool show_passwords = false;
    bool all = false; // also empty user and CLI-mode slots and unused alert rules
};

// The one-bit flags of miscbits in the order in which the restore sets
// them; the two autorestart bits are one setting of their own.
inline constexpr std::array<const kvt::MiscFlag *, 10> kMiscFlags{
    &kvt::kFlagNetwork,          &kvt::kFlagAutorunonerror,
    &kvt::kFlagServiceMode,      &kvt::kFlagPasswdEcho,
    &kvt::kFlagSsqaMode,         &kvt::kFlagSsh,
    &kvt::kFlagPowerStateMemory, &kvt::kFlagPowerOnDelay,
    &kvt::kFlagNoBackupUserData, &kvt::kFlagSmtp,
};
inline constexpr std::uint16_t kUnusedMiscBits = 0xF000;

template <std::size_t N> Node text_of(const kvt::TextField<N> &field)
{
    return Node::text(field.view());
}

// "administrator", "operator" or "none" for an IPMI privilege byte.
const char *privilege_name(unsigned char privilege);
// "00:14:4f:00:00:01"
std::string mac_text(const unsigned char *mac);
// The password as shown: masked unless asked for.
Node password_node(std::string_view password, bool show);

Node decode_header(const Card &card);
Node decode_users(const kvt::Image &image, const DecodeOptions &options);
Node decode_network(const kvt::Image &image);
Node decode_post(const kvt::Image &image);
Node decode_flags(const kvt::Image &image);
Node decode_cli(const kvt::Image &image);
Node decode_alert_rules(const kvt::Image &image, const DecodeOptions &options);
Node decode_customer_info(const kvt::Image &image);
Node decode_console(const kvt::Image &image);
Node decode_cli_modes(const kvt::Image &image, const DecodeOptions &options);

// Every section, in section order, with the checksum status at the end;
// without options.all, a count of what was folded.
Node decode_card(const Card &card, const DecodeOptions &options);

} // namespace kvtcard

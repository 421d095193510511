// The card image: 1832 bytes in nine checksummed sections, mirrored byte
// for byte on the card. Field names are those of the image dump.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <type_traits>

#include "card/endian.hpp"
#include "card/text_field.hpp"
#include "platform/card_lib.h"

namespace kvt {

inline constexpr unsigned char kImageVersion = 0x0B;
inline constexpr unsigned char kInvalidatedVersion = 0xFF;
inline constexpr std::size_t kMaxUsers = 11;
inline constexpr std::size_t kAlertRules = 15;
inline constexpr std::size_t kMacLength = 6;
inline constexpr std::size_t kHeaderSize = 8; // version, MAC, cksum1

// netflags (section 3)
inline constexpr std::uint32_t KVT_NET_STATIC = 0x80000000u;
inline constexpr std::uint32_t KVT_NET_IPV6 = 0x40000000u;

// miscbits (section 4)
inline constexpr std::uint16_t KVT_AUTORUNONERROR = 0x0001;
inline constexpr std::uint16_t KVT_CLI_SERVICE_MODE = 0x0002;
inline constexpr std::uint16_t KVT_CLI_PASSWD_ECHO = 0x0004;
inline constexpr std::uint16_t KVT_CLI_SSQA_MODE = 0x0008;
inline constexpr std::uint16_t KVT_SSH_ENABLED = 0x0010;
inline constexpr std::uint16_t KVT_POWER_STATE_MEMORY = 0x0020;
inline constexpr std::uint16_t KVT_POWER_ON_DELAY = 0x0040;
inline constexpr std::uint16_t KVT_SMTP_ENABLED = 0x0080;
inline constexpr std::uint16_t KVT_NETWORK_ENABLED = 0x0100;
inline constexpr std::uint16_t KVT_AUTORESTART_RESET = 0x0200;
inline constexpr std::uint16_t KVT_AUTORESTART_DUMPCORE = 0x0400;
inline constexpr std::uint16_t KVT_NO_BACKUP_USER_DATA = 0x0800;

// The IPMI privilege levels a user entry's privilege byte holds; 0 is neither.
inline constexpr unsigned char kPrivilegeOperator = 3;
inline constexpr unsigned char kPrivilegeAdmin = 4;

struct UserEntry {
    TextField<17> name;
    TextField<17> password;
    unsigned char privilege;
};

struct AlertRule {
    TextField<51> destination;
    unsigned char level;
    unsigned char type;
};

struct CliModeEntry {
    TextField<17> name;
    TextField<17> mode;
};

struct NetAddress {
    unsigned char bytes[16]; // IPv4 in bytes 0..3, network order
};

} // namespace kvt

struct kvt_image_t {
    // section 1: header
    unsigned char hdr_version;
    unsigned char sp_mac[kvt::kMacLength];
    unsigned char cksum1;
    // section 2
    kvt::UserEntry user_table[kvt::kMaxUsers];
    unsigned char cksum2;
    unsigned char reserved_18a[2];
    // section 3: network
    kvt::Be32 netflags;
    kvt::NetAddress ipaddress;
    kvt::NetAddress ipnetmask;
    kvt::NetAddress ipgateway;
    unsigned char cksum3;
    // section 4: misc
    unsigned char diag_trigger;
    unsigned char diag_level;
    unsigned char diag_level_error;
    unsigned char diag_level_power;
    unsigned char diag_level_user;
    unsigned char diag_verbosity;
    unsigned char diag_verbosity_error;
    unsigned char diag_verbosity_power;
    unsigned char diag_verbosity_user;
    unsigned char diag_mode;
    unsigned char misc_reserved;
    kvt::Be16 miscbits;
    kvt::TextField<41> cliprompt;
    unsigned char cli_eventlevel;
    kvt::Be32 cli_timeout;
    unsigned char cksum4;
    // section 5: alert rules
    kvt::AlertRule alert_rules[kvt::kAlertRules];
    unsigned char cksum5;
    // section 6: customer info
    kvt::TextField<41> customerinfo;
    unsigned char cksum6;
    // section 7: console, mail and keyswitch
    kvt::TextField<3> escapechars;
    kvt::TextField<51> mailhost_address;
    unsigned char mail_reserved;
    kvt::Be16 mailhost_port;
    unsigned char keyswitch;
    unsigned char host_type;
    unsigned char cksum7;
    // section 8: CLI modes
    kvt::CliModeEntry climode_table[kvt::kMaxUsers];
    unsigned char cksum8;
    unsigned char reserved_6f6[2];
    // section 9: roles, word k belonging to user_table entry k
    kvt::Be32 role_table[kvt::kMaxUsers];
    unsigned char cksum9;
    unsigned char reserved_725[3];
};

namespace kvt {

using Image = kvt_image_t;

static_assert(alignof(Image) == 1);
static_assert(sizeof(UserEntry) == 35 && sizeof(AlertRule) == 53 && sizeof(CliModeEntry) == 34);
static_assert(sizeof(Image) == KVT_IMAGE_SIZE);
static_assert(std::is_standard_layout_v<Image> && std::is_trivially_copyable_v<Image>);
static_assert(offsetof(Image, sp_mac) == 0x001 && offsetof(Image, cksum1) == 0x007);
static_assert(offsetof(Image, user_table) == kHeaderSize);
static_assert(offsetof(Image, user_table) == 0x008 && offsetof(Image, cksum2) == 0x189);
static_assert(offsetof(Image, reserved_18a) == 0x18A);
static_assert(offsetof(Image, netflags) == 0x18C && offsetof(Image, ipaddress) == 0x190);
static_assert(offsetof(Image, ipnetmask) == 0x1A0 && offsetof(Image, ipgateway) == 0x1B0);
static_assert(offsetof(Image, cksum3) == 0x1C0 && offsetof(Image, diag_trigger) == 0x1C1);
static_assert(offsetof(Image, diag_level_error) == 0x1C3 &&
              offsetof(Image, diag_verbosity) == 0x1C6);
static_assert(offsetof(Image, diag_mode) == 0x1CA && offsetof(Image, miscbits) == 0x1CC);
static_assert(offsetof(Image, cliprompt) == 0x1CE && offsetof(Image, cli_eventlevel) == 0x1F7);
static_assert(offsetof(Image, cli_timeout) == 0x1F8 && offsetof(Image, cksum4) == 0x1FC);
static_assert(offsetof(Image, alert_rules) == 0x1FD && offsetof(Image, cksum5) == 0x518);
static_assert(offsetof(Image, customerinfo) == 0x519 && offsetof(Image, cksum6) == 0x542);
static_assert(offsetof(Image, escapechars) == 0x543 && offsetof(Image, mailhost_address) == 0x546);
static_assert(offsetof(Image, mailhost_port) == 0x57A && offsetof(Image, keyswitch) == 0x57C);
static_assert(offsetof(Image, host_type) == 0x57D && offsetof(Image, cksum7) == 0x57E);
static_assert(offsetof(Image, climode_table) == 0x57F && offsetof(Image, cksum8) == 0x6F5);
static_assert(offsetof(Image, reserved_6f6) == 0x6F6 && offsetof(Image, role_table) == 0x6F8);
static_assert(offsetof(Image, cksum9) == 0x724 && offsetof(Image, reserved_725) == 0x725);

// The image's bytes, for checksums, copies and card I/O. An Image is a
// standard-layout record of bytes whose size is checked above, so its
// object representation is the card's 1832 bytes.
inline std::span<unsigned char, KVT_IMAGE_SIZE> image_bytes(Image &image)
{
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast)
    auto *bytes = reinterpret_cast<unsigned char *>(&image);
    return std::span<unsigned char, KVT_IMAGE_SIZE>(bytes, KVT_IMAGE_SIZE);
}

inline std::span<const unsigned char, KVT_IMAGE_SIZE> image_bytes(const Image &image)
{
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast)
    const auto *bytes = reinterpret_cast<const unsigned char *>(&image);
    return std::span<const unsigned char, KVT_IMAGE_SIZE>(bytes, KVT_IMAGE_SIZE);
}

} // namespace kvt

// The full capture of a fresh simulated SP against a card image kept in the
// source tree. The same test runs on little- and big-endian builds, so a
// capture that depends on the host's byte order fails on one of them.
//
// tests/golden/default_capture.bin was made by this capture on x86. Every
// field of it is also written out below, worked out by hand from the
// simulated SP's defaults (sim/root/defaults.cpp), so that the committed image
// is itself checked. When the card layout or the simulated defaults change
// on purpose, the failing test leaves the new capture in its temporary
// directory to replace it with, and the table is brought up to date.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/capi.h"
#include "platform/card_lib.h"
#include "service/kvtd.hpp"
#include "sim/control.hpp"
#include "tests/support/sim_root.hpp"

namespace {

constexpr const char *kGolden = KVT_SOURCE_DIR "/tests/golden/default_capture.bin";

using Bytes = std::vector<unsigned char>;

struct Field {
    const char *name;
    std::size_t offset;
    Bytes bytes;
};

// A text as a bounded copy leaves it in a zeroed field of `width` bytes.
Bytes text(std::string_view value, std::size_t width)
{
    Bytes field(width, 0);
    std::copy(value.begin(), value.end(), field.begin());
    return field;
}

const auto zeros = [](std::size_t count) { return Bytes(count, 0); };

Bytes address(unsigned char a, unsigned char b, unsigned char c, unsigned char d)
{
    Bytes field{a, b, c, d};
    field.resize(16);
    return field;
}

// Two texts of 17 bytes each: a CLI-mode entry, and a user entry before its privilege.
Bytes cli_mode(std::string_view name, std::string_view mode)
{
    Bytes entry = text(name, 17);
    const Bytes word = text(mode, 17);
    entry.insert(entry.end(), word.begin(), word.end());
    return entry;
}

Bytes user(std::string_view name, std::string_view password, unsigned char privilege)
{
    Bytes entry = cli_mode(name, password);
    entry.push_back(privilege);
    return entry;
}

// Every field of the capture, in image order. Checksums are the XOR of the
// section's bytes started from 0x5A, worked out from the bytes above them.
const Field kFieldsByHand[] = {
    // section 1: header
    {"hdr_version", 0x000, {0x0B}},                          // current version
    {"sp_mac", 0x001, {0x00, 0x14, 0x4f, 0x00, 0x00, 0x01}}, // the SP MAC of KVT-data
    {"cksum1", 0x007, {0x0B}},                               // 5A^0B^14^4F^01
    // section 2: users (marnint, anonymous, default and the proxy are never stored)
    // The passwords are the user database's hashes of "changeme", "admin123" and
    // "oper123": a card carries no password in clear text.
    {"user_table[0]", 0x008, user("root", "~67c58ab9d1d9064", 4)},      // role admin
    {"user_table[1]", 0x02B, user("admin", "~8454f1fec4608b9", 4)},     // admin,operator
    {"user_table[2]", 0x04E, user("operator1", "~bb84beb501c0a1f", 3)}, // role operator
    {"user_table[3..10]", 0x071, zeros(8 * 35)},                        // free
    {"cksum2", 0x189, {0x43}},                                          // the three entries
    {"reserved_18a", 0x18A, zeros(2)},                                  // outside every section
    // section 3: network
    {"netflags", 0x18C, {0x80, 0x00, 0x00, 0x00}},   // static, IPv4
    {"ipaddress", 0x190, address(192, 168, 1, 10)},  // 192.168.1.10
    {"ipnetmask", 0x1A0, address(255, 255, 255, 0)}, // 255.255.255.0
    {"ipgateway", 0x1B0, address(192, 168, 1, 1)},   // 192.168.1.1
    {"cksum3", 0x1C0, {0x2E}},                       // 5A^80^C0^A8^01^0A^FF^FF^FF^C0^A8^01^01
    // section 4: misc
    {"diag_trigger", 0x1C1, {0x06}},                  // power-on-reset 04, error-reset 02
    {"diag_level", 0x1C2, {0x00}},                    // never set
    {"diag_level_error", 0x1C3, {0x02}},              // "max"
    {"diag_level_power", 0x1C4, {0x01}},              // "min"
    {"diag_level_user", 0x1C5, {0x02}},               // "max"
    {"diag_verbosity", 0x1C6, {0x00}},                // never set
    {"diag_verbosity_error", 0x1C7, {0x01}},          // "normal"
    {"diag_verbosity_power", 0x1C8, {0x00}},          // "min"
    {"diag_verbosity_user", 0x1C9, {0x01}},           // "normal"
    {"diag_mode", 0x1CA, {0x01}},                     // "normal"
    {"misc_reserved", 0x1CB, {0x00}},                 // never written
    {"miscbits", 0x1CC, {0x03, 0x10}},                // autorestart reset, network on, SSH on
    {"cliprompt", 0x1CE, text("sp-sim>", 41)},        // the default prompt
    {"cli_eventlevel", 0x1F7, {0x02}},                // "2"
    {"cli_timeout", 0x1F8, {0x00, 0x00, 0x00, 0x00}}, // no timeout
    {"cksum4", 0x1FC, {0x2A}},                        // the section's 59 bytes above
    // section 5
    {"alert_rules", 0x1FD, zeros(15 * 53)}, // 15 x no destination, "disable" 0, "ipmipet" 0
    {"cksum5", 0x518, {0x5A}},              // zeros only
    // section 6: customer info
    {"customerinfo", 0x519, text("", 41)}, // empty system identifier
    {"cksum6", 0x542, {0x5A}},             // zeros only
    // section 7: console, mail and keyswitch
    {"escapechars", 0x543, text("&.", 3)},     // the default sequence
    {"mailhost_address", 0x546, text("", 51)}, // no SMTP server
    {"mail_reserved", 0x579, {0x00}},          // never written
    {"mailhost_port", 0x57A, {0x00, 0x19}},    // 25
    {"keyswitch", 0x57C, {0x00}},              // position 0
    {"host_type", 0x57D, {0x42}},              // the simulated platform code
    {"cksum7", 0x57E, {0x09}},                 // "&.", 25 and 0x42
    // section 8: the CLI-mode file, line by line
    {"climode_table[0]", 0x57F, cli_mode("root", "default")},  // "root:default"
    {"climode_table[1]", 0x5A1, cli_mode("admin", "compact")}, // "admin:compact"
    {"climode_table[2..10]", 0x5C3, zeros(9 * 34)},            // free
    {"cksum8", 0x6F5, {0x3F}},                                 // the two entries
    {"reserved_6f6", 0x6F6, zeros(2)},                         // outside every section
    // section 9: role words of user_table's entries
    {"role_table[0]", 0x6F8, {0x00, 0x00, 0x00, 0x01}}, // admin
    {"role_table[1]", 0x6FC, {0x00, 0x00, 0x00, 0x21}}, // admin, operator
    {"role_table[2]", 0x700, {0x00, 0x00, 0x00, 0x20}}, // operator
    {"role_table[3..10]", 0x704, zeros(8 * 4)},         // free
    {"cksum9", 0x724, {0x5A}},                          // 5A^01^21^20
    {"reserved_725", 0x725, zeros(3)},                  // outside every section
};

TEST(GoldenCapture, FreshSpCapturesToTheCommittedImageByteForByte)
{
    kvttest::SimRoot root;
    kvtPlatform = capi_get_platform();
    std::memset(&kvt_image, 0, KVT_IMAGE_SIZE);
    get_current_config(&kvt_image);
    EXPECT_EQ(kvtsim::object_connections_open(), 0) << "a section left its connection open";
    const auto *first = reinterpret_cast<const unsigned char *>(&kvt_image);
    const std::vector<unsigned char> captured(first, first + KVT_IMAGE_SIZE);

    std::size_t at = 0;
    for (const Field &field : kFieldsByHand) {
        EXPECT_EQ(field.offset, at) << "the table leaves out bytes before " << field.name;
        at = field.offset + field.bytes.size();
        ASSERT_LE(at, captured.size()) << field.name;
        EXPECT_EQ(std::vector(captured.begin() + field.offset, captured.begin() + at), field.bytes)
            << field.name << " at 0x" << std::hex << field.offset;
    }
    EXPECT_EQ(at, KVT_IMAGE_SIZE) << "the table ends early";
    for (const char *line : {"get_current_config: top\n", "net parms:\n", "\tdiscovery: <static>\n",
                             "\tip addr: 192.168.1.10\n", "\tnetmask: 255.255.255.0\n",
                             "\tgateway: 192.168.1.1\n", "\tcoded discovery: 1\n"})
        EXPECT_TRUE(kvttest::log_has(line)) << line;

    const std::string text = kvttest::read_file(kGolden);
    const std::vector<unsigned char> golden(text.begin(), text.end());
    ASSERT_EQ(golden.size(), KVT_IMAGE_SIZE) << kGolden;
    if (captured == golden)
        return;
    const std::string actual = testing::TempDir() + "default_capture.bin";
    std::ofstream(actual, std::ios::binary)
        .write(reinterpret_cast<const char *>(captured.data()), KVT_IMAGE_SIZE);
    const auto differs =
        std::mismatch(captured.begin(), captured.end(), golden.begin()).first - captured.begin();
    ADD_FAILURE() << "capture differs from " << kGolden << " first at 0x" << std::hex << differs
                  << "; this capture is in " << actual;
}

// With user data backup off, no account, role or CLI mode reaches the card.
TEST(GoldenCapture, UserDataBackupOffKeepsEveryAccountOffTheCard)
{
    kvttest::SimRoot root;
    kvtPlatform = capi_get_platform();
    ASSERT_EQ(kvtsim::object_set("/X/policy/BACKUP_USER_DATA", "disabled"), 0);
    std::memset(&kvt_image, 0, KVT_IMAGE_SIZE);
    get_current_config(&kvt_image);

    EXPECT_NE(kvt_image.miscbits.get() & kvt::KVT_NO_BACKUP_USER_DATA, 0);
    const kvt::Image blank{};
    EXPECT_EQ(std::memcmp(kvt_image.user_table, blank.user_table, sizeof blank.user_table), 0);
    EXPECT_EQ(std::memcmp(kvt_image.role_table, blank.role_table, sizeof blank.role_table), 0);
    EXPECT_EQ(std::memcmp(kvt_image.climode_table, blank.climode_table, sizeof blank.climode_table),
              0);
    EXPECT_TRUE(kvttest::log_has(
        "get_current_config: skipping user data because KVT_NO_BACKUP_USER_DATA is set\n"));
}

} // namespace

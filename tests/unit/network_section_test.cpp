// Section 3 against the simulated SP: live update and restore.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "card/sections.hpp"
#include "sections/network.hpp"
#include "sim/control.hpp"
#include "tests/support/rows.hpp"
#include "tests/support/sim_root.hpp"

namespace {

using kvttest::log_has;
using ::testing::ExitedWithCode;
using Bytes = std::vector<unsigned char>;

// The simulated SP's defaults: 192.168.1.10 / 255.255.255.0 / 192.168.1.1, static.
const Bytes kStaticGolden = {
    0x80, 0x00, 0x00, 0x00,                                     // netflags: static, IPv4
    0xC0, 0xA8, 0x01, 0x0A, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, // ipaddress
    0xFF, 0xFF, 0xFF, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, // ipnetmask
    0xC0, 0xA8, 0x01, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, // ipgateway
};

Bytes section(const kvt::Image &image)
{
    const auto bytes = kvt::image_bytes(image).subspan(0x18C, 52);
    return {bytes.begin(), bytes.end()};
}

unsigned char checksum(const kvt::Image &image)
{
    unsigned char sum = 0;
    calculate_xor_checksum(&kvt::image_bytes(image)[0x18C], 52, &sum);
    return sum;
}

class NetworkSection : public ::testing::Test {
  protected:
    void SetUp() override
    {
        ::setenv(kvtsim::kTimeScaleEnv, "0.01", 0);
        std::memset(&kvt_image, 0, sizeof kvt_image);
    }
    // The card image holds 10.20.30.40 / 255.255.0.0 / 10.20.0.1.
    static void card_holds_static(std::uint32_t flags = kvt::KVT_NET_STATIC)
    {
        kvt_image.netflags.set(flags);
        std::memcpy(kvt_image.ipaddress.bytes, "\x0A\x14\x1E\x28", 4);
        std::memcpy(kvt_image.ipnetmask.bytes, "\xFF\xFF\x00\x00", 4);
        std::memcpy(kvt_image.ipgateway.bytes, "\x0A\x14\x00\x01", 4);
    }
    kvttest::SimRoot root_;
};

// The capture of the same defaults is pinned by the golden capture. A
// change to DHCP zeroes the section and writes it alone.
TEST_F(NetworkSection, LiveUpdateStoresStaticAddressesAsGoldenBytesAndDhcpAsZeroes)
{
    kvtd_update_ipsettings();
    EXPECT_EQ(section(kvt_image), kStaticGolden);
    EXPECT_EQ(kvtsim::object_connections_open(), 0);

    ASSERT_EQ(kvtsim::object_set("/X/network/ipdiscovery", "dhcp"), 0);
    ASSERT_EQ(kvtsim::card_insert_blank(), 0);
    kvtd_update_ipsettings();

    EXPECT_EQ(section(kvt_image), Bytes(52, 0));
    EXPECT_EQ(kvt_image.cksum3, checksum(kvt_image));
    const auto card = kvtsim::card_image();
    ASSERT_TRUE(card.has_value());
    for (std::size_t at = 0; at < card->size(); ++at) {
        const bool written = at >= 0x18C && at < 0x18C + 53;
        ASSERT_EQ((*card)[at], written ? kvt::image_bytes(kvt_image)[at] : 0xFF) << at;
    }
}

// A capture of DHCP reads no address and says so; its section stays zero.
TEST_F(NetworkSection, CaptureOfDhcpReadsNoAddress)
{
    ASSERT_EQ(kvtsim::object_set("/X/network/ipdiscovery", "dhcp"), 0);
    luapi_session session;
    init_luapi_session(&session);
    get_current_network(&session, &kvt_image);
    close_luapi_session(&session);

    EXPECT_EQ(section(kvt_image), Bytes(52, 0));
    EXPECT_TRUE(log_has("\tdiscovery: <dhcp>\n"));
    EXPECT_TRUE(log_has("\tcoded discovery: 0\n"));
    EXPECT_FALSE(log_has("\tip addr: "));
}

// What the restore of a static image sets, in this order.
struct PendingSet {
    const char *path;
    const char *value;
    const char *refused_line;
};
constexpr PendingSet kStaticRestore[] = {
    {"/X/network/pendingipdiscovery", "static", "error setting pendingipdiscovery\n"},
    {"/X/network/pendingipaddress", "10.20.30.40", "error setting pendingipaddress\n"},
    {"/X/network/pendingipgateway", "10.20.0.1", "error setting pendingipgateway\n"},
    {"/X/network/pendingipnetmask", "255.255.0.0", "error setting pendingnetmask\n"},
    {"/X/network/commitpending", "true", "error setting commitpending\n"},
};

class StaticRestoreOrder : public NetworkSection, public ::testing::WithParamInterface<int> {};

TEST_P(StaticRestoreOrder, SetsPendingObjectsInOrderThenCommits)
{
    const int refused = GetParam();
    card_holds_static();
    // The commit is refused with 112, the error next to the tolerated 113.
    kvtsim::fault_set(std::string("luapi.set:") + kStaticRestore[refused].path,
                      refused == 4 ? 112 : 5);

    EXPECT_EXIT(restore_network(), ExitedWithCode(255), "");

    EXPECT_TRUE(log_has(kStaticRestore[refused].refused_line));
    for (int i = 0; i < 4; ++i) {
        if (i == refused)
            continue;
        const bool set = kvtsim::object_get(kStaticRestore[i].path) == kStaticRestore[i].value;
        EXPECT_EQ(set, i < refused) << kStaticRestore[i].path;
    }
}

INSTANTIATE_TEST_SUITE_P(EachSet, StaticRestoreOrder, ::testing::Range(0, 5));

// Each kind of restore, by what the card holds and what the SP uses, and
// every line it logs.
struct LoggedRestore {
    const char *name;
    std::uint32_t card_flags;
    const char *sp_discovery;
    std::vector<std::string> log;
};
const LoggedRestore kLoggedRestores[] = {
    {"StaticOntoStatic",
     kvt::KVT_NET_STATIC,
     "static",
     {"restoring static IPV4", "ip address: 10.20.30.40", "gateway: 10.20.0.1",
      "netmask: 255.255.0.0", "done restoring network settings"}},
    {"DhcpOntoStatic", 0, "static", {"restoring dhcp", "done restoring network settings"}},
    {"DhcpOntoDhcp", 0, "dhcp", {"done restoring network settings"}},
};

using kvttest::PrintTo;

class LoggedNetworkRestore : public NetworkSection,
                             public ::testing::WithParamInterface<LoggedRestore> {};

TEST_P(LoggedNetworkRestore, LogsEachStepAndNothingElse)
{
    card_holds_static(GetParam().card_flags);
    ASSERT_EQ(kvtsim::object_set("/X/network/ipdiscovery", GetParam().sp_discovery), 0);
    kvttest::clear_log();
    restore_network();
    EXPECT_EQ(kvttest::log_messages(root_.service_log()), GetParam().log);
}

INSTANTIATE_TEST_SUITE_P(Kinds, LoggedNetworkRestore, ::testing::ValuesIn(kLoggedRestores),
                         kvttest::by_name);

TEST_F(NetworkSection, CommitRefusedWithError113IsTolerated)
{
    card_holds_static();
    kvtsim::fault_set("luapi.set:/X/network/commitpending", 113);
    // Run apart: a wrongly refused commit would end this process.
    EXPECT_EXIT(
        {
            restore_network();
            std::exit(0);
        },
        ExitedWithCode(0), "");
    EXPECT_TRUE(log_has("done restoring network settings\n"));
}

TEST_F(NetworkSection, RestoreOfDhcpOnDhcpSetsNothingButRecomputesChecksum)
{
    ASSERT_EQ(kvtsim::object_set("/X/network/ipdiscovery", "dhcp"), 0);
    kvt_image.netflags.set(kvt::KVT_NET_IPV6); // IPv6 without static counts as DHCP
    kvt_image.cksum3 = 0x5A;
    // Any set would now stop the process.
    kvtsim::fault_set("luapi.set:/X/network/pendingipdiscovery", 5);
    kvtsim::fault_set("luapi.set:/X/network/commitpending", 5);

    restore_network();

    EXPECT_TRUE(log_has("done restoring network settings\n"));
    EXPECT_EQ(kvt_image.cksum3, checksum(kvt_image));
}

} // namespace

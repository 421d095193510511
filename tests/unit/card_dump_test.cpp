// The image dump as it reaches the service log.
#include <gtest/gtest.h>

#include <sstream>

#include "base/image_dump.hpp"
#include "tests/support/sim_root.hpp"

namespace {

// Dumps `image` into a fresh root's log; returns the messages in order.
// Each dump message starts with a tab, after the time text and a blank.
std::vector<std::string> dump_lines(const kvt::Image &image)
{
    kvttest::SimRoot root;
    log_image_dump(&image);
    std::vector<std::string> lines;
    std::istringstream log(root.service_log());
    for (std::string line; std::getline(log, line);) {
        const auto tab = line.find('\t');
        EXPECT_TRUE(tab != std::string::npos && tab > 1 && line[tab - 1] == ' ') << line;
        lines.push_back(line.substr(tab == std::string::npos ? 0 : tab));
    }
    return lines;
}

// Each printed field in its own base and sign; all others, and so every
// checksum, are zero.
TEST(ImageDump, WritesFortyOneLinesWithEachFieldInItsOwnBaseAndSign)
{
    kvt::Image image{};
    image.hdr_version = 0x0B;
    for (int i = 0; i < 6; ++i) // each byte its own, all above 0x7f
        image.sp_mac[i] = static_cast<unsigned char>(0xa9 + 0x11 * i);
    image.miscbits.set(0x0810);
    image.diag_mode = 12;
    image.cli_timeout.set(0xFFFFFFFF);
    image.alert_rules[2].destination.store("ops@example.com");
    image.alert_rules[2].level = 12;
    image.escapechars.store("#");
    image.mailhost_port.set(2525);
    image.host_type = 0x1A;
    std::vector<std::string> expected{"\thdr_version: b",
                                      "\tmac: a9:ba:cb:dc:ed:fe",
                                      "\tcksum1:0",
                                      "\tcksum2:0",
                                      "\taddrfamily: ipv4 discovery dhcp",
                                      "\tcksum3:0",
                                      "\tdiag_trigger: 0 diag_level: 0",
                                      "\tdiag_level_error: 0",
                                      "\tdiag_level_power: 0",
                                      "\tdiag_level_user: 0",
                                      "\tdiag_verbosity: 0 diag_mode: 12",
                                      "\tdiag_verbosity_error: 0",
                                      "\tdiag_verbosity_power: 0",
                                      "\tdiag_verbosity_user: 0",
                                      "\tmiscbits: 810",
                                      "\tcliprompt: <>",
                                      "\tcli_eventlevel: 0 cli_timeout: -1 ",
                                      "\tcksum4: 0"};
    for (int i = 0; i < 15; ++i)
        expected.push_back("\ti: " + std::to_string(i) + " destination " +
                           (i == 2 ? "ops@example.com level: 12" : " level: 0") + " type: 0");
    expected.insert(expected.end(),
                    {"\tcksum5: 0", "\tcustomerinfo:<>", "\tcksum6: 0", "\tescapechars:  # ",
                     "\tmailhost address:  port 2525", "\tkeyswitch: 0 host_type: 0x1a ",
                     "\tcksum7: 0", "\tcksum8:0"});
    ASSERT_EQ(expected.size(), 41u);
    EXPECT_EQ(dump_lines(image), expected);
}

// Lines 5 on, for an image holding addresses: the addrfamily line, any
// address lines, then cksum3.
std::vector<std::string> network_lines(std::uint32_t flags)
{
    kvt::Image image{};
    image.netflags.set(flags);
    image.ipaddress = {{192, 168, 1, 20}};
    image.ipgateway = {{192, 168, 1, 1}};
    image.ipnetmask = {{255, 255, 0, 0}};
    const auto lines = dump_lines(image);
    const auto cksum3 = std::find(lines.begin(), lines.end(), "\tcksum3:0");
    return {lines.begin() + 4, cksum3 + (cksum3 == lines.end() ? 0 : 1)};
}

TEST(ImageDump, AddressLinesOnlyForStaticIpv4)
{
    EXPECT_EQ(network_lines(0),
              (std::vector<std::string>{"\taddrfamily: ipv4 discovery dhcp", "\tcksum3:0"}));
    EXPECT_EQ(network_lines(0x80000000),
              (std::vector<std::string>{"\taddrfamily: ipv4 discovery static",
                                        "\tip address: 192.168.1.20", "\tgateway: 192.168.1.1",
                                        "\tnetmask: 255.255.0.0", "\tcksum3:0"}));
    EXPECT_EQ(network_lines(0xC0000000),
              (std::vector<std::string>{"\taddrfamily: ipv6 discovery static", "\tcksum3:0"}));
}

} // namespace

// Reading the SP MAC address from the KVT-data file.
#include <utility>

#include <gtest/gtest.h>

#include "service/kvtd.hpp"
#include "tests/support/sim_root.hpp"

namespace {

using Mac = std::array<unsigned char, 6>;

// The file of a fresh SP is read by every capture, the golden one among
// them; this one takes one-digit and capital octets, 0xFF and trailing text.
TEST(ReadSpMac, StoresTheSecondAddress)
{
    kvttest::SimRoot root;
    ASSERT_EQ(kvtsim::write_kvt_data("0:14:4f:0:0:ff\n\t0:A:4f:1:2:Ff trailing text\n"), 0);
    Mac mac{};
    read_sp_mac(mac.data());
    EXPECT_EQ(mac, (Mac{0x00, 0x0a, 0x4f, 0x01, 0x02, 0xff}));
    EXPECT_EQ(root.service_log(), "");
}

// A signed octet reads as a value far above 0xFF. A missing file and ones
// without either address are proven end to end.
TEST(BadKvtData, LogsItsLineAndStops)
{
    ::setenv(kvtsim::kTimeScaleEnv, "0.01", 0);
    const std::pair<const char *, const char *> files[] = {
        {"00:14:4f:00:00:-1 00:14:4f:00:00:01\n", "base MAC address has bogus value\n"},
        {"00:14:4f:00:00:00 -1:14:4f:00:00:01\n", "sp MAC address has bogus value\n"}};
    for (const auto &[text, line] : files) {
        kvttest::SimRoot root;
        ASSERT_EQ(kvtsim::write_kvt_data(text), 0);
        Mac mac{};
        EXPECT_EXIT(read_sp_mac(mac.data()), testing::ExitedWithCode(255), "") << line;
        EXPECT_EQ(kvttest::log_count(line), 1);
        EXPECT_TRUE(kvttest::log_has("===== kvtd shutting down =====\n")) << line;
    }
}

} // namespace

// The full capture of a fresh simulated SP against a card image kept in the
// source tree. The same test runs on little- and big-endian builds, so a
// capture that depends on the host's byte order fails on one of them.
//
// tests/golden/default_capture.bin was made by this capture on x86 and read
// back with "kvtcard show"; a few fields are also checked by hand below. When
// the card layout or the simulated defaults change on purpose, the failing
// test leaves the new capture in its temporary directory to replace it with.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "platform/capi.h"
#include "platform/card_lib.h"
#include "service/kvtd.hpp"
#include "tests/support/sim_root.hpp"

namespace {

constexpr const char *kGolden = KVT_SOURCE_DIR "/tests/golden/default_capture.bin";

std::vector<unsigned char> read_file(const char *path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(GoldenCapture, FreshSpCapturesToTheCommittedImageByteForByte)
{
    kvttest::SimRoot root;
    kvtPlatform = capi_get_platform();
    std::memset(&kvt_image, 0, KVT_IMAGE_SIZE);
    get_current_config(&kvt_image);
    const auto *first = reinterpret_cast<const unsigned char *>(&kvt_image);
    const std::vector<unsigned char> captured(first, first + KVT_IMAGE_SIZE);

    // Big-endian fields, worked out from the simulated defaults.
    const std::pair<std::size_t, std::vector<unsigned char>> by_hand[] = {
        {0x000, {0x0B, 0x00, 0x14, 0x4f, 0x00, 0x00, 0x01}}, // version, SP MAC
        {0x18C, {0x80, 0x00, 0x00, 0x00}},                   // netflags: static, IPv4
        {0x190, {192, 168, 1, 10}},                          // ipaddress
        {0x57A, {0x00, 0x19}},                               // mailhost_port 25
        {0x6F8, {0x00, 0x00, 0x00, 0x01}},                   // role word 0, root: admin
        {0x6FC, {0x00, 0x00, 0x00, 0x21}},                   // role word 1, admin: admin,operator
    };
    for (const auto &[offset, bytes] : by_hand)
        EXPECT_EQ(std::vector(captured.begin() + offset, captured.begin() + offset + bytes.size()),
                  bytes)
            << "at 0x" << std::hex << offset;

    const std::vector<unsigned char> golden = read_file(kGolden);
    ASSERT_EQ(golden.size(), KVT_IMAGE_SIZE) << kGolden;
    if (captured == golden)
        return;
    const std::string actual = testing::TempDir() + "default_capture.bin";
    std::ofstream(actual, std::ios::binary)
        .write(reinterpret_cast<const char *>(captured.data()), KVT_IMAGE_SIZE);
    std::size_t at = 0;
    while (captured[at] == golden[at])
        ++at;
    ADD_FAILURE() << "capture differs from " << kGolden << " first at 0x" << std::hex << at
                  << "; this capture is in " << actual;
}

} // namespace

// The run hook entered after a halt was asked for during start-up: it still
// clears the markers an earlier run left, says so in its line, and returns
// without a check of the card.
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "service/kvtd.hpp"
#include "sim/control.hpp"
#include "tests/support/sim_root.hpp"

namespace {

TEST(RunHook, AHaltBeforeItClearsTheMarkersAndReturnsAtOnce)
{
    kvttest::SimRoot root;
    for (const char *marker : {"/dev/shm/kvt_different", "/dev/shm/kvt_removed"}) {
        const std::filesystem::path path = kvtsim::path_in_root(marker);
        std::filesystem::create_directories(path.parent_path());
        std::ofstream{path};
    }
    serverActive = false;
    EXPECT_EQ(trelmproc_run(), 0);
    EXPECT_TRUE(kvttest::log_has(" run, serverActive=0\n")) << root.service_log();
    EXPECT_EQ(kvtsim::fault_log(),
              (std::vector<std::string>{"clear 63 KVT_DIFFERENT", "clear 64 KVT_REMOVED"}));
    EXPECT_EQ(kvtsim::card_io().reads, 0u);
}

} // namespace

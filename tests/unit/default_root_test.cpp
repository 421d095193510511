// Where the simulated SP lives when nothing says: a root of the caller's
// own, never the shared temporary directory, where another user could have
// made it first.
#include <array>
#include <cstdlib>

#include <gtest/gtest.h>

#include "sim/control.hpp"

namespace {

// The environment is left as the last case set it: this program runs no
// other test.
TEST(DefaultRoot, IsPerUserAndNeverTheSharedTemporaryDirectory)
{
    const char *const names[] = {kvtsim::kRootEnv, "XDG_RUNTIME_DIR", "HOME"};
    // The three variables, then the root they give.
    const std::array<const char *, 4> cases[] = {
        {"/srv/sp", "/run/user/7", "/home/u", "/srv/sp"},
        {"", "/run/user/7", "/home/u", "/run/user/7/kvt-sp"},
        {"", "", "/home/u", "/home/u/.kvt-sp"},
    };
    for (const auto &c : cases) {
        for (std::size_t i = 0; i < 3; ++i)
            ::setenv(names[i], c.at(i), 1);
        EXPECT_EQ(kvtsim::configured_root(), c[3]) << c[3];
    }
}

} // namespace

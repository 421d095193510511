// Shared by the start-up, card-monitor and status tests.
#pragma once

#include <algorithm>
#include <csignal>
#include <cstddef>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>

#include "base/status.hpp"
#include "card/sections.hpp"
#include "sim/control.hpp"
#include "tests/support/daemon.hpp"
#include "tests/support/sim_root.hpp"

namespace kvttest {

// Every line of the file by its key; "fault" lines in order.
struct StatusFile {
    std::map<std::string, std::string> values;
    std::vector<std::string> faults;

    std::string operator[](const char *name) const
    {
        const auto found = values.find(name);
        return found == values.end() ? "(missing)" : found->second;
    }
};

inline std::string status_path()
{
    return kvtsim::path_in_root(kvt::status::kPath);
}

inline StatusFile read_status()
{
    StatusFile status;
    std::istringstream text(read_file(status_path()));
    for (std::string line; std::getline(text, line);) {
        const std::size_t colon = line.find(": ");
        if (line.substr(0, colon) == kvt::status::key::fault)
            status.faults.push_back(line.substr(colon + 2));
        else if (colon != std::string::npos)
            status.values[line.substr(0, colon)] = line.substr(colon + 2);
    }
    return status;
}

inline constexpr kvtsim::Mac kOtherSpMac{0x00, 0x14, 0x4f, 0xaa, 0xbb, 0xcc};

inline bool wait_for_log(std::string_view text, int times = 1)
{
    return wait_until([&] { return log_count(text) >= times; });
}

inline bool wait_for_fault_line(const std::string &line)
{
    return wait_until([&] {
        const auto log = kvtsim::fault_log();
        return std::find(log.begin(), log.end(), line) != log.end();
    });
}

// The run hook has begun: the signal handlers are in place, so SIGTERM is
// sent only after this line.
inline constexpr const char *kRunning = "run, serverActive=1\n";

inline bool ends_cleanly_on_sigterm(Daemon &daemon)
{
    return exit_code(daemon.stop(SIGTERM)) == 0;
}

// A card captured by this SP in a clean earlier run whose log is dropped.
inline void capture_a_card()
{
    {
        Daemon first;
        ASSERT_TRUE(wait_for_log(kRunning));
        ASSERT_TRUE(ends_cleanly_on_sigterm(first));
    }
    clear_log();
}

// What the card monitor demands of the card, and every section sound.
inline void expect_card_is_this_sps()
{
    const auto card = kvtsim::card_image();
    ASSERT_TRUE(card.has_value());
    const kvtsim::Mac mac = kvtsim::sp_mac();
    EXPECT_EQ((*card)[0], 0x0B);
    EXPECT_TRUE(std::equal(mac.begin(), mac.end(), card->begin() + 1));
    for (const kvt::SectionSpan &s : kvt::kSectionMap) {
        unsigned char sum = 0;
        calculate_xor_checksum(&(*card)[s.first], static_cast<int>(s.length), &sum);
        EXPECT_EQ(sum, (*card)[s.cksum]) << "section at " << s.first;
    }
}

// Changes one byte of the card's image and mends its section's checksum.
inline void patch_card(std::size_t at, unsigned char value)
{
    kvtsim::ImageBytes image = kvtsim::card_image().value();
    image.at(at) = value;
    for (const kvt::SectionSpan &s : kvt::kSectionMap)
        if (at >= s.first && at < s.first + s.length)
            calculate_xor_checksum(&image.at(s.first), static_cast<int>(s.length),
                                   &image.at(s.cksum));
    kvtsim::card_insert_image(image);
}

// Counts the daemon's reads of the KVT-data file: each check of a card with
// a sound header reads the SP MAC once. Opens are watched too so that two
// reads never merge into one queued close event.
class MacReads {
  public:
    MacReads() : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
    {
        const std::string path = kvtsim::path_in_root("/var/tmp/KVT-data");
        inotify_add_watch(fd_, path.c_str(), IN_OPEN | IN_CLOSE_NOWRITE);
    }
    ~MacReads() { close(fd_); }
    MacReads(const MacReads &) = delete;
    MacReads &operator=(const MacReads &) = delete;

    int count()
    {
        alignas(inotify_event) char buffer[4096];
        for (ssize_t n; (n = read(fd_, buffer, sizeof buffer)) > 0;) {
            for (ssize_t at = 0; at < n;) {
                inotify_event event{};
                std::memcpy(&event, &buffer[at], sizeof event);
                closes_ += (event.mask & IN_CLOSE_NOWRITE) ? 1 : 0;
                at += static_cast<ssize_t>(sizeof event + event.len);
            }
        }
        return closes_;
    }

    bool wait_for(int more)
    {
        const int target = count() + more;
        return wait_until([&] { return count() >= target; });
    }

  private:
    int fd_;
    int closes_ = 0;
};

} // namespace kvttest

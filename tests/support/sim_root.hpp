// A fresh simulated SP in a temporary root, and waiting without sleeps.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "card/image.hpp"
#include "sim/control.hpp"

namespace kvttest {

using namespace std::chrono_literals;

// Creates a new SP root under the temporary directory, selects it for this
// process (and the processes it starts) and removes it again.
class SimRoot {
  public:
    explicit SimRoot(const kvtsim::RootOptions &options = {});
    ~SimRoot();
    SimRoot(const SimRoot &) = delete;
    SimRoot &operator=(const SimRoot &) = delete;

    const std::string &dir() const { return dir_; }
    // Contents of a file given by its fixed path ("/var/log/kvtd.log"); empty
    // when it does not exist.
    std::string read(std::string_view fixed_path) const;
    bool exists(std::string_view fixed_path) const;
    std::string service_log() const { return read("/var/log/kvtd.log"); }

  private:
    std::string dir_;
};

// Contents of a file; empty when it does not exist.
std::string read_file(const std::string &path);

// Polls `done` until it holds or `limit` passes; true when it held.
bool wait_until(const std::function<bool()> &done, std::chrono::milliseconds limit = 30s);

// Number of times `what` occurs in `text`.
int count_in(std::string_view text, std::string_view what);

// Descriptors the process `pid` holds open; 0 is this process.
std::size_t open_descriptors(int pid = 0);

// The image on the card in the slot; the card must be there.
kvt::Image card_as_image();

// True when the service log of the current root contains `text`.
bool log_has(std::string_view text);
// Number of times `text` occurs in the service log.
int log_count(std::string_view text);
// The first of `lines` that `log` lacks after the ones before it: "" when
// all are there in order.
std::string missing_in_order(const std::string &log, const std::vector<std::string> &lines);
// Each log line's last message: the text after its last time stamp. The
// frame writes its option lines without a newline, so the first line of
// start-up shares their line.
std::vector<std::string> log_messages(const std::string &log);
// Drops the service log, so that the next step's lines stand alone.
void clear_log();

} // namespace kvttest

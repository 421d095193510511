// What kvtd-preview reads of the SP beside the restore's plans, through
// the platform as the daemon reads it: the facts start-up decides on and
// the current values a plan's settings are compared with. Nothing is
// changed and nothing is logged.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/luapi_session.hpp"
#include "card/image.hpp"
#include "service/startup_decision.hpp"

namespace kvtpreview {

// A configuration-object session opened without the daemon's fatal stop:
// `open` is false when the service could not be reached.
class ObjectSession {
  public:
    ObjectSession();
    ~ObjectSession();
    ObjectSession(const ObjectSession &) = delete;
    ObjectSession &operator=(const ObjectSession &) = delete;

    bool open() const { return open_; }
    luapi_session *get() { return &session_; }
    // The object's value, or nullopt when it cannot be read.
    std::optional<std::string> value(const std::string &path);

  private:
    luapi_session session_{};
    bool open_ = false;
};

struct Startup {
    kvt::StartupFacts facts;
    std::string sp_mac; // "00:14:4f:00:00:01", or why it could not be read
    bool sp_mac_read = false;
};

// Start-up's facts for `image`, whose verdict the caller has taken.
Startup startup_facts(const kvt::Image &image, bool card_valid, const std::string &reason);

// The CLI-mode file's lines as they are now (empty when it cannot be read).
std::vector<std::string> cli_mode_lines();

// The keyswitch position, or nullopt.
std::optional<unsigned> keyswitch();

} // namespace kvtpreview

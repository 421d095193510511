// The SP's fault log, <root>/sim/faultlog: one line per call, read back by
// the tests with fault_log().
#include <string>

#include "platform/logging.h"
#include "sim/control.hpp"
#include "sim/root/files.hpp"

namespace {

void record(const std::string &line)
{
    kvtsim::files::append_line(kvtsim::sim_path("faultlog"), line);
}

std::string numbered(const char *what, int number, const char *text)
{
    std::string line = std::string(what) + " " + std::to_string(number);
    if (text)
        line += std::string(" ") + text;
    return line;
}

} // namespace

extern "C" {

void log_event(int number, const char *text)
{
    record(numbered("event", number, text));
}

void log_fault_event(int number, const char *text)
{
    record(numbered("fault", number, text));
}

void log_allclear_event(int number, const char *text)
{
    record(numbered("clear", number, text));
}

int log_disable_powerons(void)
{
    record("disable_powerons");
    return 0;
}

} // extern "C"

namespace kvtsim {

std::vector<std::string> fault_log()
{
    return files::lines(sim_path("faultlog"));
}

void enable_powerons()
{
    record("enable_powerons");
}

bool powerons_disabled()
{
    bool disabled = false;
    for (const std::string &line : fault_log()) {
        if (line == "disable_powerons" || line == "enable_powerons")
            disabled = line == "disable_powerons";
    }
    return disabled;
}

} // namespace kvtsim

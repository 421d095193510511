// The IPMI library's internal session: available while IPMI is up, which
// the simulated SP records as the file <root>/sim/ipmi_up. Like a real
// stack it holds only a few sessions at once, counted in
// <root>/sim/ipmi_sessions: one a caller never closes stays taken until
// IPMI goes down or comes up again.
#include <charconv>
#include <string>

#include <unistd.h>

#include "platform/ipmi.h"
#include "sim/control.hpp"
#include "sim/root/files.hpp"
#include "sim/root/locked_text.hpp"

namespace {

constexpr int kSessionLimit = 4;
// Put in a session's storage while it is open, so that closing one that
// was never opened (or twice) is refused.
constexpr unsigned char kOpenMark = 0x5a;

std::string sessions_path()
{
    return kvtsim::sim_path("ipmi_sessions");
}

int count_in(const std::string &text)
{
    int open = 0;
    std::from_chars(text.data(), text.data() + text.size(), open);
    return open;
}

// Adds `step` to the count unless that leaves 0..kSessionLimit.
bool change_count(int step)
{
    bool changed = false;
    const bool stored = kvtsim::edit_locked(sessions_path(), [&](std::string &text) {
        const int open = count_in(text) + step;
        changed = open >= 0 && open <= kSessionLimit;
        if (changed)
            text = std::to_string(open);
        return changed;
    });
    return changed && stored;
}

} // namespace

namespace kvtsim {

void set_ipmi_up(bool up)
{
    const std::string path = sim_path("ipmi_up");
    write_locked(sessions_path(), "");
    if (up)
        files::replace(path, std::string());
    else
        ::unlink(path.c_str());
}

int ipmi_sessions_open()
{
    return count_in(read_locked(sessions_path()));
}

} // namespace kvtsim

extern "C" {

int LIBIPMI_Create_Internal_Session(IPMI20_SESSION_T *session, uint8_t * /*privilege*/,
                                    int /*timeout*/)
{
    if (!kvtsim::files::exists(kvtsim::sim_path("ipmi_up")) || !change_count(1))
        return -1;
    session->opaque[0] = kOpenMark;
    return 0;
}

int LIBIPMI_CloseSession(IPMI20_SESSION_T *session)
{
    if (session->opaque[0] != kOpenMark || !change_count(-1))
        return -1;
    session->opaque[0] = 0;
    return 0;
}

} // extern "C"

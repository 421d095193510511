#include "service/status.hpp"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/util.h"
#include "service/files.hpp"
#include "service/kvtd.hpp"

namespace kvt::status {

namespace {

constexpr const char *kRunDirectory = "/run";
constexpr const char *kStatusDirectory = "/run/kvtd";

struct Fault {
    int event;
    std::string name;
    std::time_t raised;
};

struct Status {
    bool daemon_began = false;
    const char *state = "starting";
    std::time_t state_since = 0;
    std::string decision = kNone;
    std::string reason = kNone;
    std::time_t decided = 0;
    bool checked = false;
    int check = 0;
    std::time_t check_since = 0;
    int failures = 0;
    const char *link = "not connected";
    std::time_t link_since = 0;
    std::vector<Fault> faults;
    std::string write = kNone;
    std::string write_result = kNone;
    std::time_t written = 0;
};

// The card monitor, the delivery thread's writers and a fatal stop on any
// thread all report here. Never destroyed: a fatal stop may still report
// while another thread runs the exit handlers.
std::mutex &status_lock()
{
    static auto *lock = new std::mutex;
    return *lock;
}

Status &current()
{
    static auto *status = new Status;
    return *status;
}

// What the file holds, to tell a changed result from a repeated one.
std::string &published()
{
    static auto *text = new std::string;
    return *text;
}

std::string time_text(std::time_t when)
{
    if (when == 0)
        return kNone;
    std::tm local{};
    char text[32];
    if (localtime_r(&when, &local) == nullptr ||
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local) == 0)
        return kNone;
    return text;
}

const char *check_meaning(int result)
{
    switch (result) {
    case 0:
        return "passed";
    case -1:
        return "I2C read failed";
    case -2:
        return "header version is not 0x0B";
    case -3:
        return "header checksum wrong";
    case -4:
        return "card of another SP";
    default:
        return "unknown";
    }
}

void add_line(std::string &text, const char *key, const std::string &value)
{
    text.append(key).append(": ").append(value).append("\n");
}

std::string render(const Status &s)
{
    std::string text;
    add_line(text, key::pid, std::to_string(getpid()));
    add_line(text, key::state, s.state);
    add_line(text, key::state_since, time_text(s.state_since));
    add_line(text, key::decision, s.decision);
    add_line(text, key::reason, s.reason);
    add_line(text, key::decided, time_text(s.decided));
    add_line(text, key::check, s.checked ? std::to_string(s.check) : kNone);
    add_line(text, key::check_meaning, s.checked ? check_meaning(s.check) : kNone);
    add_line(text, key::check_since, time_text(s.check_since));
    add_line(text, key::failures, std::to_string(s.failures));
    add_line(text, key::link, s.link);
    add_line(text, key::link_since, time_text(s.link_since));
    add_line(text, key::faults, std::to_string(s.faults.size()));
    for (const Fault &f : s.faults)
        add_line(text, key::fault,
                 std::to_string(f.event) + " " + f.name + kRaisedAt + time_text(f.raised));
    add_line(text, key::write, s.write);
    add_line(text, key::write_time, time_text(s.written));
    add_line(text, key::write_result, s.write_result);
    return text;
}

std::string resolved(const char *fixed_path)
{
    char path[PATH_MAX];
    return sp_resolve_path(fixed_path, path, sizeof path);
}

bool replace_file_once(const std::string &text)
{
    FileReplacement file(kPath, 0644);
    return file.opened() && file.commit(text).failed == ReplaceStep::none;
}

// /run exists on the SP; the status directory is made on first use.
void make_directories()
{
    mkdir(resolved(kRunDirectory).c_str(), 0755);
    mkdir(resolved(kStatusDirectory).c_str(), 0755);
}

// A reader sees the old file or the new one, never a part of either. The
// status is an aid: a file that cannot be written is skipped silently, so
// that it never adds a line to the service log's fixed sequences.
bool replace_file(const std::string &text)
{
    if (replace_file_once(text))
        return true;
    make_directories(); // the first time
    return replace_file_once(text);
}

void publish(const Status &s)
{
    if (!s.daemon_began)
        return;
    std::string text = render(s);
    if (text == published())
        return;
    if (replace_file(text))
        published() = std::move(text);
}

// Runs `change` on the status under the lock and publishes the result.
// errno is kept for the caller, which may still report it.
template <typename Change> void update(Change change)
{
    const int saved_errno = errno;
    {
        const std::lock_guard lock(status_lock());
        Status &s = current();
        change(s);
        publish(s);
    }
    errno = saved_errno;
}

void set_state(Status &s, const char *state)
{
    if (std::strcmp(s.state, state) == 0 && s.state_since != 0)
        return;
    s.state = state;
    s.state_since = std::time(nullptr);
}

std::string write_result_text(int result, int error)
{
    if (result >= 0)
        return "ok";
    return std::string("failed: ") + std::strerror(error);
}

void set_write(Status &s, std::string what, int result, int error)
{
    s.write = std::move(what);
    s.write_result = write_result_text(result, error);
    s.written = std::time(nullptr);
}

} // namespace

void record_decision(const char *decision, const char *reason)
{
    update([&](Status &s) {
        s.daemon_began = true;
        set_state(s, "starting");
        s.decision = decision;
        s.reason = reason;
        s.decided = std::time(nullptr);
    });
}

void record_running()
{
    update([](Status &s) {
        s.daemon_began = true;
        set_state(s, "running");
    });
}

void record_fatal_stop(int write_result)
{
    const int error = errno;
    update([&](Status &s) {
        s.daemon_began = true;
        set_state(s, "fatal stop");
        set_write(s, "whole image", write_result, error);
    });
}

void record_forked()
{
    update([](Status &) {});
}

// A fatal stop clears the run flag, so the card monitor may return and
// report a stop before the fatal stop's kill: the fatal stop stands.
void record_stopped()
{
    update([](Status &s) {
        if (std::strcmp(s.state, "fatal stop") != 0)
            set_state(s, "stopped");
    });
}

void record_card_check(int result)
{
    update([&](Status &s) {
        if (!s.checked || s.check != result) {
            s.checked = true;
            s.check = result;
            s.check_since = std::time(nullptr);
        }
        s.failures = result == 0 ? 0 : s.failures + 1;
        if (!serverActive && std::strcmp(s.state, "running") == 0)
            set_state(s, "halting");
    });
}

void record_fault_raised(int event, const char *name)
{
    update([&](Status &s) {
        for (const Fault &f : s.faults)
            if (f.event == event)
                return;
        s.faults.push_back({event, name, std::time(nullptr)});
    });
}

void record_link(bool connected, bool audit_subscribed)
{
    const char *link = !connected         ? "disconnected"
                       : audit_subscribed ? "connected"
                                          : "connected, audit events refused";
    update([&](Status &s) {
        if (std::strcmp(s.link, link) == 0)
            return;
        s.link = link;
        s.link_since = std::time(nullptr);
    });
}

void record_fault_cleared(int event)
{
    update([&](Status &s) {
        std::erase_if(s.faults, [event](const Fault &f) { return f.event == event; });
    });
}

void record_section_write(Section section, int result)
{
    const int error = errno;
    update([&](Status &s) {
        set_write(s,
                  "section " + std::to_string(static_cast<unsigned>(section)) + " (" +
                      section_name(section) + ")",
                  result, error);
    });
}

void record_whole_image_write(int result)
{
    const int error = errno;
    update([&](Status &s) { set_write(s, "whole image", result, error); });
}

} // namespace kvt::status

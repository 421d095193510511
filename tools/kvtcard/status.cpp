// kvtcard status: what the running kvtd last found, read from the status
// file it keeps, and whether the process that wrote it still runs.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "service/status.hpp"
#include "tools/kvtcard/commands.hpp"
#include "tools/kvtcard/live_daemon.hpp"
#include "tools/kvtcard/simulator.hpp"

namespace kvtcard {

namespace {

namespace key = kvt::status::key;

constexpr int kExitRunning = 0;
constexpr int kExitEnded = 1;
constexpr int kExitError = 2;

struct StatusFile {
    std::map<std::string, std::string, std::less<>> values;
    std::vector<std::string> faults;
};

bool read_status(const std::string &path, StatusFile &status)
{
    std::ifstream in(path);
    if (!in)
        return false;
    for (std::string line; std::getline(in, line);) {
        const auto colon = line.find(": ");
        if (colon == std::string::npos)
            continue;
        std::string name = line.substr(0, colon);
        std::string value = line.substr(colon + 2);
        if (name == key::fault)
            status.faults.push_back(std::move(value));
        else
            status.values.emplace(std::move(name), std::move(value));
    }
    return true;
}

std::string value_of(const StatusFile &status, const char *name)
{
    const auto found = status.values.find(name);
    return found == status.values.end() ? kvt::status::kNone : found->second;
}

// A number stays a number in JSON; "none" (or anything else) stays text.
Node number_or_text(const std::string &value)
{
    char *end = nullptr;
    errno = 0;
    const long long number = std::strtoll(value.c_str(), &end, 10);
    if (value.empty() || *end != '\0' || errno != 0)
        return Node::text(value);
    return Node::number(number);
}

// "64 KVT_REMOVED, raised 2026-01-05 10:00:53"
Node fault_entry(const std::string &line)
{
    char *end = nullptr;
    const long event = std::strtol(line.c_str(), &end, 10);
    std::string rest = end && *end == ' ' ? end + 1 : "";
    std::string raised = kvt::status::kNone;
    if (const auto at = rest.find(kvt::status::kRaisedAt); at != std::string::npos) {
        raised = rest.substr(at + std::char_traits<char>::length(kvt::status::kRaisedAt));
        rest.resize(at);
    }
    return Node::object()
        .set("event", Node::number(event))
        .set("name", Node::text(rest))
        .set("raised", Node::text(raised));
}

Node document(const std::string &path, const StatusFile &s, bool running)
{
    const auto text = [&](const char *name) { return Node::text(value_of(s, name)); };
    Node faults = Node::array();
    for (const std::string &line : s.faults)
        faults.push(fault_entry(line));
    return Node::object()
        .set("source", Node::text(path))
        .set("running", Node::boolean(running))
        .set("pid", number_or_text(value_of(s, key::pid)))
        .set("state", text(key::state))
        .set("state_since", text(key::state_since))
        .set("startup", Node::object()
                            .set("decision", text(key::decision))
                            .set("reason", text(key::reason))
                            .set("time", text(key::decided)))
        .set("card_check",
             Node::object()
                 .set("result", number_or_text(value_of(s, key::check)))
                 .set("meaning", text(key::check_meaning))
                 .set("since", text(key::check_since))
                 .set("consecutive_failures", number_or_text(value_of(s, key::failures))))
        .set("event_manager",
             Node::object().set("link", text(key::link)).set("since", text(key::link_since)))
        .set("faults", std::move(faults))
        .set("last_write", Node::object()
                               .set("what", text(key::write))
                               .set("time", text(key::write_time))
                               .set("result", text(key::write_result)));
}

// The states in which the writer's last word is its end: anything else
// read from a writer that no longer runs was cut off (kill -9, a crash).
bool ended_in_order(const StatusFile &s)
{
    const std::string state = value_of(s, key::state);
    return state == "stopped" || state == "fatal stop";
}

// Plain text marks each value of a writer that died mid-run, so that no
// line reads as the present state.
Node marked_stale(const Node &node)
{
    if (node.is_scalar())
        return Node::text(node.plain() + " (stale)");
    if (node.children().empty()) // plain text's "(none)"
        return Node::text("(none) (stale)");
    Node out = node.kind() == Node::Kind::array ? Node::array() : Node::object();
    for (const auto &[name, child] : node.children()) {
        if (node.kind() == Node::Kind::array)
            out.push(marked_stale(child));
        else
            out.set(name, marked_stale(child));
    }
    return out;
}

Node text_document(const Node &document)
{
    Node out = Node::object();
    bool past_pid = false;
    for (const auto &[name, child] : document.children()) {
        out.set(name, past_pid && name != "stale" ? marked_stale(child) : child);
        past_pid = past_pid || name == "pid";
    }
    return out;
}

// The status file: one named on the command line; the simulated SP's, as
// kvtsim names it (--sim); under $KVT_SP_ROOT, where a simulated SP keeps
// the daemon's fixed paths; else the SP's own.
bool status_path(const std::string &argument, std::string &path, std::string &error)
{
    if (argument == kSimCard)
        return simulated_path(kvt::status::kPath, path, error);
    if (!argument.empty()) {
        path = argument;
        return true;
    }
    path = sp_status_path();
    return true;
}

} // namespace

int status_command(bool json, const std::vector<std::string> &arguments)
{
    if (arguments.size() > 1) {
        std::fprintf(stderr, "kvtcard: status takes at most one file\n");
        return kExitError;
    }
    std::string path;
    std::string error;
    if (!status_path(arguments.empty() ? std::string() : arguments.front(), path, error)) {
        std::fprintf(stderr, "kvtcard: %s\n", error.c_str());
        return kExitError;
    }
    StatusFile status;
    if (!read_status(path, status)) {
        const bool named = !arguments.empty() && arguments.front() != kSimCard;
        std::fprintf(stderr, "kvtcard: no kvtd status at %s: %s%s\n", path.c_str(),
                     std::strerror(errno), named ? "" : " (kvtd has not run since boot)");
        return kExitError;
    }
    const bool running = process_runs(value_of(status, key::pid));
    const bool stale = !running && !ended_in_order(status);
    Node out = document(path, status, running);
    out.set("stale", Node::boolean(stale));
    if (!json && stale)
        out = text_document(out);
    std::fputs((json ? to_json(out) : to_text(out)).c_str(), stdout);
    return running ? kExitRunning : kExitEnded;
}

} // namespace kvtcard

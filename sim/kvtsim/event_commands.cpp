// kvtsim commands for the event manager, the PCM, IPMI commands that
// change users (and the audit records they post), and raw audit records.
#include <climits>
#include <optional>
#include <string>

#include "platform/event_mgr.h"
#include "platform/ipmi.h"
#include "sim/control.hpp"
#include "sim/em/audit.hpp"
#include "sim/kvtsim/args.hpp"
#include "sim/kvtsim/commands.hpp"

namespace kvtsim::cli {

namespace {

constexpr std::uint8_t kNetfnApp = 0x06;
constexpr std::uint8_t kNetfnTransport = 0x0C;
constexpr const char *kIpmiOperator = "root";
// IPMI numbers its users with six bits.
constexpr long kFirstIpmiUserId = 1;
constexpr long kLastIpmiUserId = 63;

constexpr const char *kEmUsage =
    "start|stop  run the event manager and PCM of this root, or stop them";

int em(const Args &args)
{
    if (args.size() == 1 && args[0] == "start")
        return status(em_start(), "em start");
    if (args.size() == 1 && args[0] == "stop")
        return status(em_stop(), "em stop");
    return kUsage;
}

constexpr const char *kPcmUsage = "state N | shutdown | reset | heartbeat [N]  send a PCM message";

int pcm(const Args &args)
{
    if (args.size() == 2 && args[0] == "state") {
        const auto state = parse_long(args[1]);
        if (!state)
            return kUsage;
        if (*state < INT_MIN || *state > INT_MAX)
            return refuse("state " + args[1] + " does not fit a system state number");
        return status(pcm_state(static_cast<int>(*state)), "pcm state");
    }
    if (args.size() == 1 && args[0] == "shutdown")
        return status(pcm_shutdown(), "pcm shutdown");
    if (args.size() == 1 && args[0] == "reset")
        return status(pcm_reset(), "pcm reset");
    if (!args.empty() && args.size() <= 2 && args[0] == "heartbeat")
        return status(pcm_heartbeat(args.size() == 2 ? args[1] : std::string()), "pcm heartbeat");
    return kUsage;
}

// The local user behind an IPMI user id.
std::optional<User> user_of_ipmi_id(long ipmi_id)
{
    const unsigned uid = ipmi_uid_to_linux_uid(static_cast<std::uint8_t>(ipmi_id));
    for (const User &user : users())
        if (user.uid == uid)
            return user;
    return std::nullopt;
}

// Set User Name: renames the user behind the id, or creates one there.
int set_user_name(long ipmi_id, const std::string &name)
{
    std::optional<User> user = user_of_ipmi_id(ipmi_id);
    if (!user)
        return user_add(
            User{name, ipmi_uid_to_linux_uid(static_cast<std::uint8_t>(ipmi_id)), "", "", false});
    if (user_delete(user->name) != 0)
        return -1;
    user->name = name;
    return user_add(*user);
}

int change_user(const std::string &what, long ipmi_id, const std::string &value)
{
    if (what == "user-name")
        return set_user_name(ipmi_id, value);
    const std::optional<User> user = user_of_ipmi_id(ipmi_id);
    if (!user)
        return -1;
    if (what == "user-password")
        return user_set_password(user->name, value);
    return user_set_roles(user->name, value);
}

struct IpmiCommand {
    const char *word;
    std::uint8_t netfn;
    std::uint8_t command;
    bool changes_user; // takes ID VALUE
};

constexpr IpmiCommand kIpmiCommands[] = {
    {"user-name", kNetfnApp, 0x45, true},   {"user-password", kNetfnApp, 0x47, true},
    {"user-access", kNetfnApp, 0x43, true}, {"channel-access", kNetfnApp, 0x40, false},
    {"lan", kNetfnTransport, 0x01, false},  {"serial", kNetfnTransport, 0x10, false},
    {"sol", kNetfnTransport, 0x21, false},
};

constexpr const char *kIpmiUsage = "user-name ID NAME | user-password ID PASSWORD | user-access ID "
                                   "ROLES | channel-access | lan | serial | sol"
                                   "  run an IPMI command (users change) and post its audit record";

int ipmi_cmd(const Args &args)
{
    if (args.empty())
        return kUsage;
    for (const IpmiCommand &c : kIpmiCommands) {
        if (args[0] != c.word)
            continue;
        if (c.changes_user) {
            const auto id = args.size() == 3 ? parse_long(args[1]) : std::nullopt;
            if (!id)
                return kUsage;
            if (*id < kFirstIpmiUserId || *id > kLastIpmiUserId)
                return refuse("IPMI user id " + args[1] + " is not from " +
                              std::to_string(kFirstIpmiUserId) + " to " +
                              std::to_string(kLastIpmiUserId));
            if (status(change_user(c.word, *id, args[2]), c.word) != 0)
                return 1;
        } else if (args.size() != 1) {
            return kUsage;
        }
        audit_post_ipmi(c.netfn, c.command, kIpmiOperator, 0);
        return 0;
    }
    return kUsage;
}

std::optional<std::string> from_hex(const std::string &hex)
{
    if (hex.size() % 2 != 0)
        return std::nullopt;
    std::string bytes;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const auto byte = parse_long("0x" + hex.substr(i, 2));
        if (!byte || hex[i] == '-' || hex[i] == '+')
            return std::nullopt;
        bytes.push_back(static_cast<char>(*byte));
    }
    return bytes;
}

constexpr const char *kAuditUsage = "raw TYPE HEX  post a hand-made class-106 record";

int audit(const Args &args)
{
    if (args.size() != 3 || args[0] != "raw")
        return kUsage;
    const auto type = parse_long(args[1]);
    const auto bytes = from_hex(args[2]);
    if (!type || !bytes)
        return kUsage;
    if (*type < INT_MIN || *type > INT_MAX)
        return refuse("audit type " + args[1] + " does not fit an event type");
    return status(event_mgr_post_event(kAuditClass, static_cast<int>(*type), bytes->data(),
                                       static_cast<unsigned>(bytes->size())),
                  "audit raw");
}

constexpr Command kCommands[] = {
    {"em", kEmUsage, em},
    {"pcm", kPcmUsage, pcm},
    {"ipmi-cmd", kIpmiUsage, ipmi_cmd},
    {"audit", kAuditUsage, audit},
};

} // namespace

std::span<const Command> event_commands()
{
    return kCommands;
}

} // namespace kvtsim::cli

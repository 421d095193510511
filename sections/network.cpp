#include "sections/network.hpp"
#include "base/section_write.hpp"

#include <arpa/inet.h>

#include <cstring>

#include "base/fatal_stop.hpp"
#include "base/log.hpp"
#include "card/sections.hpp"
#include "platform/luapi.h"
#include "sections/restore_plan.hpp"

namespace {

// The configuration-object service refuses a commit with this number when
// it has nothing new to apply; the pending settings are in place all the same.
constexpr int kCommitNothingPending = 113;

// The full capture reads the network objects into buffers of this size.
constexpr std::size_t kCaptureValueSize = 32;

struct AddressObject {
    const char *path;
    const char *read_failed;
    const char *convert_failed;
};

constexpr AddressObject kAddress{"/X/network/ipaddress", "could not get IP address from system\n",
                                 "error converting ip address\n"};
constexpr AddressObject kNetmask{"/X/network/ipnetmask", "could not get IP netmask from system\n",
                                 "error converting netmask\n"};
constexpr AddressObject kGateway{"/X/network/ipgateway", "could not get IP gateway from system\n",
                                 "error converting gateway address\n"};

[[noreturn]] void fail(luapi_session *session, const char *message)
{
    close_luapi_session(session);
    log_error_line(message);
    kvtd_fatal_stop();
}

void read_address(luapi_session *session, const AddressObject &object, char *out,
                  std::size_t out_len)
{
    if (get_obj_val(session, object.path, out, out_len) != 0)
        fail(session, object.read_failed);
}

// Dotted-decimal text into bytes 0..3 of the field; bytes 4..15 are left as
// they are (zero in every image that reaches here).
void encode_address(luapi_session *session, const AddressObject &object, const char *text,
                    kvt::NetAddress *field)
{
    unsigned char octets[4];
    if (inet_pton(AF_INET, text, octets) != 1)
        fail(session, object.convert_failed);
    std::memcpy(field->bytes, octets, sizeof octets);
}

// Reads the three static settings and stores them in address, gateway,
// netmask order. Returns with the texts in the caller's buffers.
template <std::size_t N>
void capture_static_addresses(luapi_session *session, kvt_image_t *image, char (&address)[N],
                              char (&netmask)[N], char (&gateway)[N])
{
    read_address(session, kAddress, address, N);
    read_address(session, kNetmask, netmask, N);
    read_address(session, kGateway, gateway, N);
    encode_address(session, kAddress, address, &image->ipaddress);
    encode_address(session, kGateway, gateway, &image->ipgateway);
    encode_address(session, kNetmask, netmask, &image->ipnetmask);
}

void set_netflag(kvt_image_t *image, std::uint32_t bit, bool on)
{
    const std::uint32_t flags = image->netflags.get();
    image->netflags.set(on ? (flags | bit) : (flags & ~bit));
}

using Plan = kvt::NetworkRestorePlan;

Plan::Address address_step(const kvt::NetAddress &field, const char *label,
                           const char *pending_path, const char *convert_failed,
                           const char *set_failed)
{
    char text[INET_ADDRSTRLEN] = {};
    const bool converted = inet_ntop(AF_INET, field.bytes, text, sizeof text) != nullptr;
    return {label, pending_path, convert_failed, set_failed, converted ? text : ""};
}

void set_or_fail(luapi_session *session, const char *path, const char *value,
                 const char *set_failed)
{
    if (set_obj_val(session, path, value) != 0)
        fail(session, set_failed);
}

// The static settings are set even when the SP already has them.
void apply_static(luapi_session *session, const Plan &plan)
{
    log_progress("restoring static IPV4\n");
    set_or_fail(session, "/X/network/pendingipdiscovery", "static",
                "error setting pendingipdiscovery\n");
    for (const Plan::Address &address : plan.addresses) {
        if (address.text.empty())
            fail(session, address.convert_failed);
        log_progress("%s: %s\n", address.label, address.text.c_str());
        set_or_fail(session, address.pending_path, address.text.c_str(), address.set_failed);
    }
}

void commit_pending(luapi_session *session)
{
    if (set_obj_val(session, "/X/network/commitpending", "true") != 0 &&
        luapi_errno != kCommitNothingPending)
        fail(session, "error setting commitpending\n");
}

kvt::PlanStep set_step(std::string target, std::string value)
{
    return {kvt::PlanAction::set, std::move(target), std::move(value), {}};
}

} // namespace

void get_current_network(luapi_session *session, kvt_image_t *image)
{
    char discovery[kCaptureValueSize];
    const int ret = get_obj_val(session, "/X/network/ipdiscovery", discovery, sizeof discovery);
    if (ret != 0) {
        close_luapi_session(session);
        log_error("Get /X/network/ipdiscovery FAILED, shutting down ret=%d\n", ret);
        kvtd_fatal_stop();
    }
    log_progress("net parms:\n");
    log_progress("\tdiscovery: <%s>\n", discovery);
    set_netflag(image, kvt::KVT_NET_IPV6, false);

    // Anything but "static" counts as DHCP here; only the live update is strict.
    const bool is_static = std::strcmp(discovery, "static") == 0;
    set_netflag(image, kvt::KVT_NET_STATIC, is_static);
    if (is_static) {
        char address[kCaptureValueSize];
        char netmask[kCaptureValueSize];
        char gateway[kCaptureValueSize];
        capture_static_addresses(session, image, address, netmask, gateway);
        log_progress("\tip addr: %s\n", address);
        log_progress("\tnetmask: %s\n", netmask);
        log_progress("\tgateway: %s\n", gateway);
    }
    log_progress("\tcoded discovery: %d\n", is_static ? 1 : 0);
}

void kvtd_update_ipsettings()
{
    const kvt::SectionSpan &section = kvt::span_of(kvt::Section::network);
    std::memset(&kvt::image_bytes(kvt_image)[section.first], 0, section.length);

    luapi_session session;
    init_luapi_session(&session);
    char discovery[kObjValueSize];
    if (get_obj_val(&session, "/X/network/ipdiscovery", discovery, sizeof discovery) != 0)
        fail(&session, "could not get DHCP setting from system\n");
    if (std::strcmp(discovery, "dhcp") != 0) {
        if (std::strcmp(discovery, "static") != 0)
            fail(&session, "not DHCP or STATIC ?!?!\n");
        set_netflag(&kvt_image, kvt::KVT_NET_STATIC, true);
        char address[kObjValueSize];
        char netmask[kObjValueSize];
        char gateway[kObjValueSize];
        capture_static_addresses(&session, &kvt_image, address, netmask, gateway);
    }
    close_luapi_session(&session);

    if (kvt::commit_section(kvt::Section::network) < 0) {
        log_error("write to KVT after putting in net info failed\n");
        kvtd_fatal_stop();
    }
}

namespace kvt {

NetworkRestorePlan plan_network_restore(luapi_session *session, const Image &image)
{
    NetworkRestorePlan plan;
    const std::uint32_t flags = image.netflags.get();
    if ((flags & KVT_NET_STATIC) == 0) {
        char discovery[kObjValueSize];
        if (get_obj_val(session, "/X/network/ipdiscovery", discovery, sizeof discovery) != 0)
            plan.kind = Plan::Kind::unreadable;
        else
            plan.kind =
                std::strcmp(discovery, "dhcp") == 0 ? Plan::Kind::keep_dhcp : Plan::Kind::dhcp;
        return plan;
    }
    if ((flags & KVT_NET_IPV6) != 0) {
        plan.kind = Plan::Kind::ipv6;
        return plan;
    }
    plan.kind = Plan::Kind::static_ipv4;
    plan.addresses = {
        address_step(image.ipaddress, "ip address", "/X/network/pendingipaddress",
                     kAddress.convert_failed, "error setting pendingipaddress\n"),
        address_step(image.ipgateway, "gateway", "/X/network/pendingipgateway",
                     kGateway.convert_failed, "error setting pendingipgateway\n"),
        address_step(image.ipnetmask, "netmask", "/X/network/pendingipnetmask",
                     kNetmask.convert_failed, "error setting pendingnetmask\n"),
    };
    return plan;
}

void apply_network_restore(luapi_session *session, const NetworkRestorePlan &plan)
{
    switch (plan.kind) {
    case Plan::Kind::keep_dhcp:
        return;
    case Plan::Kind::unreadable:
        fail(session, "get_obj_val FAILED, shutting down\n");
    case Plan::Kind::ipv6:
        fail(session, "IPv6 not supported yet!\n");
    case Plan::Kind::dhcp:
        log_progress("restoring dhcp\n");
        set_or_fail(session, "/X/network/pendingipdiscovery", "dhcp",
                    "error setting pendingipdiscovery\n");
        break;
    case Plan::Kind::static_ipv4:
        apply_static(session, plan);
        break;
    }
    commit_pending(session);
}

SectionPlan describe(const NetworkRestorePlan &plan)
{
    SectionPlan section{"network", false, {}};
    std::vector<PlanStep> &steps = section.steps;
    switch (plan.kind) {
    case Plan::Kind::keep_dhcp:
        steps.push_back({PlanAction::keep, "/X/network/ipdiscovery", "dhcp",
                         "the SP already uses DHCP: nothing is set or committed"});
        return section;
    case Plan::Kind::unreadable:
        steps.push_back({PlanAction::stop,
                         "/X/network/ipdiscovery",
                         {},
                         "the SP's discovery mode cannot be read: the restore stops"});
        return section;
    case Plan::Kind::ipv6:
        steps.push_back({PlanAction::stop, "/X/network/ipdiscovery", "static",
                         "IPv6 on the card: the restore stops"});
        return section;
    case Plan::Kind::dhcp:
        steps.push_back(set_step("/X/network/pendingipdiscovery", "dhcp"));
        break;
    case Plan::Kind::static_ipv4:
        steps.push_back(set_step("/X/network/pendingipdiscovery", "static"));
        for (const Plan::Address &address : plan.addresses)
            steps.push_back(set_step(address.pending_path, address.text));
        break;
    }
    steps.push_back(set_step("/X/network/commitpending", "true"));
    return section;
}

} // namespace kvt

void restore_network()
{
    luapi_session session;
    init_luapi_session(&session);
    kvt::apply_network_restore(&session, kvt::plan_network_restore(&session, kvt_image));
    close_luapi_session(&session);
    kvt::update_checksum(kvt_image, kvt::Section::network);
    log_progress("done restoring network settings\n");
}

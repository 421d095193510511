#include "sections/network.hpp"
#include "base/section_write.hpp"

#include <arpa/inet.h>

#include <cstring>

#include "base/fatal_stop.hpp"
#include "base/log.hpp"
#include "card/sections.hpp"
#include "platform/luapi.h"

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

// Sets one pending object to the dotted form of an address field.
void restore_address(luapi_session *session, const kvt::NetAddress &field,
                     const char *convert_failed, const char *label, const char *pending_path,
                     const char *set_failed)
{
    char text[INET_ADDRSTRLEN];
    if (inet_ntop(AF_INET, field.bytes, text, sizeof text) == nullptr)
        fail(session, convert_failed);
    log_progress("%s: %s\n", label, text);
    if (set_obj_val(session, pending_path, text) != 0)
        fail(session, set_failed);
}

void restore_static(luapi_session *session)
{
    if (kvt_image.netflags.get() & kvt::KVT_NET_IPV6)
        fail(session, "IPv6 not supported yet!\n");
    log_progress("restoring static IPV4\n");
    if (set_obj_val(session, "/X/network/pendingipdiscovery", "static") != 0)
        fail(session, "error setting pendingipdiscovery\n");
    restore_address(session, kvt_image.ipaddress, kAddress.convert_failed, "ip address",
                    "/X/network/pendingipaddress", "error setting pendingipaddress\n");
    restore_address(session, kvt_image.ipgateway, kGateway.convert_failed, "gateway",
                    "/X/network/pendingipgateway", "error setting pendingipgateway\n");
    restore_address(session, kvt_image.ipnetmask, kNetmask.convert_failed, "netmask",
                    "/X/network/pendingipnetmask", "error setting pendingnetmask\n");
}

// Returns false when the SP already uses DHCP and nothing is to be committed.
bool restore_dhcp(luapi_session *session)
{
    char discovery[kObjValueSize];
    if (get_obj_val(session, "/X/network/ipdiscovery", discovery, sizeof discovery) != 0)
        fail(session, "get_obj_val FAILED, shutting down\n");
    if (std::strcmp(discovery, "dhcp") == 0)
        return false;
    log_progress("restoring dhcp\n");
    if (set_obj_val(session, "/X/network/pendingipdiscovery", "dhcp") != 0)
        fail(session, "error setting pendingipdiscovery\n");
    return true;
}

void commit_pending(luapi_session *session)
{
    if (set_obj_val(session, "/X/network/commitpending", "true") != 0 &&
        luapi_errno != kCommitNothingPending)
        fail(session, "error setting commitpending\n");
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

void restore_network()
{
    luapi_session session;
    init_luapi_session(&session);
    // The static settings are set even when the SP already has them.
    bool commit = true;
    if (kvt_image.netflags.get() & kvt::KVT_NET_STATIC)
        restore_static(&session);
    else
        commit = restore_dhcp(&session);
    if (commit)
        commit_pending(&session);
    close_luapi_session(&session);
    kvt::update_checksum(kvt_image, kvt::Section::network);
    log_progress("done restoring network settings\n");
}

#include "tools/preview/sp_reads.hpp"

#include <cstdio>
#include <cstring>

#include "base/files.hpp"
#include "platform/capi.h"
#include "platform/card_lib.h"
#include "platform/luapi.h"
#include "sections/climode.hpp"
#include "service/kvtd.hpp"
#include "tools/kvtcard/decode.hpp"

namespace kvtpreview {

namespace {

constexpr const char *kAccount = "marnint";

} // namespace

ObjectSession::ObjectSession()
{
    session_.handle = luapife_open(1);
    if (session_.handle == -1)
        return;
    open_ = luapife_session_create(session_.handle, kAccount, 0, 8, &session_.session) != -1;
    if (!open_)
        luapife_close(session_.handle);
}

ObjectSession::~ObjectSession()
{
    if (!open_)
        return;
    luapife_session_destroy(session_.handle, session_.session);
    luapife_close(session_.handle);
}

std::optional<std::string> ObjectSession::value(const std::string &path)
{
    char text[kObjValueSize] = {};
    if (!open_ || get_obj_val(&session_, path.c_str(), text, sizeof text) != 0)
        return std::nullopt;
    return std::string(text);
}

Startup startup_facts(const kvt::Image &image, bool card_valid, const std::string &reason)
{
    Startup startup;
    kvt::StartupFacts &facts = startup.facts;
    facts.card_valid = card_valid;
    facts.card_reason = reason;
    facts.shutdown = kvtd_is_shutdown() != 0;
    facts.moved = kvtd_is_moved() != 0;
    unsigned char mac[kvt::kMacLength] = {};
    if (const char *problem = kvt::load_sp_mac(mac)) {
        startup.sp_mac = std::string(problem, std::strcspn(problem, "\n"));
        return startup;
    }
    startup.sp_mac_read = true;
    startup.sp_mac = kvtcard::mac_text(mac);
    facts.same_mac = std::memcmp(mac, image.sp_mac, sizeof mac) == 0;
    return startup;
}

std::vector<std::string> cli_mode_lines()
{
    std::vector<std::string> lines;
    std::FILE *file = kvt::open_for_reading(kCliModePath);
    if (file == nullptr)
        return lines;
    char line[256];
    std::string pending;
    while (std::fgets(line, sizeof line, file) != nullptr) {
        pending += line;
        if (pending.ends_with('\n')) {
            pending.pop_back();
            lines.push_back(pending);
            pending.clear();
        }
    }
    if (!pending.empty())
        lines.push_back(pending);
    std::fclose(file);
    return lines;
}

std::optional<unsigned> keyswitch()
{
    std::uint32_t position = 0;
    if (capi_get_keyswitch(&position) != 0)
        return std::nullopt;
    return position;
}

} // namespace kvtpreview

// Audit records as the SP's services post them: fixed parts in host byte
// order, followed by the texts they carry.
#include "sim/em/audit.hpp"

#include <cstring>
#include <string>

#include "platform/event_mgr.h"

namespace kvtsim {

namespace {

enum AuditType { kIpmi = 1, kLuapi = 2, kPersist = 4 };

constexpr std::size_t kUsernameField = 17;
constexpr std::size_t kLuapiFixedPart = 24;
constexpr std::size_t kPersistFixedPart = 6;

template <typename T> void append(std::string &record, T value)
{
    char bytes[sizeof value];
    std::memcpy(bytes, &value, sizeof value);
    record.append(bytes, sizeof bytes);
}

void append_text(std::string &record, std::string_view text)
{
    record.append(text);
    record.push_back('\0');
}

void post(int type, const std::string &record)
{
    event_mgr_post_event(kAuditClass, type, record.data(), static_cast<unsigned>(record.size()));
}

} // namespace

void audit_post_luapi(std::uint32_t command, std::int32_t status, std::string_view path,
                      std::string_view value)
{
    std::string record;
    append(record, command);
    append(record, status);
    append(record, static_cast<std::uint32_t>(kLuapiFixedPart));                   // pathOffset
    append(record, static_cast<std::uint32_t>(kLuapiFixedPart + path.size() + 1)); // valOffset
    record.append(8, '\0');
    append_text(record, path);
    append_text(record, value);
    post(kLuapi, record);
}

void audit_post_ipmi(std::uint8_t netfn, std::uint8_t command, std::string_view username,
                     std::uint8_t completion_code)
{
    std::string record;
    append(record, netfn);
    append(record, command);
    std::string name(username.substr(0, kUsernameField - 1));
    name.resize(kUsernameField, '\0');
    record.append(name);
    append(record, completion_code);
    append(record, static_cast<std::int32_t>(1)); // dataLen
    record.push_back('\0');                       // the request data
    post(kIpmi, record);
}

void audit_post_persist(std::uint8_t var_index, std::string_view value)
{
    std::string record;
    append(record, var_index);
    record.append(kPersistFixedPart - 1, '\0');
    append_text(record, value);
    post(kPersist, record);
}

} // namespace kvtsim

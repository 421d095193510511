// Audit events that the simulated SP posts on its event manager when it
// really changes something (class 106). Posting without a running event
// manager does nothing.
#pragma once

#include <cstdint>
#include <string_view>

namespace kvtsim {

inline constexpr int kAuditClass = 106;

// type 2: a set (command 3) or delete (command 9) of a configuration object
void audit_post_luapi(std::uint32_t command, std::int32_t status, std::string_view path,
                      std::string_view value);
// type 1: an IPMI command that was executed
void audit_post_ipmi(std::uint8_t netfn, std::uint8_t command, std::string_view username,
                     std::uint8_t completion_code);
// type 4: a persisted variable that was backed up, by its table row
void audit_post_persist(std::uint8_t var_index, std::string_view value);

} // namespace kvtsim

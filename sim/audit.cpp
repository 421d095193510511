// Posting is filled in together with the simulated event manager.
#include "sim/audit.hpp"

namespace kvtsim {

void audit_post_luapi(std::uint32_t, std::int32_t, std::string_view, std::string_view) {}
void audit_post_ipmi(std::uint8_t, std::uint8_t, std::string_view, std::uint8_t) {}
void audit_post_persist(std::uint8_t, std::string_view) {}

} // namespace kvtsim

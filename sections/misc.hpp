// Sections 4 to 7: miscellaneous settings, alert rules, customer info,
// console, mail and keyswitch.
#pragma once

#include <cstdint>

#include "base/luapi_session.hpp"
#include "card/image.hpp"

void get_current_misc(luapi_session session, kvt_image_t *image);
void get_current_backup_user_data(kvt_image_t *image);
int diag_mode_type_from_name(const char *name, std::uint32_t *code);
void restore_misc();

// Sections 2 and 9: local users and their role masks.
#pragma once

#include <cstdint>

#include "card/image.hpp"

int skip_user(const char *name);

// Fills user_table and role_table of `image` from the user database by the
// capture rules (at most 11 accounts, filtered by skip_user).
void capture_user_tables(kvt_image_t *image);

// The role mask the restore gives a saved user: the card's role word, or,
// on images of version 8 or lower (no role words worth using), a mask
// derived from the user's IPMI privilege.
std::uint32_t restored_role_mask(const kvt_image_t &image, const kvt::UserEntry &saved,
                                 std::uint32_t role_word);

void kvtd_snapshot();
void restore_passwd();
// User changes that failed in the last restore_passwd (each one logged
// there; the restore carries on past them).
int restore_passwd_failures();

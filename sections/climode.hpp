// Section 8: the CLI-mode table, a copy of "/etc/cli_mode.conf".
#pragma once

#include "base/log.hpp"
#include "card/image.hpp"

inline constexpr const char *kCliModePath = "/etc/cli_mode.conf";

// Fills the CLI-mode table of `image` from the file; a missing file or a
// line that does not parse ends in the fatal stop after `open_fail_format`
// (which takes the path) or the parse-error line.
void capture_climode_table(kvt_image_t *image, kvt::ValueLine open_fail_format);

void kvtd_snapshot_cli_mode();
void restore_climode();
// Entries of the last restore_climode that it left out (each logged).
int restore_climode_skipped();

// The full capture: a complete card image built from the SP's live
// configuration, for start-up to write onto the card.
#include "base/fatal_stop.hpp"
#include "base/log.hpp"
#include "base/luapi_session.hpp"
#include "card/image.hpp"
#include "card/sections.hpp"
#include "platform/card_lib.h"
#include "sections/climode.hpp"
#include "sections/misc.hpp"
#include "sections/network.hpp"
#include "sections/users.hpp"
#include "service/kvtd.hpp"

namespace {

bool user_data_backed_up(const kvt_image_t &image)
{
    return (image.miscbits.get() & kvt::KVT_NO_BACKUP_USER_DATA) == 0;
}

void capture_user_data(kvt_image_t *image)
{
    capture_user_tables(image);
    capture_climode_table(image, "kvtd_snapshot_climode: failed to open cli_mode file %s\n");
}

// Network and misc share one session; the backup policy opened its own.
void capture_settings(kvt_image_t *image)
{
    luapi_session session;
    init_luapi_session(&session);
    get_current_network(&session, image);
    get_current_misc(session, image);
    close_luapi_session(&session);
}

void stamp_header(kvt_image_t *image)
{
    read_sp_mac(image->sp_mac);
    image->hdr_version = kvt::kImageVersion;
}

// The validator gets a copy so that nothing it does can touch the image.
void check_image_or_stop(const kvt_image_t &image)
{
    kvt_image_t copy = image;
    if (valid_KVT(&copy, kvtPlatform) != 0)
        return;
    log_error("internal error image just made is invalid!\n");
    kvtd_fatal_stop();
}

} // namespace

// `image` is all zeros on entry; what no step sets stays zero.
void get_current_config(kvt_image_t *image)
{
    log_progress("get_current_config: top\n");
    get_current_backup_user_data(image);
    if (user_data_backed_up(*image))
        capture_user_data(image);
    else
        log_error("get_current_config: skipping user data because KVT_NO_BACKUP_USER_DATA is "
                  "set\n");
    capture_settings(image);
    stamp_header(image);
    kvt::update_all_checksums(*image);
    check_image_or_stop(*image);
}

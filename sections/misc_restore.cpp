// Restore of sections 4 to 7 onto the SP. Runs once, on the main thread,
// at the end of a restore at start-up. Every value is set whether or not
// the SP already holds it; a refused set is fatal and nothing set before it
// is rolled back.
#include <cstring>

#include "base/fatal_stop.hpp"
#include "base/log.hpp"
#include "base/luapi_session.hpp"
#include "card/sections.hpp"
#include "platform/capi.h"
#include "sections/encodings.hpp"
#include "sections/misc.hpp"

namespace {

int skipped_values = 0;

// Sets each value as the settings walk hands it over.
class Setter final : public kvt::MiscSettingSink {
  public:
    luapi_session session{};

    // set_obj_val has logged why; the session stays open into the stop.
    void set(const char *path, const char *value) override
    {
        const bool ssh = std::strcmp(path, kvt::kFlagSsh.path) == 0;
        if (ssh)
            log_progress("setting /X/services/ssh/state\n");
        if (set_obj_val(&session, path, value) < 0)
            kvtd_fatal_stop();
        if (ssh)
            log_progress("after setting /X/services/ssh/state\n");
    }

    void skip(const char *path, const char *reason) override
    {
        log_error("restore_misc: not setting %s: %s\n", path, reason);
        ++skipped_values;
    }

    void set_named(const char *path, unsigned char /*code*/, const char *name) override
    {
        if (name == nullptr)
            kvtd_fatal_stop();
        set(path, name);
    }
};

void restore_keyswitch(const kvt_image_t &image)
{
    if (capi_set_keyswitch(image.keyswitch) == -1) {
        log_error("set of keyswitch via CAPI failed\n");
        kvtd_fatal_stop();
    }
}

} // namespace

void restore_misc()
{
    const kvt_image_t &image = kvt_image;
    Setter s;
    skipped_values = 0;

    log_progress("restore_misc:top\n");
    init_luapi_session(&s.session);
    log_progress("restore_misc:init_luapi_session done\n");

    kvt::for_each_misc_setting(image, s);
    close_luapi_session(&s.session);

    // The keyswitch goes through the platform-control library, not the
    // object service, so it comes after the session is closed.
    restore_keyswitch(image);

    for (kvt::Section section :
         {kvt::Section::misc, kvt::Section::alerts, kvt::Section::customer, kvt::Section::console})
        kvt::update_checksum(kvt_image, section);
    log_progress("restore_misc Done.\n");
}

int restore_misc_skipped()
{
    return skipped_values;
}

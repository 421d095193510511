// Restore of sections 4 to 7 onto the SP. Runs once, on the main thread,
// at the end of a restore at start-up. Every value is set whether or not
// the SP already holds it, and the SP's object service decides what it
// takes: a refused set is fatal and nothing set before it is rolled back.
#include <cstring>

#include "base/fatal_stop.hpp"
#include "base/log.hpp"
#include "base/luapi_session.hpp"
#include "card/sections.hpp"
#include "platform/capi.h"
#include "sections/encodings.hpp"
#include "sections/misc.hpp"
#include "sections/restore_plan.hpp"

namespace {

// set_obj_val has logged why; the session stays open into the stop.
void set_or_stop(luapi_session *session, const kvt::MiscSetPlan &set)
{
    const bool ssh = set.path == kvt::kFlagSsh.path;
    if (ssh)
        log_progress("setting /X/services/ssh/state\n");
    if (set_obj_val(session, set.path.c_str(), set.value.c_str()) < 0)
        kvtd_fatal_stop();
    if (ssh)
        log_progress("after setting /X/services/ssh/state\n");
}

void restore_keyswitch(unsigned char position)
{
    if (capi_set_keyswitch(position) == -1) {
        log_error("set of keyswitch via CAPI failed\n");
        kvtd_fatal_stop();
    }
}

} // namespace

// A POST code without a name stops the restore where its set would be,
// without a message.
void kvt::apply_misc_sets(luapi_session *session, const MiscRestorePlan &plan)
{
    for (const MiscSetPlan &set : plan.sets) {
        if (set.unnamed)
            kvtd_fatal_stop();
        set_or_stop(session, set);
    }
}

void restore_misc()
{
    log_progress("restore_misc:top\n");
    luapi_session session{};
    init_luapi_session(&session);
    log_progress("restore_misc:init_luapi_session done\n");

    const kvt::MiscRestorePlan plan = kvt::plan_misc_restore(kvt_image);
    kvt::apply_misc_sets(&session, plan);
    close_luapi_session(&session);

    // The keyswitch goes through the platform-control library, not the
    // object service, so it comes after the session is closed.
    restore_keyswitch(plan.keyswitch);

    for (kvt::Section section :
         {kvt::Section::misc, kvt::Section::alerts, kvt::Section::customer, kvt::Section::console})
        kvt::update_checksum(kvt_image, section);
    log_progress("restore_misc Done.\n");
}

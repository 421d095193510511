// Restore of sections 4 to 7 onto the SP. Runs once, on the main thread,
// at the end of a restore at start-up. Every value is set whether or not
// the SP already holds it; a refused set is fatal and nothing set before it
// is rolled back.
#include <cstdint>
#include <cstdio>

#include "card/sections.hpp"
#include "platform/capi.h"
#include "sections/encodings.hpp"
#include "sections/misc.hpp"
#include "service/fatal_stop.hpp"
#include "service/log.hpp"
#include "service/luapi_session.hpp"

namespace {

using CodeToName = int (*)(unsigned char, const char **);

struct Setter {
    luapi_session session;
    char value[kObjValueSize];

    // set_obj_val has logged why; the session stays open into the stop.
    void set(const char *path, const char *text)
    {
        if (set_obj_val(&session, path, text) < 0)
            kvtd_fatal_stop();
    }

    void set_flag(std::uint16_t word, const kvt::MiscFlag &flag)
    {
        set(flag.path, kvt::flag_text(word, flag));
    }

    void set_decimal(const char *path, int number)
    {
        std::snprintf(value, sizeof value, "%d", number);
        set(path, value);
    }

    void set_named(const char *path, unsigned char code, CodeToName name_of)
    {
        const char *name = nullptr;
        if (name_of(code, &name) != 0 || name == nullptr)
            kvtd_fatal_stop();
        set(path, name);
    }

    // Cuts the text to `limit` characters; a field without a NUL is never
    // read past its last byte.
    template <std::size_t N>
    void set_text(const char *path, const kvt::TextField<N> &field, std::size_t limit)
    {
        const std::string_view text = field.view().substr(0, limit);
        std::snprintf(value, sizeof value, "%.*s", static_cast<int>(text.size()), text.data());
        set(path, value);
    }
};

void restore_diag(Setter &s, const kvt_image_t &image)
{
    char trigger[kvt::kDiagTriggerTextSize];
    kvt::diag_trigger_text(image.diag_trigger, trigger);
    s.set("/HOST/diag/trigger", trigger);

    CodeToName verbosity = capi_post_verbosity_name_from_type;
    s.set_named("/HOST/diag/error_reset_verbosity", image.diag_verbosity_error, verbosity);
    s.set_named("/HOST/diag/power_on_verbosity", image.diag_verbosity_power, verbosity);
    s.set_named("/HOST/diag/user_reset_verbosity", image.diag_verbosity_user, verbosity);

    CodeToName level = capi_post_diaglevel_name_from_type;
    s.set_named("/HOST/diag/error_reset_level", image.diag_level_error, level);
    s.set_named("/HOST/diag/power_on_level", image.diag_level_power, level);
    s.set_named("/HOST/diag/user_reset_level", image.diag_level_user, level);

    char mode[16];
    kvt::diag_mode_name(image.diag_mode, mode, sizeof mode);
    s.set("/HOST/diag/mode", mode);
}

void restore_cli(Setter &s, const kvt_image_t &image)
{
    const std::uint16_t bits = image.miscbits.get();
    s.set_text("/X/darvcli/prompt", image.cliprompt, 40);
    s.set_decimal("/X/darvcli/event_level", image.cli_eventlevel);
    s.set_flag(bits, kvt::kFlagServiceMode);
    s.set_flag(bits, kvt::kFlagPasswdEcho);
    s.set_flag(bits, kvt::kFlagSsqaMode);
    std::snprintf(s.value, sizeof s.value, "%u", static_cast<unsigned>(image.cli_timeout.get()));
    s.set("/X/darvcli/timeout", s.value);
}

void restore_alert_rules(Setter &s, const kvt_image_t &image)
{
    char path[256];
    int n = 0;
    for (const kvt::AlertRule &rule : image.alert_rules) {
        ++n;
        std::snprintf(path, sizeof path, "/X/alertmgmt/rules/%d/destination", n);
        s.set_text(path, rule.destination, sizeof rule.destination.chars);
        std::snprintf(path, sizeof path, "/X/alertmgmt/rules/%d/level", n);
        s.set(path, kvt::alert_level_name(rule.level));
        std::snprintf(path, sizeof path, "/X/alertmgmt/rules/%d/type", n);
        s.set(path, kvt::alert_type_name(rule.type));
    }
}

void restore_smtp(Setter &s, const kvt_image_t &image)
{
    s.set_text("/X/clients/smtp/address", image.mailhost_address,
               sizeof image.mailhost_address.chars);
    // Port 0 stands for "none" on the card; we send it as "0" and leave its
    // meaning to the service.
    s.set_decimal("/X/clients/smtp/port", image.mailhost_port.get());
    s.set_flag(image.miscbits.get(), kvt::kFlagSmtp);
}

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
    const std::uint16_t bits = image.miscbits.get();
    Setter s{};

    log_progress("restore_misc:top\n");
    init_luapi_session(&s.session);
    log_progress("restore_misc:init_luapi_session done\n");

    restore_diag(s, image);
    s.set_flag(bits, kvt::kFlagNetwork);
    s.set_flag(bits, kvt::kFlagAutorunonerror);
    s.set(kvt::kAutorestartPath, kvt::autorestart_name(bits));
    restore_cli(s, image);
    restore_alert_rules(s, image);
    s.set_text("/HOST/console/escapechars", image.escapechars, 2);
    s.set_text("/X/system_identifier", image.customerinfo, 40);

    log_progress("setting /X/services/ssh/state\n");
    s.set_flag(bits, kvt::kFlagSsh);
    log_progress("after setting /X/services/ssh/state\n");

    s.set_flag(bits, kvt::kFlagPowerStateMemory);
    s.set_flag(bits, kvt::kFlagPowerOnDelay);
    s.set_flag(bits, kvt::kFlagNoBackupUserData);
    restore_smtp(s, image);
    close_luapi_session(&s.session);

    // The keyswitch goes through the platform-control library, not the
    // object service, so it comes after the session is closed.
    restore_keyswitch(image);

    for (kvt::Section section :
         {kvt::Section::misc, kvt::Section::alerts, kvt::Section::customer, kvt::Section::console})
        kvt::update_checksum(kvt_image, section);
    log_progress("restore_misc Done.\n");
}

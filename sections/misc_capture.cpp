// Capture of sections 4 to 7 from the live configuration. Runs on the main
// thread during start-up, before the event thread exists; the full capture
// zeroes the image first and computes every checksum afterwards.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/daemon_state.hpp"
#include "base/fatal_stop.hpp"
#include "base/log.hpp"
#include "base/luapi_session.hpp"
#include "platform/capi.h"
#include "platform/card_lib.h"
#include "sections/encodings.hpp"
#include "sections/misc.hpp"

namespace {

using NameToCode = int (*)(const char *, std::uint32_t *);

struct Reader {
    luapi_session *session;
    char value[kObjValueSize];

    // A failed read has no message of its own here: get_obj_val logged it.
    const char *read(const char *path)
    {
        if (get_obj_val(session, path, value, sizeof value) != 0)
            kvtd_fatal_stop();
        return value;
    }
};

[[noreturn]] void bad_value(kvt::ValueLine line, const char *value)
{
    log_error_value(line, value);
    kvtd_fatal_stop();
}

void capture_flag(Reader &r, kvt_image_t *image, const kvt::MiscFlag &flag, kvt::ValueLine bad_line)
{
    const char *value = r.read(flag.path);
    if (!kvt::apply_flag(image->miscbits, flag, value))
        bad_value(bad_line, value);
}

unsigned char capture_code(Reader &r, const char *path, NameToCode convert)
{
    const char *value = r.read(path);
    std::uint32_t code = 0;
    if (convert(value, &code) != 0) {
        log_error("%s bad value (%s)\n", path, value);
        kvtd_fatal_stop();
    }
    return static_cast<unsigned char>(code);
}

void capture_diag(Reader &r, kvt_image_t *image)
{
    image->diag_trigger = kvt::diag_trigger_from_text(r.read("/HOST/diag/trigger"));

    // The mode comes from the persisted variable, not from "/HOST/diag/mode".
    char *mode = nullptr;
    if (nvval_get("sp_post_diag_mode", &mode) != 0)
        kvtd_fatal_stop();
    std::uint32_t code = 0;
    if (diag_mode_type_from_name(mode, &code) == 0)
        bad_value("/HOST/diag/mode bad value (%s)\n", mode);
    image->diag_mode = static_cast<unsigned char>(code);
    std::free(mode);

    NameToCode verbosity = capi_post_verbosity_type_from_name;
    image->diag_verbosity_error = capture_code(r, "/HOST/diag/error_reset_verbosity", verbosity);
    image->diag_verbosity_power = capture_code(r, "/HOST/diag/power_on_verbosity", verbosity);
    image->diag_verbosity_user = capture_code(r, "/HOST/diag/user_reset_verbosity", verbosity);

    NameToCode level = capi_post_diaglevel_type_from_name;
    image->diag_level_error = capture_code(r, "/HOST/diag/error_reset_level", level);
    image->diag_level_power = capture_code(r, "/HOST/diag/power_on_level", level);
    image->diag_level_user = capture_code(r, "/HOST/diag/user_reset_level", level);
}

void capture_autorestart(Reader &r, kvt_image_t *image)
{
    const std::uint16_t word = image->miscbits.get() & ~kvt::kAutorestartBits;
    image->miscbits.set(word);
    const char *value = r.read(kvt::kAutorestartPath);
    std::uint16_t bits = 0;
    if (!kvt::autorestart_bits_from_name(value, &bits))
        bad_value("/HOST/autorestart bad value (%s)\n", value);
    image->miscbits.set(static_cast<std::uint16_t>(word | bits));
}

void capture_cli(Reader &r, kvt_image_t *image)
{
    image->cliprompt.store(r.read("/X/darvcli/prompt"));

    // No range check at capture: an event level of 300 keeps its low byte.
    const char *value = r.read("/X/darvcli/event_level");
    int level = 0;
    if (!kvt::parse_decimal(value, &level))
        bad_value("/X/darvcli/event_level: bad value (%s)\n", value);
    image->cli_eventlevel = static_cast<unsigned char>(level);

    capture_flag(r, image, kvt::kFlagServiceMode, "/X/darvcli/service_mode bad value (%s)\n");
    capture_flag(r, image, kvt::kFlagPasswdEcho, "/X/darvcli/passwd_echo bad value (%s)\n");
    capture_flag(r, image, kvt::kFlagSsqaMode, "/X/darvcli/ssqa_mode bad value (%s)\n");

    value = r.read("/X/darvcli/timeout");
    std::uint32_t timeout = 0;
    if (!kvt::parse_unsigned(value, &timeout))
        bad_value("/X/darvcli/timeout: bad value (%s)\n", value);
    image->cli_timeout.set(timeout);
}

void capture_alert_rule(Reader &r, kvt::AlertRule &rule, int slot)
{
    const int n = slot + 1;
    char path[256];
    log_progress("getting alert %d\n", slot);
    log_progress("\tdestination\n");
    std::snprintf(path, sizeof path, "/X/alertmgmt/rules/%d/destination", n);
    rule.destination.store(r.read(path));

    log_progress("\tlevel\n");
    std::snprintf(path, sizeof path, "/X/alertmgmt/rules/%d/level", n);
    const char *value = r.read(path);
    if (!kvt::alert_level_from_name(value, &rule.level)) {
        log_error("%s bad value (%s)\n", path, value);
        kvtd_fatal_stop();
    }

    log_progress("\ttype\n");
    std::snprintf(path, sizeof path, "/X/alertmgmt/rules/%d/type", n);
    value = r.read(path);
    if (!kvt::alert_type_from_name(value, &rule.type)) {
        log_error("%s bad value (%s)\n", path, value);
        kvtd_fatal_stop();
    }
}

void capture_mail(Reader &r, kvt_image_t *image)
{
    image->mailhost_address.store(r.read("/X/clients/smtp/address"));

    const char *value = r.read("/X/clients/smtp/port");
    std::uint16_t port = 0;
    if (!kvt::parse_smtp_port(value, &port))
        bad_value("/X/clients/smtp/port: bad value (%s)\n", value);
    image->mailhost_port.set(port);

    capture_flag(r, image, kvt::kFlagSmtp, "/X/clients/smtp/state bad value (%s)\n");
}

void capture_keyswitch(kvt_image_t *image)
{
    std::uint32_t position = 0;
    if (capi_get_keyswitch(&position) != 0) {
        log_error("capi_get_keyswitch failed\n");
        kvtd_fatal_stop();
    }
    image->keyswitch = static_cast<unsigned char>(position);
}

} // namespace

void get_current_misc(luapi_session session, kvt_image_t *image)
{
    Reader r{&session, {}};
    capture_diag(r, image);
    capture_flag(r, image, kvt::kFlagAutorunonerror, "/HOST/autorunonerror bad value (%s)\n");
    capture_flag(r, image, kvt::kFlagNetwork, "/X/network/state: error parsing value (%s)\n");
    capture_autorestart(r, image);
    capture_cli(r, image);
    int slot = 0;
    for (kvt::AlertRule &rule : image->alert_rules)
        capture_alert_rule(r, rule, slot++);
    image->escapechars.store(r.read("/HOST/console/escapechars"));
    image->customerinfo.store(r.read("/X/system_identifier"));
    capture_flag(r, image, kvt::kFlagSsh, "/X/services/ssh/state bad value (%s)\n");
    capture_flag(r, image, kvt::kFlagPowerStateMemory,
                 "/X/policy/HOST_LAST_POWER_STATE bad value (%s)\n");
    capture_flag(r, image, kvt::kFlagPowerOnDelay,
                 "/X/policy/HOST_POWER_ON_DELAY bad value (%s)\n");
    capture_mail(r, image);
    capture_keyswitch(image);
    image->host_type = static_cast<unsigned char>(kvtPlatform);
    log_progress("get_current_misc: Done.\n");
}

void get_current_backup_user_data(kvt_image_t *image)
{
    luapi_session session;
    init_luapi_session(&session);
    Reader r{&session, {}};
    capture_flag(r, image, kvt::kFlagNoBackupUserData,
                 "/X/policy/BACKUP_USER_DATA bad value (%s)\n");
    close_luapi_session(&session);
}

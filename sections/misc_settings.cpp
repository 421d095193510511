// The misc settings a restore sets from a card, in the restore's order,
// with the value texts the configuration-object service takes.
#include <cstdio>
#include <string>

#include "platform/capi.h"
#include "sections/card_texts.hpp"
#include "sections/encodings.hpp"

namespace kvt {

namespace {

using CodeToName = int (*)(unsigned char, const char **);

void set_named(MiscSettingSink &sink, const char *path, unsigned char code, CodeToName name_of)
{
    const char *name = nullptr;
    if (name_of(code, &name) != 0)
        name = nullptr;
    sink.set_named(path, code, name);
}

// Cut to `limit` characters; a field without a NUL is never read past its
// last byte. A text that the object could not hold as it is, or that would
// reach the SP's terminals and logs raw, is not set at all.
template <std::size_t N>
void set_text(MiscSettingSink &sink, const char *path, const TextField<N> &field, std::size_t limit)
{
    const std::string text(field.view().substr(0, limit));
    if (const TextProblem problem = object_text_problem(text)) {
        sink.skip(path, problem);
        return;
    }
    sink.set(path, text.c_str());
}

// The capture keeps one character less than the field's width, so a text
// that fills the field without a NUL goes out as the capture would take it.
template <std::size_t N> constexpr std::size_t capture_limit(const TextField<N> &)
{
    return N - 1;
}

void set_number(MiscSettingSink &sink, const char *path, unsigned long number)
{
    char text[24];
    std::snprintf(text, sizeof text, "%lu", number);
    sink.set(path, text);
}

void set_flag(MiscSettingSink &sink, std::uint16_t word, const MiscFlag &flag)
{
    sink.set(flag.path, flag_text(word, flag));
}

void diag_settings(MiscSettingSink &sink, const Image &image)
{
    char trigger[kDiagTriggerTextSize];
    diag_trigger_text(image.diag_trigger, trigger);
    sink.set("/HOST/diag/trigger", trigger);

    const CodeToName verbosity = capi_post_verbosity_name_from_type;
    set_named(sink, "/HOST/diag/error_reset_verbosity", image.diag_verbosity_error, verbosity);
    set_named(sink, "/HOST/diag/power_on_verbosity", image.diag_verbosity_power, verbosity);
    set_named(sink, "/HOST/diag/user_reset_verbosity", image.diag_verbosity_user, verbosity);

    const CodeToName level = capi_post_diaglevel_name_from_type;
    set_named(sink, "/HOST/diag/error_reset_level", image.diag_level_error, level);
    set_named(sink, "/HOST/diag/power_on_level", image.diag_level_power, level);
    set_named(sink, "/HOST/diag/user_reset_level", image.diag_level_user, level);

    char mode[16];
    diag_mode_name(image.diag_mode, mode, sizeof mode);
    sink.set("/HOST/diag/mode", mode);
}

void cli_settings(MiscSettingSink &sink, const Image &image)
{
    const std::uint16_t bits = image.miscbits.get();
    set_text(sink, "/X/darvcli/prompt", image.cliprompt, 40);
    set_number(sink, "/X/darvcli/event_level", image.cli_eventlevel);
    set_flag(sink, bits, kFlagServiceMode);
    set_flag(sink, bits, kFlagPasswdEcho);
    set_flag(sink, bits, kFlagSsqaMode);
    set_number(sink, "/X/darvcli/timeout", image.cli_timeout.get());
}

void alert_rule_settings(MiscSettingSink &sink, const Image &image)
{
    char path[64];
    int n = 0;
    for (const AlertRule &rule : image.alert_rules) {
        ++n;
        std::snprintf(path, sizeof path, "/X/alertmgmt/rules/%d/destination", n);
        set_text(sink, path, rule.destination, capture_limit(rule.destination));
        std::snprintf(path, sizeof path, "/X/alertmgmt/rules/%d/level", n);
        sink.set(path, alert_level_name(rule.level));
        std::snprintf(path, sizeof path, "/X/alertmgmt/rules/%d/type", n);
        sink.set(path, alert_type_name(rule.type));
    }
}

} // namespace

void for_each_misc_setting(const Image &image, MiscSettingSink &sink)
{
    const std::uint16_t bits = image.miscbits.get();
    diag_settings(sink, image);
    set_flag(sink, bits, kFlagNetwork);
    set_flag(sink, bits, kFlagAutorunonerror);
    sink.set(kAutorestartPath, autorestart_name(bits));
    cli_settings(sink, image);
    alert_rule_settings(sink, image);
    set_text(sink, "/HOST/console/escapechars", image.escapechars, 2);
    set_text(sink, "/X/system_identifier", image.customerinfo, 40);
    set_flag(sink, bits, kFlagSsh);
    set_flag(sink, bits, kFlagPowerStateMemory);
    set_flag(sink, bits, kFlagPowerOnDelay);
    set_flag(sink, bits, kFlagNoBackupUserData);
    // Port 0 stands for "none" on the card; it goes out as "0" and its
    // meaning is left to the service.
    set_text(sink, "/X/clients/smtp/address", image.mailhost_address,
             capture_limit(image.mailhost_address));
    set_number(sink, "/X/clients/smtp/port", image.mailhost_port.get());
    set_flag(sink, bits, kFlagSmtp);
}
} // namespace kvt

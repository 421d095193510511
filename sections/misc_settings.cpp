// The plan of the misc restore: every object it sets from sections 4 to 7,
// in the restore's order, with the value texts the configuration-object
// service takes, and the keyswitch.
#include <cstdio>
#include <string>

#include "platform/capi.h"
#include "sections/encodings.hpp"
#include "sections/restore_plan.hpp"

namespace kvt {

namespace {

using CodeToName = int (*)(unsigned char, const char **);

class Settings {
  public:
    explicit Settings(MiscRestorePlan &plan) : plan_(plan) {}

    void set(const char *path, std::string value)
    {
        plan_.sets.push_back({path, std::move(value)});
    }

    // The POST verbosities and levels are named by the platform-control
    // library; a code it has no name for stops the restore there.
    void set_named(const char *path, unsigned char code, CodeToName name_of)
    {
        const char *name = nullptr;
        if (name_of(code, &name) != 0 || name == nullptr)
            plan_.sets.push_back({path, {}, true, code});
        else
            set(path, name);
    }

    // Cut to `limit` characters; a field without a NUL is never read past
    // its last byte.
    template <std::size_t N>
    void set_text(const char *path, const TextField<N> &field, std::size_t limit)
    {
        set(path, std::string(field.view().substr(0, limit)));
    }

    void set_number(const char *path, unsigned long number) { set(path, std::to_string(number)); }

    void set_flag(std::uint16_t word, const MiscFlag &flag)
    {
        set(flag.path, flag_text(word, flag));
    }

  private:
    MiscRestorePlan &plan_;
};

// The capture keeps one character less than the field's width, so a text
// that fills the field without a NUL goes out as the capture would take it.
template <std::size_t N> constexpr std::size_t capture_limit(const TextField<N> &)
{
    return N - 1;
}

void diag_settings(Settings &s, const Image &image)
{
    char trigger[kDiagTriggerTextSize];
    diag_trigger_text(image.diag_trigger, trigger);
    s.set("/HOST/diag/trigger", trigger);

    const CodeToName verbosity = capi_post_verbosity_name_from_type;
    s.set_named("/HOST/diag/error_reset_verbosity", image.diag_verbosity_error, verbosity);
    s.set_named("/HOST/diag/power_on_verbosity", image.diag_verbosity_power, verbosity);
    s.set_named("/HOST/diag/user_reset_verbosity", image.diag_verbosity_user, verbosity);

    const CodeToName level = capi_post_diaglevel_name_from_type;
    s.set_named("/HOST/diag/error_reset_level", image.diag_level_error, level);
    s.set_named("/HOST/diag/power_on_level", image.diag_level_power, level);
    s.set_named("/HOST/diag/user_reset_level", image.diag_level_user, level);

    char mode[16];
    diag_mode_name(image.diag_mode, mode, sizeof mode);
    s.set("/HOST/diag/mode", mode);
}

void cli_settings(Settings &s, const Image &image)
{
    const std::uint16_t bits = image.miscbits.get();
    s.set_text("/X/darvcli/prompt", image.cliprompt, 40);
    s.set_number("/X/darvcli/event_level", image.cli_eventlevel);
    s.set_flag(bits, kFlagServiceMode);
    s.set_flag(bits, kFlagPasswdEcho);
    s.set_flag(bits, kFlagSsqaMode);
    s.set_number("/X/darvcli/timeout", image.cli_timeout.get());
}

void alert_rule_settings(Settings &s, const Image &image)
{
    char path[64];
    int n = 0;
    for (const AlertRule &rule : image.alert_rules) {
        ++n;
        std::snprintf(path, sizeof path, "/X/alertmgmt/rules/%d/destination", n);
        s.set_text(path, rule.destination, capture_limit(rule.destination));
        std::snprintf(path, sizeof path, "/X/alertmgmt/rules/%d/level", n);
        s.set(path, alert_level_name(rule.level));
        std::snprintf(path, sizeof path, "/X/alertmgmt/rules/%d/type", n);
        s.set(path, alert_type_name(rule.type));
    }
}

} // namespace

MiscRestorePlan plan_misc_restore(const Image &image)
{
    MiscRestorePlan plan;
    Settings s(plan);
    const std::uint16_t bits = image.miscbits.get();
    diag_settings(s, image);
    s.set_flag(bits, kFlagNetwork);
    s.set_flag(bits, kFlagAutorunonerror);
    s.set(kAutorestartPath, autorestart_name(bits));
    cli_settings(s, image);
    alert_rule_settings(s, image);
    s.set_text("/HOST/console/escapechars", image.escapechars, 2);
    s.set_text("/X/system_identifier", image.customerinfo, 40);
    s.set_flag(bits, kFlagSsh);
    s.set_flag(bits, kFlagPowerStateMemory);
    s.set_flag(bits, kFlagPowerOnDelay);
    s.set_flag(bits, kFlagNoBackupUserData);
    // Port 0 stands for "none" on the card; it goes out as "0" and its
    // meaning is left to the service.
    s.set_text("/X/clients/smtp/address", image.mailhost_address,
               capture_limit(image.mailhost_address));
    s.set_number("/X/clients/smtp/port", image.mailhost_port.get());
    s.set_flag(bits, kFlagSmtp);
    plan.keyswitch = image.keyswitch;
    return plan;
}

SectionPlan describe(const MiscRestorePlan &plan)
{
    SectionPlan section{"misc settings", false, {}};
    for (const MiscSetPlan &set : plan.sets) {
        if (set.unnamed) {
            section.steps.push_back({PlanAction::stop,
                                     set.path,
                                     {},
                                     "the platform has no name for code " +
                                         std::to_string(set.code) + ": the restore stops here"});
            return section;
        }
        const bool refused = set.value == kBadValueText;
        section.steps.push_back({PlanAction::set, set.path, set.value,
                                 refused ? "a code no capture makes: the SP is to refuse it, "
                                           "and the restore stops there"
                                         : ""});
    }
    section.steps.push_back({PlanAction::set, "keyswitch", std::to_string(plan.keyswitch),
                             "through the platform-control library"});
    return section;
}

} // namespace kvt

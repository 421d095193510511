// Live writer of section 5: one field of one alert rule.
#include <cstring>
#include <span>

#include "base/log.hpp"
#include "sections/writer_steps.hpp"
#include "sections/writers.hpp"

using kvt::Section;
using kvt::writer::write_field;

namespace {

constexpr const char *kAlertWriteFailed = "write_emailalert: write_KVT failed!\n";
constexpr std::size_t kDestinationLimit = 50;

bool rule_in_range(int rule)
{
    return rule >= 1 && rule <= static_cast<int>(kvt::kAlertRules);
}

} // namespace

void kvtd_write_mailalert(int rule, int field, const char *value)
{
    // The rule number comes from the object path; one without a slot in
    // section 5 is dropped before anything is touched.
    if (!rule_in_range(rule)) {
        log_error("kvtd_write_mailalert: rule %d out of range, ignored\n", rule);
        return;
    }
    kvt::AlertRule &slot = std::span(kvt_image.alert_rules)[static_cast<std::size_t>(rule - 1)];
    switch (field) {
    case ALERT_DESTINATION:
        write_field({Section::alerts, nullptr, kAlertWriteFailed}, value, [&slot](const char *v) {
            if (std::strlen(v) > kDestinationLimit) {
                log_progress("write email alert: destination too big (%s)\n", v);
                log_progress("\ttruncating to 50 characters\n");
            }
            slot.destination.store(v);
            return true;
        });
        return;
    case ALERT_LEVEL:
        write_field(
            {Section::alerts, "write_mailalert: error parsing level (%s)\n", kAlertWriteFailed},
            value, [&slot](const char *v) { return kvt::alert_level_from_name(v, &slot.level); });
        return;
    case ALERT_TYPE:
        write_field(
            {Section::alerts, "kvtd_write_emailalert: error parsing type(%s)\n", kAlertWriteFailed},
            value, [&slot](const char *v) { return kvt::alert_type_from_name(v, &slot.type); });
        return;
    default:
        return;
    }
}

#include "sections/encodings.hpp"

#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>

#include "platform/capi.h"
#include "sections/card_texts.hpp"
#include "sections/misc.hpp"

namespace kvt {

namespace {

constexpr std::array<const char *, 6> kAlertLevels{"disable", "debug", "down",
                                                   "minor",   "major", "critical"};
constexpr std::array<const char *, 3> kAlertTypes{"ipmipet", "email", "snmptrap"};
constexpr std::array<const char *, 4> kDiagModes{"off", "normal", "service", "menu"};
constexpr std::uint32_t kFirstOpsCode = 10;
constexpr unsigned kOpsModes = 32;

struct TriggerWord {
    const char *word;
    unsigned char bits;
};

constexpr std::array<TriggerWord, 4> kTriggerWords{{
    {"user-reset", 0x01},
    {"error-reset", 0x02},
    {"power-on-reset", 0x04},
    {"all-resets", 0x07},
}};
constexpr unsigned char kAllResets = 0x07;

template <std::size_t N>
bool code_from_name(const std::array<const char *, N> &names, const char *value,
                    unsigned char *code)
{
    unsigned char i = 0;
    for (const char *name : names) {
        if (std::strcmp(name, value) == 0) {
            *code = i;
            return true;
        }
        ++i;
    }
    return false;
}

template <std::size_t N>
const char *name_from_code(const std::array<const char *, N> &names, unsigned char code)
{
    return code < N ? names.at(code) : kBadValueText;
}

// True when a "%d"/"%u" conversion can read a number: white space, one
// optional sign, then a digit.
bool has_number(const char *value)
{
    const char *p = value;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
        ++p;
    if (*p == '+' || *p == '-')
        ++p;
    return *p >= '0' && *p <= '9';
}

} // namespace

bool apply_flag(Be16 &word, const MiscFlag &flag, const char *value)
{
    if (std::strcmp(value, flag.set_text) == 0) {
        word.set(static_cast<std::uint16_t>(word.get() | flag.bit));
        return true;
    }
    if (std::strcmp(value, flag.clear_text) == 0) {
        word.set(static_cast<std::uint16_t>(word.get() & ~flag.bit));
        return true;
    }
    return false;
}

const char *flag_text(std::uint16_t word, const MiscFlag &flag)
{
    return (word & flag.bit) != 0 ? flag.set_text : flag.clear_text;
}

bool autorestart_bits_from_name(const char *value, std::uint16_t *bits)
{
    if (std::strcmp(value, "none") == 0)
        *bits = 0;
    else if (std::strcmp(value, "reset") == 0)
        *bits = KVT_AUTORESTART_RESET;
    else if (std::strcmp(value, "dumpcore") == 0)
        *bits = KVT_AUTORESTART_DUMPCORE;
    else
        return false;
    return true;
}

const char *autorestart_name(std::uint16_t word)
{
    if ((word & KVT_AUTORESTART_RESET) != 0)
        return "reset";
    if ((word & KVT_AUTORESTART_DUMPCORE) != 0)
        return "dumpcore";
    return "none";
}

unsigned char diag_trigger_from_text(const char *value)
{
    unsigned char bits = 0;
    for (const TriggerWord &t : kTriggerWords)
        if (std::strstr(value, t.word) != nullptr)
            bits = static_cast<unsigned char>(bits | t.bits);
    return bits;
}

void diag_trigger_text(unsigned char bits, char (&out)[kDiagTriggerTextSize])
{
    out[0] = '\0';
    if (bits == 0) {
        std::snprintf(out, sizeof out, "none");
        return;
    }
    if (bits == kAllResets) {
        std::snprintf(out, sizeof out, "all-resets");
        return;
    }
    // Each word keeps its trailing blank; the three together fit in 40.
    if ((bits & 0x01) != 0)
        std::strncat(out, "user-reset ", sizeof out - std::strlen(out) - 1);
    if ((bits & 0x02) != 0)
        std::strncat(out, "error-reset ", sizeof out - std::strlen(out) - 1);
    if ((bits & 0x04) != 0)
        std::strncat(out, "power-on-reset ", sizeof out - std::strlen(out) - 1);
}

void diag_mode_name(unsigned char code, char *out, std::size_t out_len)
{
    if (code < kDiagModes.size()) {
        std::snprintf(out, out_len, "%s", kDiagModes.at(code));
        return;
    }
    if (code >= kFirstOpsCode && code < kFirstOpsCode + kOpsModes) {
        std::snprintf(out, out_len, "ops%d", code - static_cast<int>(kFirstOpsCode));
        return;
    }
    std::snprintf(out, out_len, "%s", kBadValueText);
}

bool alert_level_from_name(const char *value, unsigned char *code)
{
    return code_from_name(kAlertLevels, value, code);
}

bool alert_type_from_name(const char *value, unsigned char *code)
{
    return code_from_name(kAlertTypes, value, code);
}

const char *alert_level_name(unsigned char code)
{
    return name_from_code(kAlertLevels, code);
}

const char *alert_type_name(unsigned char code)
{
    return name_from_code(kAlertTypes, code);
}

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

bool parse_decimal(const char *value, int *number)
{
    if (!has_number(value))
        return false;
    const long long parsed = std::strtoll(value, nullptr, 10);
    if (parsed > INT_MAX)
        *number = INT_MAX;
    else if (parsed < INT_MIN)
        *number = INT_MIN;
    else
        *number = static_cast<int>(parsed);
    return true;
}

bool parse_unsigned(const char *value, std::uint32_t *number)
{
    if (!has_number(value))
        return false;
    errno = 0;
    const unsigned long long parsed = std::strtoull(value, nullptr, 10);
    *number = errno == ERANGE ? UINT32_MAX : static_cast<std::uint32_t>(parsed);
    return true;
}

bool parse_smtp_port(const char *value, std::uint16_t *port)
{
    if (strcasecmp(value, "none") == 0) {
        *port = 0;
        return true;
    }
    int number = 0;
    if (!parse_decimal(value, &number) || number < 0 || number > UINT16_MAX)
        return false;
    *port = static_cast<std::uint16_t>(number);
    return true;
}

} // namespace kvt

int diag_mode_type_from_name(const char *name, std::uint32_t *code)
{
    std::uint32_t i = 0;
    for (const char *mode : kvt::kDiagModes) {
        if (std::strcmp(name, mode) == 0) {
            *code = i;
            return 1;
        }
        ++i;
    }
    // Each ops name is compared as a whole string, so "ops07" and "ops32"
    // are no match.
    for (unsigned k = 0; k < kvt::kOpsModes; ++k) {
        char ops[8];
        std::snprintf(ops, sizeof ops, "ops%u", k);
        if (std::strcmp(name, ops) == 0) {
            *code = kvt::kFirstOpsCode + k;
            return 1;
        }
    }
    return 0;
}

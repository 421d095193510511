#include "sections/encodings.hpp"

#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>

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

// Live writers of section 4: POST diagnostics, the CLI settings and the
// miscbits flags.
#include <cstdint>
#include <cstring>

#include "base/log.hpp"
#include "platform/capi.h"
#include "sections/misc.hpp"
#include "sections/users.hpp"
#include "sections/writer_steps.hpp"
#include "sections/writers.hpp"

using kvt::Section;
using kvt::writer::FieldWrite;
using kvt::writer::write_field;
using kvt::writer::write_flag;

namespace {

constexpr const char *kDiagWriteFailed = "write_diag: write_KVT failed!\n";
constexpr const char *kCliWriteFailed = "write_cli: write_KVT failed!\n";
constexpr std::size_t kPromptLimit = 40;

using NameToCode = int (*)(const char *, std::uint32_t *);

struct DiagCode {
    int item;
    unsigned char kvt_image_t::*field;
    NameToCode convert;
    kvt::ValueLine bad_line;
};

const DiagCode kDiagCodes[] = {
    {DIAG_MODE, &kvt_image_t::diag_mode, diag_mode_type_from_name,
     "write_diag MODE: bad value %s\n"},
    {DIAG_VERBOSITY_ERROR, &kvt_image_t::diag_verbosity_error, capi_post_verbosity_type_from_name,
     "write_diag DIAG_VERBOSITY_ERROR: bad value %s\n"},
    {DIAG_VERBOSITY_POWER, &kvt_image_t::diag_verbosity_power, capi_post_verbosity_type_from_name,
     "write_diag DIAG_VERBOSITY_POWER: bad value %s\n"},
    {DIAG_VERBOSITY_USER, &kvt_image_t::diag_verbosity_user, capi_post_verbosity_type_from_name,
     "write_diag DIAG_VERBOSITY_USER: bad value %s\n"},
    {DIAG_LEVEL_ERROR, &kvt_image_t::diag_level_error, capi_post_diaglevel_type_from_name,
     "write_diag DIAG_LEVEL_ERROR: bad value %s\n"},
    {DIAG_LEVEL_POWER, &kvt_image_t::diag_level_power, capi_post_diaglevel_type_from_name,
     "write_diag DIAG_LEVEL_POWER: bad value %s\n"},
    {DIAG_LEVEL_USER, &kvt_image_t::diag_level_user, capi_post_diaglevel_type_from_name,
     "write_diag DIAG_LEVEL_USER: bad value %s\n"},
};

// diag_mode_type_from_name answers 1 for a match, the capi conversions 0.
bool convert_diag(const DiagCode &d, const char *value, std::uint32_t *code)
{
    const int result = d.convert(value, code);
    return d.item == DIAG_MODE ? result == 1 : result == 0;
}

void write_diag_code(const DiagCode &d, const char *value)
{
    write_field({Section::misc, d.bad_line, kDiagWriteFailed}, value, [&d](const char *v) {
        std::uint32_t code = 0;
        if (!convert_diag(d, v, &code))
            return false;
        kvt_image.*d.field = static_cast<unsigned char>(code);
        return true;
    });
}

bool store_prompt(const char *value)
{
    const std::size_t length = std::strlen(value);
    if (length > kPromptLimit) {
        log_progress("kvtd_write_cli: truncating prompt to %d characters (wanted %d)\n",
                     static_cast<int>(kPromptLimit), static_cast<int>(length));
        log_progress("this will truncate your prompt upon restore\n");
    }
    kvt_image.cliprompt.store(value);
    return true;
}

bool store_event_level(const char *value)
{
    int level = 0;
    if (!kvt::parse_decimal(value, &level) || level < 0 || level > 255)
        return false;
    kvt_image.cli_eventlevel = static_cast<unsigned char>(level);
    return true;
}

bool store_timeout(const char *value)
{
    std::uint32_t timeout = 0;
    if (!kvt::parse_unsigned(value, &timeout))
        return false;
    kvt_image.cli_timeout.set(timeout);
    return true;
}

} // namespace

void kvtd_write_diag(int item, const char *value)
{
    if (item == DIAG_TRIGGER) {
        write_field({Section::misc, nullptr, kDiagWriteFailed}, value, [](const char *v) {
            kvt_image.diag_trigger = kvt::diag_trigger_from_text(v);
            return true;
        });
        return;
    }
    for (const DiagCode &d : kDiagCodes) {
        if (d.item == item) {
            write_diag_code(d, value);
            return;
        }
    }
    // Items 1 and 2 have no object; the router never sends them.
}

void kvtd_write_autorunonerror(const char *value)
{
    write_flag(kvt::kFlagAutorunonerror, value, "kvtd_write_autorunonerror: bad value %s\n",
               kDiagWriteFailed);
}

void kvtd_write_autorestart(const char *value)
{
    // Both bits are cleared before the value is checked, so a bad value
    // reaches the card (under the fatal stop's invalid header) as "none".
    const FieldWrite w{Section::misc, "kvtd_write_autorestart: bad value %s\n", kDiagWriteFailed};
    write_field(w, value, [](const char *v) {
        const auto word =
            static_cast<std::uint16_t>(kvt_image.miscbits.get() & ~kvt::kAutorestartBits);
        kvt_image.miscbits.set(word);
        std::uint16_t bits = 0;
        if (!kvt::autorestart_bits_from_name(v, &bits))
            return false;
        kvt_image.miscbits.set(static_cast<std::uint16_t>(word | bits));
        return true;
    });
}

void kvtd_write_cli(int item, const char *value)
{
    switch (item) {
    case CLI_PROMPT:
        write_field({Section::misc, nullptr, kCliWriteFailed}, value, store_prompt);
        return;
    case CLI_EVENT_LEVEL:
        write_field({Section::misc, "write_cli: error parsing event level (%s)\n", kCliWriteFailed},
                    value, store_event_level);
        return;
    case CLI_SERVICE_MODE:
        write_flag(kvt::kFlagServiceMode, value, "write_cli: error parsing service_mode (%s)\n",
                   kCliWriteFailed);
        return;
    case CLI_PASSWD_ECHO:
        write_flag(kvt::kFlagPasswdEcho, value, "write_cli: error parsing passwd_echo (%s)\n",
                   kCliWriteFailed);
        return;
    case CLI_SSQA_MODE:
        write_flag(kvt::kFlagSsqaMode, value, "write_cli: error parsing ssqa_mode (%s)\n",
                   kCliWriteFailed);
        return;
    case CLI_TIMEOUT:
        write_field({Section::misc, "write_cli: error parsing timeout (%s)\n", kCliWriteFailed},
                    value, store_timeout);
        return;
    default:
        return;
    }
}

void kvtd_write_ssh_state(const char *value)
{
    write_flag(kvt::kFlagSsh, value, "write_ssh_state: error parsing value (%s)\n",
               kCliWriteFailed);
}

void kvtd_write_powerstatememory(const char *value)
{
    write_flag(kvt::kFlagPowerStateMemory, value,
               "write_powerstatememory: error parsing value (%s)\n",
               "write_powerstatememory: write_KVT failed!\n");
}

void kvtd_write_powerondelay(const char *value)
{
    write_flag(kvt::kFlagPowerOnDelay, value, "write_powerondelay: error parsing value (%s)\n",
               "write_powerondelay: write_KVT failed!\n");
}

void kvtd_write_backupuserdata(const char *value)
{
    // Turning the backup back on first brings the user and role tables on
    // the card up to date; section 4 with the cleared flag follows.
    write_field({Section::misc, "write_backupuserdata: error parsing value (%s)\n",
                 "write_backupuserdata: write_KVT failed!\n"},
                value, [](const char *v) {
                    if (!kvt::apply_flag(kvt_image.miscbits, kvt::kFlagNoBackupUserData, v))
                        return false;
                    if ((kvt_image.miscbits.get() & kvt::KVT_NO_BACKUP_USER_DATA) == 0)
                        kvtd_snapshot();
                    return true;
                });
}

void kvtd_write_networkstate(const char *value)
{
    write_flag(kvt::kFlagNetwork, value, "write_networkstate: error parsing value (%s)\n",
               "write_networkstate: write_KVT failed!\n");
}

void kvtd_write_mailhost_state(const char *value)
{
    // The SMTP on/off state lives in section 4, unlike address and port.
    write_flag(kvt::kFlagSmtp, value, "write_mailhost: error parsing state (%s)\n",
               "write_mailhost: write_KVT failed!\n");
}

// Value encodings of sections 4 to 7, shared by the capture, the restore
// and the live writers so that each setting has one text <-> code table.
#pragma once

#include <cstddef>
#include <cstdint>

#include "card/image.hpp"

namespace kvt {

// A one-bit flag of miscbits and the object that sets or clears it.
struct MiscFlag {
    const char *path;
    std::uint16_t bit;
    const char *set_text;   // value that sets the bit
    const char *clear_text; // value that clears it
};

inline constexpr MiscFlag kFlagAutorunonerror{"/HOST/autorunonerror", KVT_AUTORUNONERROR, "true",
                                              "false"};
inline constexpr MiscFlag kFlagServiceMode{"/X/darvcli/service_mode", KVT_CLI_SERVICE_MODE, "true",
                                           "false"};
inline constexpr MiscFlag kFlagPasswdEcho{"/X/darvcli/passwd_echo", KVT_CLI_PASSWD_ECHO, "true",
                                          "false"};
inline constexpr MiscFlag kFlagSsqaMode{"/X/darvcli/ssqa_mode", KVT_CLI_SSQA_MODE, "true", "false"};
inline constexpr MiscFlag kFlagSsh{"/X/services/ssh/state", KVT_SSH_ENABLED, "enabled", "disabled"};
inline constexpr MiscFlag kFlagPowerStateMemory{"/X/policy/HOST_LAST_POWER_STATE",
                                                KVT_POWER_STATE_MEMORY, "enabled", "disabled"};
inline constexpr MiscFlag kFlagPowerOnDelay{"/X/policy/HOST_POWER_ON_DELAY", KVT_POWER_ON_DELAY,
                                            "enabled", "disabled"};
inline constexpr MiscFlag kFlagSmtp{"/X/clients/smtp/state", KVT_SMTP_ENABLED, "enabled",
                                    "disabled"};
inline constexpr MiscFlag kFlagNetwork{"/X/network/state", KVT_NETWORK_ENABLED, "enabled",
                                       "disabled"};
// Inverted sense: the bit is set while user-data backup is disabled.
inline constexpr MiscFlag kFlagNoBackupUserData{"/X/policy/BACKUP_USER_DATA",
                                                KVT_NO_BACKUP_USER_DATA, "disabled", "enabled"};

inline constexpr const char *kAutorestartPath = "/HOST/autorestart";
inline constexpr std::uint16_t kAutorestartBits = KVT_AUTORESTART_RESET | KVT_AUTORESTART_DUMPCORE;

// What the restore sends for a code that no capture produces.
inline constexpr const char *kBadValueText = "bad value";

// Sets or clears the flag's bit from an exact, case-sensitive value; false
// (word untouched) for any other text.
bool apply_flag(Be16 &word, const MiscFlag &flag, const char *value);
// The value text that stands for the flag's state in `word`.
const char *flag_text(std::uint16_t word, const MiscFlag &flag);

// "none", "reset" or "dumpcore" to the two autorestart bits; false for
// any other text.
bool autorestart_bits_from_name(const char *value, std::uint16_t *bits);
// "reset" wins when both bits are set.
const char *autorestart_name(std::uint16_t word);

// Substring search for the four trigger words; never fails.
unsigned char diag_trigger_from_text(const char *value);
inline constexpr std::size_t kDiagTriggerTextSize = 40;
void diag_trigger_text(unsigned char bits, char (&out)[kDiagTriggerTextSize]);

// "off", "normal", "service", "menu", "ops0".."ops31"; "bad value" for any
// other code. `out` must hold at least 16 bytes.
void diag_mode_name(unsigned char code, char *out, std::size_t out_len);

// Alert rule level ("disable".."critical" = 0..5) and type ("ipmipet",
// "email", "snmptrap" = 0..2).
bool alert_level_from_name(const char *value, unsigned char *code);
bool alert_type_from_name(const char *value, unsigned char *code);
const char *alert_level_name(unsigned char code);
const char *alert_type_name(unsigned char code);

// A "%d" or "%u" conversion: optional white space and sign, then at least
// one digit; whatever follows the number is ignored. False when no number
// can be read. "%d" clamps to the int range; "%u" wraps as the C library
// does ("-1" is 4294967295).
bool parse_decimal(const char *value, int *number);
bool parse_unsigned(const char *value, std::uint32_t *number);

// "none" in any letter case is 0, else one decimal number in 0..65535.
bool parse_smtp_port(const char *value, std::uint16_t *port);

} // namespace kvt

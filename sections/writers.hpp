// Live writers: each folds one changed setting into its section of
// kvt_image and rewrites that section on the card.
#pragma once

enum DiagItem {
    DIAG_TRIGGER = 0,
    DIAG_MODE = 3,
    DIAG_VERBOSITY_ERROR = 4,
    DIAG_VERBOSITY_POWER = 5,
    DIAG_VERBOSITY_USER = 6,
    DIAG_LEVEL_ERROR = 7,
    DIAG_LEVEL_POWER = 8,
    DIAG_LEVEL_USER = 9,
};

enum CliItem {
    CLI_PROMPT = 0,
    CLI_EVENT_LEVEL = 1,
    CLI_SERVICE_MODE = 2,
    CLI_PASSWD_ECHO = 3,
    CLI_SSQA_MODE = 4,
    CLI_TIMEOUT = 5,
};

enum AlertField {
    ALERT_DESTINATION = 0,
    ALERT_LEVEL = 1,
    ALERT_TYPE = 2,
};

void kvtd_write_diag(int item, const char *value);
void kvtd_write_autorunonerror(const char *value);
void kvtd_write_autorestart(const char *value);
void kvtd_write_cli(int item, const char *value);
void kvtd_write_mailalert(int rule, int field, const char *value);
void kvtd_write_escapechars(const char *value);
void kvtd_write_customerinfo(const char *value);
void kvtd_write_ssh_state(const char *value);
void kvtd_write_powerstatememory(const char *value);
void kvtd_write_powerondelay(const char *value);
void kvtd_write_backupuserdata(const char *value);
void kvtd_write_networkstate(const char *value);
void kvtd_write_mailhost_address(const char *value);
void kvtd_write_mailhost_port(const char *value);
void kvtd_write_mailhost_state(const char *value);
void kvtd_write_keyswitch(const char *value);

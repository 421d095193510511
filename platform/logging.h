/* Logging library: service log appends, the frame log and the fault log. */
#ifndef KVT_PLATFORM_LOGGING_H
#define KVT_PLATFORM_LOGGING_H

#ifdef __cplusplus
extern "C" {
#endif

/* Appends printf-style text to the file at the fixed path `path`. */
void ez_log_nostamp(const char *path, const char *format, ...)
    __attribute__((format(printf, 2, 3)));

/* The current time as text; valid until the calling thread's next call. */
const char *time_now(void);

void init_dblog(const char *process_name, const char *config_path);
void dblog_print(int level, const char *format, ...) __attribute__((format(printf, 2, 3)));
void fini_dblog_file(int flags);

void log_event(int number, const char *text);
void log_fault_event(int number, const char *text);
void log_allclear_event(int number, const char *text);
int log_disable_powerons(void);

#ifdef __cplusplus
}
#endif

#endif

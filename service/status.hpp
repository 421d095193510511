// The daemon's status: what kvtd last found, in one small text file on a
// RAM file system, for operators and tools (kvtcard status). The file is
// rewritten whole, through a temporary file renamed over it, when one of
// its results changes and at no other time: a card that keeps passing its
// checks costs no write and no wake-up.
//
// The file holds one "key: value" line per result, in this order:
//   pid: 1234
//   state: running                      (starting, running, halting, stopped, fatal stop)
//   state since: 2026-01-05 10:00:03
//   startup decision: capture           (capture, restore, nothing to do, none)
//   startup reason: card invalid
//   startup time: 2026-01-05 10:00:01
//   card check: -1                      (check_kvt_chip's result, or none)
//   card check meaning: I2C read failed
//   card check since: 2026-01-05 10:00:33
//   consecutive failures: 3
//   event manager: connected            (not connected, connected, disconnected,
//   event manager since: 2026-01-05 10:00:02    connected, audit events refused)
//   faults: 1
//   fault: 64 KVT_REMOVED, raised 2026-01-05 10:00:53
//   last write: section 7 (console)     (section N (name), whole image, none)
//   last write time: 2026-01-05 10:02:00
//   last write result: ok               (ok, failed: <error text>, none)
// "fault" repeats once per fault raised and not cleared; every other key
// appears exactly once. Times are local, as the service log writes them;
// a result that has not happened yet reads "none".
#pragma once

#include "card/sections.hpp"

namespace kvt::status {

inline constexpr const char *kPath = "/run/kvtd/status";

namespace key {
inline constexpr const char *pid = "pid";
inline constexpr const char *state = "state";
inline constexpr const char *state_since = "state since";
inline constexpr const char *decision = "startup decision";
inline constexpr const char *reason = "startup reason";
inline constexpr const char *decided = "startup time";
inline constexpr const char *check = "card check";
inline constexpr const char *check_meaning = "card check meaning";
inline constexpr const char *check_since = "card check since";
inline constexpr const char *failures = "consecutive failures";
inline constexpr const char *link = "event manager";
inline constexpr const char *link_since = "event manager since";
inline constexpr const char *faults = "faults";
inline constexpr const char *fault = "fault";
inline constexpr const char *write = "last write";
inline constexpr const char *write_time = "last write time";
inline constexpr const char *write_result = "last write result";
} // namespace key

inline constexpr const char *kNone = "none";
// Between a fault's name and the time it was raised.
inline constexpr const char *kRaisedAt = ", raised ";

// The file is written from the first of these three on, so that tests and
// tools that run the writers in their own process leave no status behind.
// Start-up has chosen its path; `reason` as the service log gives it.
void record_decision(const char *decision, const char *reason);
// The card monitor has begun.
void record_running();
// The fatal stop is under way; `write_result` is its whole-image write's.
void record_fatal_stop(int write_result);

// The process forked into the background: the file names the new process
// from now on (it was written by the parent until here).
void record_forked();
// The card monitor returned: the process ends once the frame is done.
void record_stopped();
// A card check's result (0 passed, -1 to -4 as check_kvt_chip returns).
// A halt requested meanwhile shows as the state "halting", since the
// monitor finishes its fault handling first.
void record_card_check(int result);
void record_fault_raised(int event, const char *name);
void record_fault_cleared(int event);
// The link to the event manager, over which every live change arrives:
// connected with the audit subscription, connected without it, or lost.
void record_link(bool connected, bool audit_subscribed);
// A card write and its result (negative: failed, reason in errno).
void record_section_write(Section section, int result);
// Start-up's capture and restore write the whole image.
void record_whole_image_write(int result);

} // namespace kvt::status

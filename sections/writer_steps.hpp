// The steps every live setting writer takes: parse the value into its
// field of kvt_image, recompute that section's checksum, rewrite the
// section on the card. Writers run on the event manager's delivery thread,
// one audit event at a time, so kvt_image needs no lock here.
#pragma once

#include "base/log.hpp"
#include "card/sections.hpp"
#include "sections/encodings.hpp"

namespace kvt::writer {

struct FieldWrite {
    Section section;
    ValueLine bad_line;       // takes the value as its one %s (or none)
    const char *write_failed; // logged when the card write fails
};

// Logs the bad-value line and stops; the section is not rewritten. The
// fatal stop writes the whole image, with whatever the writer had already
// changed in it, under an invalidated header.
[[noreturn]] void reject(ValueLine bad_line, const char *value);

// Writes the section with its checksum byte; a failed write is fatal.
void write_or_stop(Section section, const char *write_failed);

// Recomputes the section's checksum, then write_or_stop.
void commit_or_stop(Section section, const char *write_failed);

// The whole family: `store(value)` puts the value into its field and
// returns false for a value it cannot encode.
template <typename Store> void write_field(const FieldWrite &w, const char *value, Store store)
{
    if (!store(value))
        reject(w.bad_line, value);
    commit_or_stop(w.section, w.write_failed);
}

// A miscbits flag set or cleared by two exact texts; section 4.
void write_flag(const MiscFlag &flag, const char *value, ValueLine bad_line,
                const char *write_failed);

} // namespace kvt::writer

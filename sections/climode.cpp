#include "sections/climode.hpp"
#include "base/section_write.hpp"

#include <cstdio>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

#include "base/fatal_stop.hpp"
#include "base/files.hpp"
#include "base/log.hpp"
#include "card/sections.hpp"
#include "sections/card_texts.hpp"
#include "sections/user_data.hpp"

namespace {

// Lines are read in pieces of at most 79 characters: a longer line counts
// as two or more lines.
constexpr int kLineBufferSize = 80;

struct CliModeTable {
    kvt::CliModeEntry entries[kvt::kMaxUsers];
};

struct SplitLine {
    int parts = 0; // 0: no name, 1: a name but no mode, 2: both
    std::string_view name;
    std::string_view mode;
};

bool is_blank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Splits a line as the conversion "%[^:]:%s" would: the name is everything
// before the first colon (at least one character, blanks kept), the mode the
// first blank-delimited word after it. Only views into `line` are returned.
SplitLine split_line(std::string_view line)
{
    SplitLine split;
    const std::size_t colon = line.find(':');
    split.name = line.substr(0, colon);
    if (split.name.empty())
        return split;
    split.parts = 1;
    if (colon == std::string_view::npos)
        return split;
    std::size_t first = colon + 1;
    while (first < line.size() && is_blank(line[first]))
        ++first;
    std::size_t last = first;
    while (last < line.size() && !is_blank(line[last]))
        ++last;
    if (last == first)
        return split;
    split.mode = line.substr(first, last - first);
    split.parts = 2;
    return split;
}

// Reads up to 11 lines into the table; a line that does not split stops the
// daemon.
void read_table(std::FILE *file, CliModeTable &table)
{
    char line[kLineBufferSize];
    for (kvt::CliModeEntry &entry : table.entries) {
        if (std::fgets(line, sizeof line, file) == nullptr)
            return;
        const SplitLine split = split_line(std::string_view(line, ::strnlen(line, sizeof line)));
        if (split.parts != 2) {
            log_error("parse error! ret = %d\n", split.parts);
            kvtd_fatal_stop();
        }
        // The fields hold 16 characters; a longer name or mode is cut to fit
        // rather than refused, as the other text fields of the card are.
        entry.name.store(split.name);
        entry.mode.store(split.mode);
    }
}

} // namespace

void capture_climode_table(kvt_image_t *image, kvt::ValueLine open_fail_format)
{
    std::FILE *file = kvt::open_for_reading(kCliModePath);
    if (file == nullptr) {
        log_error_value(open_fail_format, kCliModePath);
        kvtd_fatal_stop();
    }
    // Filled aside: a parse error stops the daemon with the image untouched.
    CliModeTable table;
    std::memset(&table, 0, sizeof table);
    read_table(file, table);
    std::fclose(file);
    std::memcpy(image->climode_table, table.entries, sizeof table.entries);
}

void kvtd_snapshot_cli_mode()
{
    if (kvt::snapshot_skipped_by_policy())
        return;
    capture_climode_table(&kvt_image, "kvtd_snapshot_cli_mode: failed to open cli_mode file %s\n");
    if (kvt::commit_section(kvt::Section::climodes) < 0) {
        log_error("Error writing out KVT data!\n");
        kvtd_fatal_stop();
    }
}

namespace {

// The file's mode whatever the daemon's umask: the CLI reads it, only the
// SP's own services write it.
constexpr mode_t kCliModeFileMode = 0644;

// The lines of the used entries in table order. An entry whose line the
// capture could not read back (or that would split into other lines) is
// left out: written, it would stop the daemon at the next capture, and at
// every start after it, until someone mended the file by hand.
int skipped_entries = 0;

std::string restored_lines()
{
    std::string lines;
    skipped_entries = 0;
    const std::span table(kvt_image.climode_table);
    for (std::size_t k = 0; k < table.size(); ++k) {
        log_progress("i: %d\n", static_cast<int>(k));
        const kvt::CliModeEntry &entry = table[k];
        if (entry.name.chars[0] == '\0')
            continue;
        char name[sizeof entry.name.chars + 1];
        char mode[sizeof entry.mode.chars + 1];
        entry.name.c_str(name);
        entry.mode.c_str(mode);
        if (const kvt::TextProblem problem = kvt::climode_entry_problem(entry)) {
            log_error("restore_climode: skipping entry %d (%s:%s): %s\n", static_cast<int>(k), name,
                      mode, problem);
            ++skipped_entries;
            continue;
        }
        lines.append(name).append(":").append(mode).append("\n");
    }
    return lines;
}

[[noreturn]] void replace_failed(const kvt::ReplaceResult &result)
{
    log_error("restore_climode: %s of the new %s failed: %s; the old file stays\n",
              kvt::step_name(result.failed), kCliModePath, std::strerror(result.error));
    log_error("kvtd: failed to write climode ret=%d\n", -1);
    kvtd_fatal_stop();
}

} // namespace

// The file is replaced whole or not at all: a full file system or a failed
// write leaves the SP's old CLI modes in place.
void restore_climode()
{
    if (kvt::user_data_backup_off(kvt_image)) {
        log_error(
            "restore_climode: returning immediately because KVT_NO_BACKUP_USER_DATA is set\n");
        return;
    }
    kvt::FileReplacement file(kCliModePath, kCliModeFileMode);
    if (!file.opened()) {
        log_error("restore_climode: failed to open cli_mode file %s\n", kCliModePath);
        kvtd_fatal_stop();
    }
    log_progress("adding in the saved cli_modes\n");
    const kvt::ReplaceResult result = file.commit(restored_lines());
    if (result.failed != kvt::ReplaceStep::none)
        replace_failed(result);
    kvt::update_checksum(kvt_image, kvt::Section::climodes);
    log_progress("cli_mode restore done\n");
}

int restore_climode_skipped()
{
    return skipped_entries;
}

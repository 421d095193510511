#include "sections/climode.hpp"
#include "base/section_write.hpp"

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "base/fatal_stop.hpp"
#include "base/files.hpp"
#include "base/log.hpp"
#include "card/cli_mode_line.hpp"
#include "card/sections.hpp"
#include "sections/user_data.hpp"

namespace {

// Lines are read in pieces of at most 79 characters: a longer line counts
// as two or more lines.
constexpr int kLineBufferSize = 80;

struct CliModeTable {
    kvt::CliModeEntry entries[kvt::kMaxUsers];
};

// Reads up to 11 lines into the table; a line that does not split stops the
// daemon.
void read_table(std::FILE *file, CliModeTable &table)
{
    char line[kLineBufferSize];
    for (kvt::CliModeEntry &entry : table.entries) {
        if (std::fgets(line, sizeof line, file) == nullptr)
            return;
        const kvt::CliModeLine split =
            kvt::split_cli_mode_line(std::string_view(line, ::strnlen(line, sizeof line)));
        if (split.fields != 2) {
            log_error("parse error! ret = %d\n", split.fields);
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

// Restore of "/etc/cli_mode.conf" from the CLI-mode table: one "%s:%s\n"
// line per used entry, in table order.
#include <algorithm>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>

#include "base/fatal_stop.hpp"
#include "base/files.hpp"
#include "base/log.hpp"
#include "card/cli_mode_line.hpp"
#include "card/sections.hpp"
#include "sections/climode.hpp"
#include "sections/restore_plan.hpp"
#include "sections/user_data.hpp"

namespace {

using kvt::CliModeLinePlan;

// What fopen "w+" gives a file it creates: the umask applies. A file that
// is there keeps its owner, group and mode.
constexpr mode_t kCliModeCreateMode = 0666;
constexpr std::size_t kFieldChars = 16;

bool has_white_space(std::string_view text)
{
    return std::any_of(text.begin(), text.end(), kvt::is_cli_mode_blank);
}

// Why the entry's line would not read back through the capture ("%[^:]:%s"
// on lines of at most 79 characters, fields kept to 16) as the same entry,
// or nullptr when it would. Such a line, written, is read back as another
// entry, or stops the daemon with "parse error!" at the next capture and
// at every start after it. Everything else a name or mode holds (a tab or
// a carriage return in a name, an escape sequence) reads back as it was.
// Two fields of at most 16 characters keep every line under 80.
const char *line_problem(const kvt::CliModeEntry &entry)
{
    const std::string_view name = entry.name.view();
    const std::string_view mode = entry.mode.view();
    if (name.size() > kFieldChars)
        return "name over 16 characters";
    if (mode.size() > kFieldChars)
        return "mode over 16 characters";
    if (name.find('\n') != std::string_view::npos)
        return "newline in name";
    if (name.find(':') != std::string_view::npos)
        return "colon in name";
    if (mode.empty())
        return "empty mode";
    if (has_white_space(mode))
        return "white space in mode";
    return nullptr;
}

// The reason of a failed replacement goes to standard error, which at
// start-up is the caller's (the journal under the service manager): the
// service log keeps the restore's own lines alone.
void say_why(const kvt::ReplaceResult &result)
{
    std::fprintf(stderr, "kvtd: %s not replaced: %s; the old file stays\n", kCliModePath,
                 kvt::describe(result).c_str());
}

[[noreturn]] void write_failed(const kvt::ReplaceResult &result)
{
    say_why(result);
    log_error("kvtd: failed to write climode ret=%d\n", result.ret);
    kvtd_fatal_stop();
}

void write_or_stop(kvt::FileReplacement &file, const CliModeLinePlan &line)
{
    const kvt::ReplaceResult result = file.write(line.name + ":" + line.mode + "\n");
    if (result.failed != kvt::ReplaceStep::none)
        write_failed(result);
}

int skipped_entries = 0;

} // namespace

namespace kvt {

CliModeRestorePlan plan_climode_restore(const Image &image)
{
    CliModeRestorePlan plan;
    plan.backup_off = user_data_backup_off(image);
    const std::span table(image.climode_table);
    for (std::size_t k = 0; k < table.size(); ++k) {
        const CliModeEntry &entry = table[k];
        if (entry.name.chars[0] == '\0')
            continue;
        plan.used.push_back({static_cast<int>(k), std::string(entry.name.view()),
                             std::string(entry.mode.view()), line_problem(entry)});
    }
    return plan;
}

// A failed step keeps the old file whole (the lines written so far are
// never seen), then the fatal stop.
int apply_climode_restore(const CliModeRestorePlan &plan)
{
    if (plan.backup_off) {
        log_error(
            "restore_climode: returning immediately because KVT_NO_BACKUP_USER_DATA is set\n");
        return 0;
    }
    FileReplacement file(kCliModePath, kCliModeCreateMode);
    if (!file.opened()) {
        say_why(file.open_result());
        log_error("restore_climode: failed to open cli_mode file %s\n", kCliModePath);
        kvtd_fatal_stop();
    }
    log_progress("adding in the saved cli_modes\n");
    int skipped = 0;
    auto line = plan.used.begin();
    for (int k = 0; k < static_cast<int>(kMaxUsers); ++k) {
        log_progress("i: %d\n", k);
        if (line == plan.used.end() || line->entry != k)
            continue;
        if (line->skip_reason != nullptr) {
            log_error("restore_climode: skipping entry %d (%s:%s): %s\n", k, line->name.c_str(),
                      line->mode.c_str(), line->skip_reason);
            ++skipped;
        } else {
            write_or_stop(file, *line);
        }
        ++line;
    }
    const ReplaceResult committed = file.commit();
    if (committed.failed != ReplaceStep::none)
        write_failed(committed);
    update_checksum(kvt_image, Section::climodes);
    log_progress("cli_mode restore done\n");
    return skipped;
}

SectionPlan describe(const CliModeRestorePlan &plan)
{
    SectionPlan section{"CLI modes", plan.backup_off, {}};
    if (plan.backup_off)
        return section;
    int number = 0;
    for (const CliModeLinePlan &line : plan.used) {
        const std::string text = line.name + ":" + line.mode;
        if (line.skip_reason != nullptr)
            section.steps.push_back(
                {PlanAction::skip, "entry " + std::to_string(line.entry), text, line.skip_reason});
        else
            section.steps.push_back(
                {PlanAction::write, "line " + std::to_string(++number), text, {}});
    }
    return section;
}

} // namespace kvt

void restore_climode()
{
    skipped_entries = kvt::apply_climode_restore(kvt::plan_climode_restore(kvt_image));
}

int restore_climode_skipped()
{
    return skipped_entries;
}

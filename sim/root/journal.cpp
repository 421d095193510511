// The record of the calls that change the SP, kept while
// <root>/sim/journal exists (journal_start): one line per call, appended
// by whichever process makes it, so a call made by a process that then
// ended in the fatal stop stays on record.
#include <string>
#include <vector>

#include "sim/control.hpp"
#include "sim/root/files.hpp"
#include "sim/root/journal.hpp"

namespace kvtsim {

namespace {

std::string journal_path()
{
    return sim_path("journal");
}

} // namespace

void journal_start()
{
    files::replace(journal_path(), "");
}

std::vector<std::string> journal()
{
    return files::lines(journal_path());
}

// One line per call: a newline in a value is written as "\n", a backslash
// as "\\".
void journal_call(const std::string &call, int result)
{
    const std::string path = journal_path();
    if (!files::exists(path))
        return;
    std::string line;
    for (const char c : call)
        line += c == '\n'   ? std::string("\\n")
                : c == '\\' ? std::string("\\\\")
                            : std::string(1, c);
    files::append_line(path, line + " = " + std::to_string(result));
}

} // namespace kvtsim

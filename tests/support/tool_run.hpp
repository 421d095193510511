// Runs one of the built tools (kvtcard, kvtsim) as an engineer would, from
// KVT_BINARY_DIR, with its output and exit code.
#pragma once

#include <string>

namespace kvttest {

struct ToolRun {
    int status = -1;
    std::string out; // stdout and stderr
};

// `program` with `args` (words for the shell). kvtcard finds kvtsim
// beside itself.
ToolRun run_tool(const std::string &program, const std::string &args);

inline ToolRun kvtcard(const std::string &args)
{
    return run_tool("kvtcard", args);
}

inline bool has(const ToolRun &run, const std::string &text)
{
    return run.out.find(text) != std::string::npos;
}

// The rest of the line after the first `key` in `text`; empty without one.
inline std::string line_after(const std::string &text, const std::string &key)
{
    const auto at = text.find(key);
    if (at == std::string::npos)
        return {};
    const auto start = at + key.size();
    return text.substr(start, text.find('\n', start) - start);
}

} // namespace kvttest

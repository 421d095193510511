#include "tests/support/tool_run.hpp"

#include <array>
#include <cstdio>

#include <sys/wait.h>

namespace kvttest {

ToolRun run_tool(const std::string &program, const std::string &args)
{
    const std::string dir = KVT_BINARY_DIR;
    const std::string command = "KVT_KVTSIM='" + dir + "/kvtsim' KVT_PREVIEW='" + dir +
                                "/kvtd-preview' '" + dir + "/" + program + "' " + args + " 2>&1";
    ToolRun run;
    std::FILE *pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr)
        return run;
    std::array<char, 4096> buf{};
    std::size_t n = 0;
    while ((n = std::fread(buf.data(), 1, buf.size(), pipe)) > 0)
        run.out.append(buf.data(), n);
    const int status = ::pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

} // namespace kvttest

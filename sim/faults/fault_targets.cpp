// What the fault families that take a target may be set on: something the
// simulated SP has, so that a fault set on a mistyped target is refused
// instead of never firing.
#include <charconv>
#include <filesystem>
#include <string>

#include "sim/control.hpp"
#include "sim/faults/fault_targets.hpp"
#include "sim/services/object_schema.hpp"
#include "sim/services/persisted_vars.hpp"
#include "sim/services/post_names.hpp"

namespace kvtsim {

namespace {

bool object_target(std::string_view path)
{
    return find_object(path) != nullptr || path.starts_with("/X/users/");
}

bool event_class(std::string_view text)
{
    int number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    return error == std::errc{} && end == text.data() + text.size();
}

// A file of the daemon's: a plain absolute path in one of the directories
// of the root it keeps files in (not the root itself, not the simulator's
// own sim/).
bool daemon_file(std::string_view fixed)
{
    const auto slash = fixed.rfind('/');
    if (!fixed.starts_with('/') || slash == 0 || slash + 1 == fixed.size())
        return false;
    const std::string dir(fixed.substr(0, slash));
    if (dir == "/sim" || dir.starts_with("/sim/") || dir.find("/..") != std::string::npos)
        return false;
    std::error_code ignored;
    return std::filesystem::is_directory(path_in_root(dir), ignored);
}

} // namespace

bool fault_target_known(std::string_view family, std::string_view target)
{
    if (family.starts_with("luapi."))
        return object_target(target);
    if (family == "capi.verbosity_name:")
        return post_verbosity_known(target);
    if (family == "capi.level_name:")
        return post_level_known(target);
    if (family == "nv.get:")
        return nv_row(target).has_value();
    if (family.starts_with("em."))
        return event_class(target);
    if (family == "file.open:")
        return daemon_file(target);
    return false;
}

} // namespace kvtsim

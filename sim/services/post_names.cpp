// POST diagnostic verbosity and level names and their one-byte codes. One
// table per kind serves both directions, so a code captured onto the card
// always restores to the name it came from.
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/capi.h"
#include "sim/control.hpp"
#include "sim/services/post_names.hpp"

namespace {

struct PostName {
    const char *name;
    unsigned char code;
};

constexpr PostName kVerbosities[] = {
    {"min", 0},
    {"normal", 1},
    {"max", 2},
    {"debug", 3},
};

constexpr PostName kLevels[] = {
    {"off", 0},
    {"min", 1},
    {"max", 2},
    {"normal", 3},
};

// `fault_prefix` + name lets a test make a known name unknown.
template <std::size_t N>
int code_from_name(const PostName (&table)[N], const char *fault_prefix, const char *name,
                   uint32_t *code)
{
    if (!name || !code)
        return -1;
    if (kvtsim::fault_fires(std::string(fault_prefix) + name))
        return -1;
    for (const PostName &entry : table) {
        if (std::strcmp(entry.name, name) == 0) {
            *code = entry.code;
            return 0;
        }
    }
    return -1;
}

template <std::size_t N>
int name_from_code(const PostName (&table)[N], unsigned char code, const char **name)
{
    if (!name)
        return -1;
    for (const PostName &entry : table) {
        if (entry.code == code) {
            *name = entry.name;
            return 0;
        }
    }
    return -1;
}

template <std::size_t N> bool in_table(const PostName (&table)[N], std::string_view name)
{
    for (const PostName &entry : table)
        if (name == entry.name)
            return true;
    return false;
}

} // namespace

bool kvtsim::post_verbosity_known(std::string_view name)
{
    return in_table(kVerbosities, name);
}

bool kvtsim::post_level_known(std::string_view name)
{
    return in_table(kLevels, name);
}

extern "C" {

int capi_post_verbosity_type_from_name(const char *name, uint32_t *code)
{
    return code_from_name(kVerbosities, "capi.verbosity_name:", name, code);
}

int capi_post_diaglevel_type_from_name(const char *name, uint32_t *code)
{
    return code_from_name(kLevels, "capi.level_name:", name, code);
}

int capi_post_verbosity_name_from_type(unsigned char code, const char **name)
{
    return name_from_code(kVerbosities, code, name);
}

int capi_post_diaglevel_name_from_type(unsigned char code, const char **name)
{
    return name_from_code(kLevels, code, name);
}

} // extern "C"

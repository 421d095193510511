// The keyswitch position of the platform-control library, kept in the
// persisted variable "keyswitch_state" (codes 0 to 3).
#include <charconv>
#include <string>

#include "platform/capi.h"
#include "sim/control.hpp"
#include "sim/root/journal.hpp"

namespace {

constexpr const char *kKeyswitchVariable = "keyswitch_state";
constexpr unsigned kHighestPosition = 3;

} // namespace

extern "C" int capi_get_keyswitch(uint32_t *position)
{
    if (!position || kvtsim::fault_fires("capi.get_keyswitch"))
        return -1;
    const auto text = kvtsim::nv_get(kKeyswitchVariable);
    if (!text)
        return -1;
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), value);
    if (error != std::errc{} || end != text->data() + text->size() || value > kHighestPosition)
        return -1;
    *position = value;
    return 0;
}

extern "C" int capi_set_keyswitch(unsigned char position)
{
    int result = -1;
    if (!kvtsim::fault_fires("capi.set_keyswitch") && position <= kHighestPosition)
        result = kvtsim::nv_set(kKeyswitchVariable, std::to_string(position));
    kvtsim::journal_call("capi_set_keyswitch " + std::to_string(position), result);
    return result;
}

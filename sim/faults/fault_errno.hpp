// Faults of the I/O operations, whose value is the errno they report.
#pragma once

#include <cerrno>
#include <string_view>

#include "sim/control.hpp"

namespace kvtsim {

// True when the named fault fires, with errno set to its value (EIO when
// the fault was set without one).
inline bool fault_sets_errno(std::string_view name)
{
    long value = 0;
    if (!fault_fires(name, &value))
        return false;
    errno = value > 0 ? static_cast<int>(value) : EIO;
    return true;
}

} // namespace kvtsim

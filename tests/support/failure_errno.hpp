// The errno a failed call left: 0 when the call did not fail (-1), so that
// a refusal is read together with its reason.
#pragma once

#include <cerrno>

namespace kvttest {

template <typename Call> int failure_errno(Call call)
{
    errno = 0;
    return call() == -1 ? errno : 0;
}

} // namespace kvttest

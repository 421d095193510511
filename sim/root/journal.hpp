// Recording a call that changes the SP, for journal() of the control API.
#pragma once

#include <string>

namespace kvtsim {

// `call` is the operation and its arguments ("um_add_local_user alice");
// recorded with its result while a journal is kept.
void journal_call(const std::string &call, int result);

} // namespace kvtsim

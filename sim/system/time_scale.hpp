// KVT_SIM_TIME_SCALE as a factor (1 when unset or unreadable): every wait
// of the simulated SP, and the simulated card's write cycle, is scaled by it.
#pragma once

namespace kvtsim {

double time_scale();

} // namespace kvtsim

#include "base/daemon_state.hpp"

std::atomic<bool> frameRunning{false};
std::atomic<bool> serverActive{false};
int kvtPlatform = -1;

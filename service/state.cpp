// Process-wide state of the kvtd service.
#include "service/kvtd.hpp"

std::atomic<bool> serverActive{false};
int kvtPlatform = -1;
kvt_image_t kvt_new_image{};

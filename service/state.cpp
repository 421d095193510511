// Process-wide state of the kvtd service.
#include "service/kvtd.hpp"

kvt_image_t kvt_new_image{};

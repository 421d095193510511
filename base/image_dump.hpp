#pragma once

#include "card/image.hpp"

// Writes the image's dump to the service log as progress lines. An address
// that cannot be converted to text is logged as an error and ends in the
// fatal stop.
void log_image_dump(const kvt_image_t *image);

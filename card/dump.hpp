#pragma once

#include "card/image.hpp"

// Writes the image's fields to the service log in the fixed dump form.
// An address that cannot be converted to text ends in the fatal stop.
void dump_kvt_image(const kvt_image_t *image);

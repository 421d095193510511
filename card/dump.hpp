#pragma once

#include "card/image.hpp"

// Takes one whole line of the dump, texts from the card already escaped.
using DumpLine = void (*)(const char *line);

// Hands the image's fields, in the fixed dump form, to `progress` line by
// line. An address that cannot be converted to text ends the dump: its
// line goes to `error`, and the result is false.
bool dump_kvt_image(const kvt_image_t *image, DumpLine progress, DumpLine error);

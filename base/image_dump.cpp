#include "base/image_dump.hpp"

#include "base/fatal_stop.hpp"
#include "base/log.hpp"
#include "card/dump.hpp"

void log_image_dump(const kvt_image_t *image)
{
    const auto progress = [](const char *line) { kvt::log_fixed_line_above(0, line); };
    const auto error = [](const char *line) { kvt::log_fixed_line_above(3, line); };
    if (!dump_kvt_image(image, progress, error))
        kvtd_fatal_stop();
}

// Live writer of section 6: the customer information.
#include <cstring>

#include "base/log.hpp"
#include "sections/writer_steps.hpp"
#include "sections/writers.hpp"

void kvtd_write_customerinfo(const char *value)
{
    constexpr int kLimit = 40;
    kvt::writer::write_field(
        {kvt::Section::customer, nullptr, "write_customerinfo: write_KVT failed!\n"}, value,
        [](const char *v) {
            // Cut, not refused: the card keeps what fits.
            if (std::strlen(v) > kLimit)
                log_progress(
                    "write_customerinfo: sequence too long (%s), truncating to %d characters\n", v,
                    kLimit);
            kvt_image.customerinfo.store(v);
            return true;
        });
}

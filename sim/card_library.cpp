// The card library's image and its card I/O. Image offset N lives at
// EEPROM address 0x1800 + N, so the header is where the card monitor reads
// it over I2C.
#include <cerrno>
#include <functional>

#include "card/image.hpp"
#include "platform/card_lib.h"
#include "sim/control.hpp"
#include "sim/eeprom.hpp"
#include "sim/fault_errno.hpp"

struct kvt_image_t kvt_image;

extern "C" {

int read_in_KVT(void *image, int len)
{
    if (!image || len < 0 || static_cast<std::size_t>(len) > kvtsim::kImageSize) {
        errno = EINVAL;
        return -1;
    }
    if (kvtsim::fault_sets_errno("card.read"))
        return -1;
    return kvtsim::eeprom::read(kvtsim::kImageOffset, static_cast<unsigned char *>(image),
                                static_cast<std::size_t>(len));
}

// Only bytes of kvt_image can be written, and only to their own place on
// the card: a pointer or length that reaches outside the image is refused
// before anything is written.
int write_out_KVT(const void *data, int len)
{
    const unsigned char *first = kvt::image_bytes(kvt_image).data();
    const auto *at = static_cast<const unsigned char *>(data);
    // std::less orders any two pointers, also those into other objects.
    const std::less<const unsigned char *> before;
    if (!data || len < 0 || before(at, first) || before(first + kvtsim::kImageSize, at) ||
        static_cast<std::size_t>(len) > kvtsim::kImageSize - static_cast<std::size_t>(at - first)) {
        errno = EINVAL;
        return -1;
    }
    if (kvtsim::fault_sets_errno("card.write"))
        return -1;
    return kvtsim::eeprom::write(kvtsim::kImageOffset + static_cast<std::size_t>(at - first), at,
                                 static_cast<std::size_t>(len));
}

} // extern "C"

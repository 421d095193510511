// The card library's image and its card I/O. Image offset N lives at
// EEPROM address 0x1800 + N, so the header is where the card monitor reads
// it over I2C.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string_view>

#include "card/image.hpp"
#include "platform/card_lib.h"
#include "sim/card_io.hpp"
#include "sim/card_spare.hpp"
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

} // extern "C"

namespace {

kvtsim::eeprom::WriteMode write_mode()
{
    const char *mode = std::getenv(kvtsim::kCardWriteEnv);
    return mode && std::string_view(mode) == "all" ? kvtsim::eeprom::WriteMode::all
                                                   : kvtsim::eeprom::WriteMode::changed;
}

// A torn write: power or the card went away part way through. Only the
// first N bytes of the write reach the card, counted over all it programs
// (the intent, the image bytes, the spare record: sim/card_spare.hpp).
std::size_t bytes_reaching_card(bool *torn)
{
    long reach = 0;
    *torn = kvtsim::fault_fires("card.write_torn", &reach);
    if (!*torn)
        return SIZE_MAX;
    return static_cast<std::size_t>(std::max(reach, 0L));
}

} // namespace

extern "C" {

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
    bool torn = false;
    const std::size_t budget = bytes_reaching_card(&torn);
    kvtsim::CardIo tally{.writes = 1, .bytes_requested = static_cast<std::size_t>(len)};
    int result =
        kvtsim::spare::write_image(static_cast<std::size_t>(at - first), at,
                                   static_cast<std::size_t>(len), write_mode(), budget, tally);
    const int saved = errno;
    kvtsim::card_io_add(tally);
    errno = saved;
    if (result == 0 && torn) {
        errno = EIO;
        result = -1;
    }
    return result;
}

} // extern "C"

// The card image: any 1832 bytes, as a card of unknown origin may hold
// them, through the validator, the dump and every restore, in the order of
// a restore at start-up, against a simulated SP reset for every input.
//
// Input: the image; a shorter input is padded with zeros, a longer one cut.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "base/image_dump.hpp"
#include "fuzz/support.hpp"
#include "platform/card_lib.h"
#include "sections/climode.hpp"
#include "sections/misc.hpp"
#include "sections/network.hpp"
#include "sections/users.hpp"
#include "service/kvtd.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    kvtfuzz::setup_once();
    kvtfuzz::reset_sp();
    kvtfuzz::reset_image();

    // Each its own allocation of exactly one image: a read past the record
    // is caught, in the validator's copy as in the dump's.
    const auto image = std::make_unique<kvt_image_t>();
    std::memcpy(image.get(), data, std::min<std::size_t>(size, KVT_IMAGE_SIZE));
    const auto copy = std::make_unique<kvt_image_t>(*image);
    valid_KVT(copy.get(), kvtPlatform);
    kvtfuzz::run_step([&] { log_image_dump(image.get()); });

    kvt_image = *image;
    kvtfuzz::run_step(restore_passwd);
    kvtfuzz::run_step(restore_climode);
    kvtfuzz::run_step(restore_network);
    kvtfuzz::run_step(restore_misc);
    return 0;
}

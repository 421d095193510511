// The CLI-mode file: the input is the whole file, read into the CLI-mode
// table of an image of its own (exactly one image long, so that a write past
// the table's end is caught when it leaves the image).
#include <cstddef>
#include <cstdint>
#include <memory>

#include "fuzz/support.hpp"
#include "sections/climode.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    kvtfuzz::setup_once();
    kvtfuzz::write_root_file(kCliModePath, data, size);
    const auto image = std::make_unique<kvt_image_t>();
    kvtfuzz::run_step(
        [&] { capture_climode_table(image.get(), "fuzz: failed to open cli_mode file %s\n"); });
    return 0;
}

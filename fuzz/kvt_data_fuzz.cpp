// The KVT-data file: the input is the whole file, read by read_sp_mac.
#include <cstddef>
#include <cstdint>

#include "fuzz/support.hpp"
#include "service/kvtd.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    kvtfuzz::setup_once();
    kvtfuzz::write_root_file("/var/tmp/KVT-data", data, size);
    kvtfuzz::run_step([] {
        unsigned char mac[kvt::kMacLength];
        read_sp_mac(mac);
    });
    return 0;
}

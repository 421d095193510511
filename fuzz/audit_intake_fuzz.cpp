// Audit intake: any class-106 record, of any type and length, through the
// intake, the object-update router and the writers, against the captured
// card of the simulated SP.
//
// Input: byte 0 is the audit type (1 IPMI, 2 object service, 4 persisted
// variable; any other is ignored by the intake), the rest is the record.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/support.hpp"
#include "service/kvtd.hpp"

namespace {

constexpr int kClassMgmtAudit = 106;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    kvtfuzz::setup_once();
    if (size == 0)
        return 0;
    const int type = kvtfuzz::signed_byte(data[0]);
    // A copy of exactly the record's length: any read past it is caught,
    // and the record is not aligned in any way the sender would not promise.
    const std::vector<std::uint8_t> record(data + 1, data + size);
    kvtfuzz::reset_image();
    kvtfuzz::run_step([&] {
        kvtd_handle_event(kClassMgmtAudit, type, record.data(),
                          static_cast<std::uint32_t>(record.size()));
    });
    return 0;
}

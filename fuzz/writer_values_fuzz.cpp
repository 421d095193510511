// The setting writers' value parsers: the value text of a changed object,
// as the router or the intake hands it on, into the captured card image.
//
// Input: byte 0 selects the writer (modulo the table below); the writers
// with an item, a rule or a field take it from byte 1 as a signed number,
// so that items and rules the router never sends are tried as well; the
// rest, up to its first NUL, is the value.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "fuzz/support.hpp"
#include "sections/writers.hpp"

namespace {

using Writer = void (*)(int number, const char *value);

// Item, rule and field numbers packed into one signed byte: the rule in
// the high bits, the field in the low two.
constexpr Writer kWriters[] = {
    [](int item, const char *v) { kvtd_write_diag(item, v); },
    [](int item, const char *v) { kvtd_write_cli(item, v); },
    [](int n, const char *v) { kvtd_write_mailalert(n / 4, n % 4, v); },
    [](int, const char *v) { kvtd_write_diag(DIAG_TRIGGER, v); },
    [](int, const char *v) { kvtd_write_diag(DIAG_MODE, v); },
    [](int, const char *v) { kvtd_write_diag(DIAG_VERBOSITY_ERROR, v); },
    [](int, const char *v) { kvtd_write_diag(DIAG_LEVEL_USER, v); },
    [](int, const char *v) { kvtd_write_cli(CLI_PROMPT, v); },
    [](int, const char *v) { kvtd_write_cli(CLI_EVENT_LEVEL, v); },
    [](int, const char *v) { kvtd_write_cli(CLI_SERVICE_MODE, v); },
    [](int, const char *v) { kvtd_write_cli(CLI_TIMEOUT, v); },
    [](int, const char *v) { kvtd_write_mailalert(1, ALERT_DESTINATION, v); },
    [](int, const char *v) { kvtd_write_mailalert(15, ALERT_LEVEL, v); },
    [](int, const char *v) { kvtd_write_mailalert(7, ALERT_TYPE, v); },
    [](int, const char *v) { kvtd_write_autorunonerror(v); },
    [](int, const char *v) { kvtd_write_autorestart(v); },
    [](int, const char *v) { kvtd_write_escapechars(v); },
    [](int, const char *v) { kvtd_write_customerinfo(v); },
    [](int, const char *v) { kvtd_write_ssh_state(v); },
    [](int, const char *v) { kvtd_write_powerstatememory(v); },
    [](int, const char *v) { kvtd_write_powerondelay(v); },
    [](int, const char *v) { kvtd_write_backupuserdata(v); },
    [](int, const char *v) { kvtd_write_networkstate(v); },
    [](int, const char *v) { kvtd_write_mailhost_address(v); },
    [](int, const char *v) { kvtd_write_mailhost_port(v); },
    [](int, const char *v) { kvtd_write_mailhost_state(v); },
    [](int, const char *v) { kvtd_write_keyswitch(v); },
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    kvtfuzz::setup_once();
    if (size < 2)
        return 0;
    const std::span writers(kWriters);
    const Writer writer = writers[data[0] % writers.size()];
    const int number = kvtfuzz::signed_byte(data[1]);
    // Heap text of exactly the value's length plus its NUL.
    const std::string value(data + 2, data + size);
    kvtfuzz::reset_image();
    kvtfuzz::run_step([&] { writer(number, value.c_str()); });
    return 0;
}

// i2c_writeread of the platform boundary over the card slot's bus: the
// card monitor's header read. A part busy with a page write of the
// daemon's own does not acknowledge; the read waits that out like every
// other transfer, so only a card that stays silent fails the check. What
// the read finds also tells the card library whether its copy of the card
// still holds.
#include "platform/i2c.h"

#include <cerrno>
#include <vector>

#include "cardlib/card_watch.hpp"
#include "cardlib/i2c_bus.hpp"

extern "C" int i2c_writeread(int device, const unsigned char *write_buf, unsigned char *read_buf,
                             int write_len, int read_len)
{
    if (device < 0 || device > 0x7F || write_len < 0 || read_len < 0 ||
        (write_len > 0 && !write_buf) || (read_len > 0 && !read_buf) || write_len + read_len == 0) {
        errno = EINVAL;
        return -1;
    }
    std::vector<unsigned char> sent(write_buf, write_buf + write_len);
    const auto address = static_cast<std::uint16_t>(device);
    std::vector<cardlib::I2cMessage> messages;
    if (write_len > 0)
        messages.push_back({address, false, sent});
    if (read_len > 0)
        messages.push_back(
            {address, true, std::span(read_buf, static_cast<std::size_t>(read_len))});
    if (cardlib::transfer_when_ready(cardlib::board_card_bus(), messages) != 0) {
        const int error = errno;
        cardlib::note_card_unanswered();
        errno = error;
        return -1;
    }
    if (write_len == 2 && read_len > 0)
        cardlib::note_card_bytes(static_cast<std::size_t>(sent[0] << 8 | sent[1]),
                                 std::span(read_buf, static_cast<std::size_t>(read_len)));
    return 0;
}

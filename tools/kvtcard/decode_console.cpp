// Sections 6 and 7: customer information; console escape characters, mail
// host, keyswitch and host type.
#include "tools/kvtcard/decode.hpp"

namespace kvtcard {

Node decode_customer_info(const kvt::Image &image)
{
    return text_of(image.customerinfo);
}

Node decode_console(const kvt::Image &image)
{
    return Node::object()
        .set("escape_chars", text_of(image.escapechars))
        .set("mail_host", text_of(image.mailhost_address))
        .set("mail_port", Node::number(image.mailhost_port.get()))
        .set("keyswitch", Node::number(image.keyswitch))
        .set("host_type", Node::hex(image.host_type, 2));
}

} // namespace kvtcard

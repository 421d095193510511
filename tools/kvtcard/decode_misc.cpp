// Section 4: POST diagnostics, the miscbits flags and the CLI settings.
#include "tools/kvtcard/decode.hpp"

namespace kvtcard {

namespace {

struct PostCode {
    const char *key;
    unsigned char kvt_image_t::*field;
};

constexpr PostCode kPostCodes[] = {
    {"level_error", &kvt_image_t::diag_level_error},
    {"level_power", &kvt_image_t::diag_level_power},
    {"level_user", &kvt_image_t::diag_level_user},
    {"verbosity_error", &kvt_image_t::diag_verbosity_error},
    {"verbosity_power", &kvt_image_t::diag_verbosity_power},
    {"verbosity_user", &kvt_image_t::diag_verbosity_user},
};

} // namespace

Node decode_post(const kvt::Image &image)
{
    char trigger[kvt::kDiagTriggerTextSize];
    kvt::diag_trigger_text(image.diag_trigger, trigger);
    char mode[16];
    kvt::diag_mode_name(image.diag_mode, mode, sizeof mode);
    Node post = Node::object()
                    .set("trigger", Node::hex(image.diag_trigger, 2))
                    .set("trigger_text", Node::text(trigger))
                    .set("mode", Node::number(image.diag_mode))
                    .set("mode_name", Node::text(mode))
                    .set("level", Node::number(image.diag_level))
                    .set("verbosity", Node::number(image.diag_verbosity));
    for (const PostCode &code : kPostCodes)
        post.set(code.key, Node::number(image.*code.field));
    return post;
}

Node decode_flags(const kvt::Image &image)
{
    const std::uint16_t word = image.miscbits.get();
    Node settings = Node::array();
    for (const kvt::MiscFlag *flag : kMiscFlags)
        settings.push(Node::object()
                          .set("object", Node::text(flag->path))
                          .set("bit", Node::hex(flag->bit, 4))
                          .set("value", Node::text(kvt::flag_text(word, *flag))));
    settings.push(Node::object()
                      .set("object", Node::text(kvt::kAutorestartPath))
                      .set("bit", Node::hex(kvt::kAutorestartBits, 4))
                      .set("value", Node::text(kvt::autorestart_name(word))));
    return Node::object()
        .set("miscbits", Node::hex(word, 4))
        .set("unused_bits", Node::hex(word & kUnusedMiscBits, 4))
        .set("settings", std::move(settings));
}

Node decode_cli(const kvt::Image &image)
{
    return Node::object()
        .set("prompt", text_of(image.cliprompt))
        .set("event_level", Node::number(image.cli_eventlevel))
        .set("timeout", Node::number(image.cli_timeout.get()));
}

} // namespace kvtcard

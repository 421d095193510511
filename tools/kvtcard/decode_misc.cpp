// Section 4: POST diagnostics, the miscbits flags and the CLI settings.
#include "platform/capi.h"
#include "tools/kvtcard/decode.hpp"

namespace kvtcard {

namespace {

using CodeToName = int (*)(unsigned char, const char **);

struct PostCode {
    const char *key;
    unsigned char kvt_image_t::*field;
    CodeToName name_of;
};

constexpr PostCode kPostCodes[] = {
    {"level_error", &kvt_image_t::diag_level_error, capi_post_diaglevel_name_from_type},
    {"level_power", &kvt_image_t::diag_level_power, capi_post_diaglevel_name_from_type},
    {"level_user", &kvt_image_t::diag_level_user, capi_post_diaglevel_name_from_type},
    {"verbosity_error", &kvt_image_t::diag_verbosity_error, capi_post_verbosity_name_from_type},
    {"verbosity_power", &kvt_image_t::diag_verbosity_power, capi_post_verbosity_name_from_type},
    {"verbosity_user", &kvt_image_t::diag_verbosity_user, capi_post_verbosity_name_from_type},
};

} // namespace

Node decode_post(const kvt::Image &image, const DecodeOptions &options)
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
    for (const PostCode &code : kPostCodes) {
        const unsigned char value = image.*code.field;
        post.set(code.key, Node::number(value));
        if (!options.platform_names)
            continue;
        const char *name = nullptr;
        const bool named = code.name_of(value, &name) == 0 && name != nullptr;
        post.set(std::string(code.key) + "_name", Node::text(named ? name : kvt::kBadValueText));
    }
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

// Section 8: the copy of the CLI-mode file, one used entry per line.
#include "tools/kvtcard/decode.hpp"

namespace kvtcard {

Node decode_cli_modes(const kvt::Image &image, const DecodeOptions &options)
{
    Node modes = Node::array();
    long long k = 0;
    for (const kvt::CliModeEntry &entry : image.climode_table) {
        // A free entry is skipped wherever it stands, as the restore does.
        if (options.all || entry.name.chars[0] != '\0')
            modes.push(Node::object()
                           .set("slot", Node::number(k))
                           .set("name", text_of(entry.name))
                           .set("mode", text_of(entry.mode)));
        ++k;
    }
    return modes;
}

} // namespace kvtcard

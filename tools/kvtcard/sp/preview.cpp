// What a restore of a card would change on the simulated SP, object by
// object, and what start-up would do with the card there.
#include <cstdint>
#include <set>
#include <sstream>

#include "platform/capi.h"
#include "sections/user_data.hpp"
#include "sim/control.hpp"
#include "tools/kvtcard/sp/preview.hpp"
#include "tools/kvtcard/sp/restore_values.hpp"

namespace kvtcard {

namespace {

constexpr const char *kUnknown = "(unknown object)";

std::string current_value(const std::string &object)
{
    if (object == "keyswitch") {
        std::uint32_t position = 0;
        return capi_get_keyswitch(&position) == 0 ? std::to_string(position) : "(unreadable)";
    }
    return kvtsim::object_get(object).value_or(kUnknown);
}

std::set<std::string> words(const std::string &text)
{
    std::istringstream in(text);
    std::set<std::string> set;
    for (std::string word; in >> word;)
        set.insert(word);
    return set;
}

// The diagnostic trigger is a set of names: the SP lists them in its own
// order, the card's decoding in bit order with a blank after each.
bool same_value(const CardSetting &setting, const std::string &current)
{
    if (setting.object == "/HOST/diag/trigger")
        return words(current) == words(setting.value);
    return current == setting.value;
}

Node compare(const std::vector<CardSetting> &settings)
{
    Node list = Node::array();
    for (const CardSetting &setting : settings) {
        const std::string current = current_value(setting.object);
        Node entry = Node::object()
                         .set("object", Node::text(setting.object))
                         .set("current", Node::text(current))
                         .set("card", Node::text(setting.value))
                         .set("changes", Node::boolean(!same_value(setting, current)));
        if (!setting.note.empty())
            entry.set("note", Node::text(setting.note));
        list.push(std::move(entry));
    }
    return list;
}

std::vector<std::string> split_lines(const std::string &text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

Node lines_node(const std::vector<std::string> &lines)
{
    Node list = Node::array();
    for (const std::string &line : lines)
        list.push(Node::text(line));
    return list;
}

Node preview_cli_mode_file(const kvt::Image &image)
{
    const std::vector<std::string> current = split_lines(kvtsim::cli_mode_file());
    if (kvt::user_data_backup_off(image))
        return Node::object()
            .set("restored", Node::boolean(false))
            .set("reason", Node::text("user-data backup is disabled on the card"))
            .set("current", lines_node(current));
    const std::vector<std::string> card = cli_mode_lines_from_card(image);
    return Node::object()
        .set("restored", Node::boolean(true))
        .set("changes", Node::boolean(current != card))
        .set("current", lines_node(current))
        .set("card", lines_node(card));
}

} // namespace

Node preview_card(const Card &card)
{
    const kvt::Image &image = card.image;
    return Node::object()
        .set("source", Node::text(card.source))
        .set("root", Node::text(kvtsim::root()))
        .set("startup", startup_decision(card))
        // In the restore's order: users, CLI modes, network, the rest.
        .set("users", preview_users(image))
        .set("cli_mode_file", preview_cli_mode_file(image))
        .set("network", compare(network_settings_from_card(image)))
        .set("objects", compare(misc_settings_from_card(image)));
}

} // namespace kvtcard

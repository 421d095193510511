// Section 5: the 15 alert rules, numbered 1 to 15 as their objects are.
#include "tools/kvtcard/decode.hpp"

namespace kvtcard {

namespace {

// A rule that names no destination, level or type alerts nobody.
bool rule_used(const kvt::AlertRule &rule)
{
    return rule.destination.chars[0] != '\0' || rule.level != 0 || rule.type != 0;
}

} // namespace

Node decode_alert_rules(const kvt::Image &image, const DecodeOptions &options)
{
    Node rules = Node::array();
    long long n = 0;
    for (const kvt::AlertRule &rule : image.alert_rules) {
        ++n;
        if (!options.all && !rule_used(rule))
            continue;
        rules.push(Node::object()
                       .set("rule", Node::number(n))
                       .set("destination", text_of(rule.destination))
                       .set("level", Node::number(rule.level))
                       .set("level_name", Node::text(kvt::alert_level_name(rule.level)))
                       .set("type", Node::number(rule.type))
                       .set("type_name", Node::text(kvt::alert_type_name(rule.type))));
    }
    return rules;
}

} // namespace kvtcard

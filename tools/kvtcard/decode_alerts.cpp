// Section 5: the 15 alert rules, numbered 1 to 15 as their objects are.
#include "tools/kvtcard/decode.hpp"

namespace kvtcard {

Node decode_alert_rules(const kvt::Image &image)
{
    Node rules = Node::array();
    long long n = 0;
    for (const kvt::AlertRule &rule : image.alert_rules)
        rules.push(Node::object()
                       .set("rule", Node::number(++n))
                       .set("destination", text_of(rule.destination))
                       .set("level", Node::number(rule.level))
                       .set("level_name", Node::text(kvt::alert_level_name(rule.level)))
                       .set("type", Node::number(rule.type))
                       .set("type_name", Node::text(kvt::alert_type_name(rule.type))));
    return rules;
}

} // namespace kvtcard

// What start-up would do with a card on the simulated SP: the daemon's own
// rule (service/startup_decision.hpp) on the card library's verdict and the
// state the SP recorded.
#include <algorithm>

#include "service/startup_decision.hpp"
#include "sim/control.hpp"
#include "tools/kvtcard/decode.hpp"
#include "tools/kvtcard/sp/preview.hpp"

namespace kvtcard {

Node startup_decision(const Card &card)
{
    const cardlib::CardVerdict verdict = card_verdict(card);
    const std::string state = kvtsim::daemon_state();
    const kvtsim::Mac sp = kvtsim::sp_mac();

    kvt::StartupFacts facts;
    facts.card_valid = verdict.accepted();
    facts.card_reason = cardlib::verdict_reason(verdict);
    facts.shutdown = state == "shutdown";
    facts.moved = kvtsim::moved();
    facts.same_mac = std::equal(sp.begin(), sp.end(), std::begin(card.image.sp_mac));
    const kvt::StartupAction action = kvt::startup_action(facts);
    return Node::object()
        .set("action", Node::text(kvt::action_name(action)))
        .set("reason", Node::text(kvt::startup_reason(facts)))
        .set("card_verdict", Node::text(facts.card_reason))
        .set("card_valid", Node::boolean(facts.card_valid))
        .set("card_mac", Node::text(mac_text(card.image.sp_mac)))
        .set("sp_mac", Node::text(mac_text(sp.data())))
        .set("daemon_state", Node::text(state))
        .set("moved", Node::boolean(facts.moved));
}

} // namespace kvtcard

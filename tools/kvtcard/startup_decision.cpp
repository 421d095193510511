// What start-up would do with a card on the simulated SP: capture, restore
// or nothing, by the same tests in the same order as the daemon.
#include <algorithm>

#include "sim/control.hpp"
#include "tools/kvtcard/commands.hpp"
#include "tools/kvtcard/verify.hpp"

namespace kvtcard {

Node startup_decision(const kvt::Image &image)
{
    const std::vector<std::string> refusals = refusal_reasons(image);
    const std::string state = kvtsim::daemon_state();
    const bool shutdown = state == "shutdown";
    const bool moved = kvtsim::moved();
    const kvtsim::Mac sp = kvtsim::sp_mac();
    const bool same_mac = std::equal(sp.begin(), sp.end(), std::begin(image.sp_mac));

    Node reasons = Node::array();
    const char *action = "nothing";
    if (!refusals.empty() || shutdown) {
        action = "capture";
        for (const std::string &reason : refusals)
            reasons.push(Node::text("card invalid: " + reason));
        if (shutdown)
            reasons.push(Node::text("the previous run ended in the fatal stop (daemon state "
                                    "shutdown)"));
    } else if (!same_mac || moved) {
        action = "restore";
        if (!same_mac)
            reasons.push(Node::text("card MAC " + mac_text(image.sp_mac) + " differs from SP MAC " +
                                    mac_text(sp.data())));
        if (moved)
            reasons.push(Node::text("the card library records the card as moved"));
    } else {
        reasons.push(Node::text("card valid, its MAC is the SP's, not moved"));
    }
    return Node::object()
        .set("action", Node::text(action))
        .set("reasons", std::move(reasons))
        .set("card_valid", Node::boolean(refusals.empty()))
        .set("card_mac", Node::text(mac_text(image.sp_mac)))
        .set("sp_mac", Node::text(mac_text(sp.data())))
        .set("daemon_state", Node::text(state))
        .set("moved", Node::boolean(moved));
}

} // namespace kvtcard

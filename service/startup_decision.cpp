#include "service/startup_decision.hpp"

namespace kvt {

StartupAction startup_action(const StartupFacts &facts)
{
    if (!facts.card_valid || facts.shutdown)
        return StartupAction::capture;
    if (!facts.same_mac || facts.moved)
        return StartupAction::restore;
    return StartupAction::nothing;
}

const char *action_name(StartupAction action)
{
    switch (action) {
    case StartupAction::capture:
        return "capture";
    case StartupAction::restore:
        return "restore";
    case StartupAction::nothing:
        break;
    }
    return "nothing to do";
}

std::string startup_reason(const StartupFacts &facts)
{
    std::string reason = facts.card_reason;
    if (facts.shutdown)
        return reason + ", shutdown recorded";
    if (!facts.card_valid)
        return reason;
    if (facts.same_mac && !facts.moved)
        return reason + ", MAC matches, not moved";
    if (!facts.same_mac)
        reason += ", card MAC differs from SP MAC";
    if (facts.moved)
        reason += ", card moved";
    return reason;
}

} // namespace kvt

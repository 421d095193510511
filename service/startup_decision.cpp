#include "service/startup_decision.hpp"

#include "card/image.hpp"
#include "service/kvtd.hpp"

namespace kvt {

void judge_card(const kvt_image_t &image, StartupFacts &facts, kvt_card_verdict &verdict)
{
    // The library gets a copy so that nothing it does can touch the image.
    kvt_image_t copy = image;
    facts.card_valid = valid_KVT(&copy, kvtPlatform) != 0;
    if (describe_KVT(&copy, kvtPlatform, &verdict) != 0) {
        facts.card_reason = facts.card_valid ? "card valid" : "card invalid";
        return;
    }
    facts.card_valid = facts.card_valid && verdict.valid != 0;
    facts.card_reason = verdict.reason;
}

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

// kvtd-preview: what kvtd would do with a card on this SP, made by the
// daemon's own code: start-up's rule on the SP's recorded state, and the
// plan of each section's restore (sections/restore_plan.hpp) on the SP's
// current state, the very plans a restore applies. It is built against the
// SP's services as kvtd is; kvtcard preview runs it.
//   kvtd-preview [--json] CARD        CARD: an image or EEPROM dump, or --sim
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/log.hpp"
#include "platform/capi.h"
#include "platform/card_lib.h"
#include "platform/util.h"
#include "sections/encodings.hpp"
#include "sections/restore_plan.hpp"
#include "service/kvtd.hpp"
#include "tools/kvtcard/card_file.hpp"
#include "tools/kvtcard/decode.hpp"
#include "tools/kvtcard/node.hpp"
#include "tools/preview/sp_reads.hpp"

namespace {

using kvtcard::Node;
using kvtpreview::ObjectSession;

constexpr int kUsageError = 2;

struct LoadedCard {
    std::string source;
    kvt::Image image{};
    bool valid = false;
    std::string reason;
};

// The card in the slot, read and judged by the card library as start-up
// reads and judges it.
bool load_slot(LoadedCard &card, std::string &error)
{
    if (read_in_KVT(&card.image, KVT_IMAGE_SIZE) < 0) {
        error = std::string("cannot read the card in the slot: ") + std::strerror(errno);
        return false;
    }
    kvt::StartupFacts judged;
    kvt_card_verdict verdict{};
    kvt::judge_card(card.image, judged, verdict);
    card.valid = judged.card_valid;
    card.reason = judged.card_reason;
    card.source = "slot";
    return true;
}

bool load_file(const std::string &path, LoadedCard &card, std::string &error)
{
    kvtcard::Card loaded;
    if (!kvtcard::load_card(path, loaded, error))
        return false;
    const cardlib::CardVerdict verdict = kvtcard::card_verdict(loaded);
    card.source = loaded.source;
    card.image = loaded.image;
    card.valid = verdict.accepted();
    card.reason = cardlib::verdict_reason(verdict);
    return true;
}

Node startup_node(const LoadedCard &card)
{
    const kvtpreview::Startup startup =
        kvtpreview::startup_facts(card.image, card.valid, card.reason);
    Node node = Node::object();
    if (!startup.sp_mac_read && startup.facts.card_valid && !startup.facts.shutdown)
        // Start-up would stop here with the line it read: no decision.
        node.set("action", Node::text("stop")).set("reason", Node::text(startup.sp_mac));
    else
        node.set("action", Node::text(kvt::action_name(kvt::startup_action(startup.facts))))
            .set("reason", Node::text(kvt::startup_reason(startup.facts)));
    return node.set("card_verdict", Node::text(card.reason))
        .set("card_valid", Node::boolean(card.valid))
        .set("card_mac", Node::text(kvtcard::mac_text(card.image.sp_mac)))
        .set("sp_mac", Node::text(startup.sp_mac))
        .set("shutdown_recorded", Node::boolean(startup.facts.shutdown))
        .set("moved", Node::boolean(startup.facts.moved));
}

Node step_node(const kvt::PlanStep &step)
{
    Node node = Node::object()
                    .set("action", Node::text(kvt::plan_action_name(step.action)))
                    .set("target", Node::text(step.target));
    if (!step.value.empty())
        node.set("value", Node::text(step.value));
    if (!step.reason.empty())
        node.set("reason", Node::text(step.reason));
    return node;
}

Node steps_node(const kvt::SectionPlan &plan)
{
    Node steps = Node::array();
    for (const kvt::PlanStep &step : plan.steps)
        steps.push(step_node(step));
    return steps;
}

Node section_head(const kvt::SectionPlan &plan)
{
    Node node = Node::object().set("restored", Node::boolean(!plan.skipped_by_policy));
    if (plan.skipped_by_policy)
        node.set("reason", Node::text("user-data backup is disabled on the card"));
    return node;
}

Node lines_node(const std::vector<std::string> &lines)
{
    Node list = Node::array();
    for (const std::string &line : lines)
        list.push(Node::text(line));
    return list;
}

Node climode_node(const kvt::CliModeRestorePlan &plan)
{
    const kvt::SectionPlan described = kvt::describe(plan);
    const std::vector<std::string> current = kvtpreview::cli_mode_lines();
    Node node = section_head(described);
    std::vector<std::string> written;
    for (const kvt::PlanStep &step : described.steps)
        if (step.action == kvt::PlanAction::write)
            written.push_back(step.value);
    if (!described.skipped_by_policy)
        node.set("changes", Node::boolean(current != written));
    node.set("current", lines_node(current));
    if (!described.skipped_by_policy)
        node.set("card", lines_node(written));
    return node.set("steps", steps_node(described));
}

// The trigger's words may stand in any order: the same set is no change.
bool same_value(const std::string &object, const std::string &a, const std::string &b)
{
    if (object == "/HOST/diag/trigger")
        return kvt::diag_trigger_from_text(a.c_str()) == kvt::diag_trigger_from_text(b.c_str());
    return a == b;
}

// A pending network setting is compared with the setting it becomes.
std::string compared_object(const std::string &object)
{
    const std::string pending = "/X/network/pending";
    if (object.starts_with(pending))
        return "/X/network/" + object.substr(pending.size());
    return object;
}

std::optional<std::string> current_value(ObjectSession &session, const std::string &object)
{
    if (object != "keyswitch")
        return session.value(compared_object(object));
    const auto position = kvtpreview::keyswitch();
    return position ? std::optional(std::to_string(*position)) : std::nullopt;
}

// One entry per step: what is set and what the SP holds now.
Node settings_node(const kvt::SectionPlan &plan, ObjectSession &session)
{
    Node list = Node::array();
    for (const kvt::PlanStep &step : plan.steps) {
        Node entry = Node::object().set("object", Node::text(step.target));
        if (step.action == kvt::PlanAction::set && step.target != "/X/network/commitpending") {
            const auto current = current_value(session, step.target);
            entry.set("current", Node::text(current.value_or("(unreadable)")))
                .set("card", Node::text(step.value))
                .set("changes",
                     Node::boolean(!current || !same_value(step.target, *current, step.value)));
        } else {
            entry.set("action", Node::text(kvt::plan_action_name(step.action)));
            if (!step.value.empty())
                entry.set("card", Node::text(step.value));
        }
        if (!step.reason.empty())
            entry.set("note", Node::text(step.reason));
        list.push(std::move(entry));
    }
    return list;
}

Node network_node(const kvt::Image &image, ObjectSession &session)
{
    if (!session.open())
        return Node::array().push(
            Node::object()
                .set("object", Node::text("/X/network/ipdiscovery"))
                .set("note", Node::text("the configuration-object service cannot be reached")));
    return settings_node(kvt::describe(kvt::plan_network_restore(session.get(), image)), session);
}

std::string sp_root()
{
    char path[PATH_MAX];
    std::string root = sp_resolve_path("/", path, sizeof path);
    if (root.size() > 1 && root.ends_with('/'))
        root.pop_back();
    return root;
}

Node preview(const LoadedCard &card)
{
    const kvt::Image &image = card.image;
    ObjectSession session;
    const kvt::SectionPlan users = kvt::describe(kvt::plan_user_restore(image));
    return Node::object()
        .set("source", Node::text(card.source))
        .set("root", Node::text(sp_root()))
        .set("startup", startup_node(card))
        // In the restore's order: users, CLI modes, network, the rest.
        .set("users", section_head(users).set("steps", steps_node(users)))
        .set("cli_mode_file", climode_node(kvt::plan_climode_restore(image)))
        .set("network", network_node(image, session))
        .set("objects", settings_node(kvt::describe(kvt::plan_misc_restore(image)), session));
}

int usage()
{
    std::fputs("usage: kvtd-preview [--json] CARD|--sim\n", stderr);
    return kUsageError;
}

} // namespace

int main(int argc, char **argv)
{
    // The preview only looks: not a line goes to the SP's service log.
    kvt::debug_level = 0;
    bool json = false;
    std::string where;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--json")
            json = true;
        else if (where.empty())
            where = arg;
        else
            return usage();
    }
    if (where.empty())
        return usage();
    kvtPlatform = capi_get_platform();
    LoadedCard card;
    std::string error;
    const bool loaded =
        where == kvtcard::kSimCard ? load_slot(card, error) : load_file(where, card, error);
    if (!loaded) {
        std::fprintf(stderr, "kvtd-preview: %s\n", error.c_str());
        return kUsageError;
    }
    const Node document = preview(card);
    std::fputs((json ? kvtcard::to_json(document) : kvtcard::to_text(document)).c_str(), stdout);
    return 0;
}

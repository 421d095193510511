#include "sections/restore_plan.hpp"

namespace kvt {

const char *plan_action_name(PlanAction action)
{
    switch (action) {
    case PlanAction::set:
        return "set";
    case PlanAction::add:
        return "add";
    case PlanAction::remove:
        return "delete";
    case PlanAction::keep:
        return "keep";
    case PlanAction::skip:
        return "skip";
    case PlanAction::write:
        return "write";
    case PlanAction::stop:
        return "stop";
    }
    return "?";
}

} // namespace kvt

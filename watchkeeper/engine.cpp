#include "engine.hpp"

namespace property_mon
{
namespace
{

/** Ends planning with `error`: nothing of the signal is acted on, and the
 *  masks stay as they were. */
Plan refuse(const ShapeError& error, const State& before)
{
    Plan p;
    p.after = before;
    p.error = error;
    return p;
}

void applyFault(const FaultUpdate& u, State& s)
{
    uint8_t* mask = nullptr;
    switch (u.kind)
    {
        case FaultKind::fanFail:
            mask = &s.fanFailMask;
            break;
        case FaultKind::thermalHot:
            mask = &s.thermalHotMask;
            break;
        case FaultKind::memMultiBitError:
        case FaultKind::other:
            // Memory errors have no mask of their own; they only cause the
            // LED write below.
            return;
    }
    if (u.assert)
    {
        *mask = static_cast<uint8_t>(*mask | u.bit);
    }
    else
    {
        *mask = static_cast<uint8_t>(*mask & ~u.bit);
    }
}

/** Carries out entry `e` when its value equals `v`.  With `gated`, a
 *  "condition": ["hoststate", n] member that does not match the host-running
 *  flag ends the entry there.  Answers the first malformed part that
 *  reading the entry meets, in the order it is read; the caller then drops
 *  the plan. */
const ShapeError* runEntry(const Entry& e, int32_t v, bool gated, Plan& plan)
{
    if (e.valueError)
    {
        return &*e.valueError;
    }
    if (e.value != v)
    {
        return nullptr;
    }
    if (e.actionsError)
    {
        return &*e.actionsError;
    }
    int32_t running = plan.after.hostRunning ? 1 : 0;
    for (const ActionObject& a : e.actions)
    {
        if (gated)
        {
            if (a.gateError)
            {
                return &*a.gateError;
            }
            if (a.gate && a.gate->name == "hoststate" &&
                a.gate->value != running)
            {
                break;
            }
        }
        if (a.stepsError)
        {
            return &*a.stepsError;
        }
        runAction(a, plan);
    }
    return nullptr;
}

} // namespace

bool hostRunningFromStartup(const std::string& currentHostState)
{
    return currentHostState != hostStateOff;
}

void setSystemFaultLed(Plan& plan)
{
    bool on = (plan.after.fanFailMask | plan.after.thermalHotMask) != 0;
    plan.effects.emplace_back(LedWrite{systemFaultLed, on});
}

void runAction(const ActionObject& action, Plan& plan)
{
    for (const Step& step : action.steps)
    {
        if (const auto* led = std::get_if<LedWrite>(&step))
        {
            plan.effects.emplace_back(*led);
        }
        else if (const auto* pass = std::get_if<FaultPass>(&step))
        {
            for (const FaultUpdate& u : pass->updates)
            {
                applyFault(u, plan.after);
                setSystemFaultLed(plan);
            }
        }
        else
        {
            plan.effects.emplace_back(std::get<RunCommand>(step));
        }
    }
}

Plan runHostStateActions(const std::vector<Entry>& hostState,
                         const State& before)
{
    Plan plan;
    plan.after = before;
    int32_t running = before.hostRunning ? 1 : 0;
    for (const Entry& e : hostState)
    {
        // "condition" does not gate host-state actions.
        if (const ShapeError* bad = runEntry(e, running, false, plan))
        {
            return refuse(*bad, before);
        }
    }
    return plan;
}

Plan onHostState(const std::vector<Entry>& hostState,
                 const std::string& currentHostState, const State& before)
{
    State s = before;
    if (currentHostState == hostStateOff)
    {
        s.hostRunning = false;
    }
    else if (currentHostState == hostStateRunning)
    {
        s.hostRunning = true;
    }
    else
    {
        return Plan{{}, before, std::nullopt};
    }
    Plan plan = runHostStateActions(hostState, s);
    // The flag follows the host even when the actions were refused.
    plan.after.hostRunning = s.hostRunning;
    return plan;
}

Plan onPropertiesChanged(const std::vector<PropertyRule>& rules,
                         const std::map<std::string, bool>& changed,
                         const State& before)
{
    Plan plan;
    plan.after = before;
    for (const PropertyRule& rule : rules)
    {
        if (rule.tableError)
        {
            return refuse(*rule.tableError, before);
        }
        auto it = changed.find(rule.property);
        if (it == changed.end())
        {
            continue;
        }
        int32_t v = it->second ? 1 : 0;
        for (const Entry& e : rule.entries)
        {
            if (const ShapeError* bad = runEntry(e, v, true, plan))
            {
                return refuse(*bad, before);
            }
        }
    }
    return plan;
}

} // namespace property_mon

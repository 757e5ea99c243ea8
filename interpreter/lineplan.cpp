// lineplan: statement lines compiled once, when first run, into a short list of
// operations (read a variable, hold a constant, call a function, assign) that
// later runs of the same line follow without matching any reduction rule: the
// cache of plans, the switch, and the run of a line statement by statement.
// Relies on the compiler and runner of plans and the running function's frame.
#include "interpreter/lineplan.h"

#include "core/frames.h"
#include "core/symtab.h"
#include "interpreter/execfn.h"
#include "interpreter/execline.h"
#include "interpreter/lineplan_form.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

using namespace lineplan;

namespace {

Plan plans[kPlanSlots];
bool plansOn = true;
int64_t planRuns = 0;

// memcmp's call costs more than these few words. The last word may overlap
// the one before it.
bool SameBytes(const uint8_t *a, const uint8_t *b, ptrdiff_t n) {
    uint64_t x, y;
    if (n < 8) {
        for (ptrdiff_t i = 0; i < n; ++i)
            if (a[i] != b[i]) return false;
        return true;
    }
    for (ptrdiff_t i = 0; i + 8 < n; i += 8) {
        memcpy(&x, a + i, 8), memcpy(&y, b + i, 8);
        if (x != y) return false;
    }
    memcpy(&x, a + n - 8, 8), memcpy(&y, b + n - 8, 8);
    return x == y;
}

// A slot's stamp is never 0, which no hint holds for a plan.
uint32_t lastStamp = 0;

uint32_t NewStamp() {
    if (++lastStamp == 0) ++lastStamp;
    return lastStamp;
}

// The plan of the line: the one the hint names while its slot has not
// changed, else found by address and confirmed byte for byte, or compiled
// into the slot now (again when its names changed kind). Null when the line
// has none, or when its slot holds a plan still running.
Plan *PlanOf(const StoredLine &line, LinePlanHint *hint) {
    if (hint && hint->plan) {
        auto *plan = static_cast<Plan *>(hint->plan);
        // A plan that calls nothing reads every name, which each run checks
        // is a variable; the kinds are compared when that check fails.
        if (plan->stamp == hint->stamp && (!plan->calls || KindsHold(*plan))) return plan;
    }
    const ptrdiff_t length = line.last - line.begin + 1;
    if (length > kMaxPlanBytes || length < 1) return nullptr;
    const auto address = reinterpret_cast<uintptr_t>(line.last);
    Plan &plan = plans[(address ^ (address >> 7)) % kPlanSlots];
    if (!(plan.last == line.last && plan.length == length && SameBytes(plan.bytes, line.begin, length) &&
          ((plan.usable && !plan.calls) || KindsHold(plan)))) {
        if (plan.running > 0) return nullptr;
        plan.last = line.last;
        plan.length = static_cast<int16_t>(length);
        memcpy(plan.bytes, line.begin, static_cast<size_t>(length));
        plan.stamp = NewStamp();
        plan.usable = CompileLine(line, plan);
    }
    if (!plan.usable) return nullptr;
    if (hint) *hint = {&plan, plan.stamp};
    return &plan;
}

// The slot no longer describes its line: it is compiled again when the line
// next runs, and no hint finds it.
void Unhook(Plan &plan) {
    plan.last = nullptr;
    plan.stamp = 0;
}

// Whether the statements before the given one assign the symbol.
bool AssignedBefore(const Plan &plan, int statement, uint16_t symbol) {
    const int end = plan.statement[statement].first;
    for (int i = 0; i < end; ++i)
        if (plan.op[i].kind == OpKind::Assign && plan.op[i].symbol == symbol) return true;
    return false;
}

// Whether every name the line reads is a variable now, or a name without a
// meaning yet that a statement run earlier in the line makes a variable (one
// whose assignment fails ends the line).
bool NamesAreVariables(const Plan &plan) {
    for (int s = 0; s < plan.statements; ++s) {
        const Statement &statement = plan.statement[s];
        const uint16_t *name = plan.name + statement.firstName;
        for (int i = 0; i < statement.names; ++i) {
            if (ReadsAsVariable(name[i])) continue;
            if (s == 0 || !IsSymbol(name[i]) || Symbol(name[i]).kind != 0 || !AssignedBefore(plan, s, name[i]))
                return false;
        }
    }
    return true;
}

// A branch taken by a running function ends its line, as in the walk.
bool BranchTaken() { return currentFrame && currentFrame != SessionFrame() && currentFrame->jumped; }

}  // namespace

void ReadLinePlanSwitch() {
    const char *setting = getenv("ORBAX_PLANS");
    plansOn = !setting || (strcmp(setting, "0") != 0 && strcmp(setting, "off") != 0);
}

void SetLinePlans(bool on) { plansOn = on; }

bool LinePlansOn() { return plansOn; }

int64_t LinePlanRuns() { return planRuns; }

bool RunLinePlan(const StoredLine &line, const PoolView &pool, LinePlanHint *hint) {
    if (!plansOn) return false;
    // Traced sessions see every link and block as the walk makes them; a
    // selective assignment reads its first name differently.
    if (evaluator.selective || TracingArrays() || TracingBlocks()) return false;
    Plan *plan = PlanOf(line, hint);
    if (!plan || evaluator.depth + 1 + plan->groups > kMaxEvaluationDepth) return false;
    if (!NamesAreVariables(*plan)) {
        // A name that became a defined function: the line is compiled again
        // when it next runs.
        if (plan->running == 0 && !KindsHold(*plan)) Unhook(*plan);
        return false;
    }
    ++evaluator.depth;
    ++planRuns;
    ++plan->running;
    bool ok = true;
    for (int i = 0; ok && i < plan->statements; ++i) {
        ok = RunStatement(*plan, plan->statement[i], line.last, pool);
        if (ok && BranchTaken()) break;
    }
    if (plan->running > 0) --plan->running;  // a cleared workspace may have reset it
    if (!ok && !errorPositions.evaluator) errorPositions.evaluator = line.begin;
    --evaluator.depth;
    return true;
}

// A plan still running is only unhooked from its line: its caller reads it
// until the run ends. With no function running none is (a caught processor
// fault may have skipped the end of a run).
void ForgetLinePlans() {
    for (Plan &plan : plans) {
        if (plan.running > 0 && stateIndicator.count > 0)
            Unhook(plan);
        else
            plan = Plan{};
    }
}

#include "engine/state.hpp"

#include <utility>

#include "py/thread_slots.hpp"

namespace engine {
namespace {

struct Slots : py::SlotFlags {
    uint64_t shrink_calls = 0;
    bool slip_enabled = false;
    Failures slipped;
    ShrinkReport report;
    ShrinkReport report_result;
    std::vector<py::Ref> minimal;
    std::vector<py::Ref> minimal_result;
};

py::StateSlots<Slots> state{"quorvantis_fast._engine.engine_slots"};

class Hold : public py::SlotHold<Slots> {
public:
    Hold()
        : SlotHold(state.get(), "engine thread state already borrowed") {}
};

}  // namespace

uint64_t shrink_calls() { return Hold()->shrink_calls; }
void set_shrink_calls(uint64_t v) { Hold()->shrink_calls = v; }

bool slip_enabled() { return Hold()->slip_enabled; }
void set_slip_enabled(bool v) { Hold()->slip_enabled = v; }

// Values displaced from a slot are dropped after the slot is released, so a
// __del__ that reaches back into the engine finds it free.
Failures take_slipped() { return std::exchange(Hold()->slipped, {}); }
void put_slipped(Failures v) {
    Failures old = std::exchange(Hold()->slipped, std::move(v));
}
bool slipped_has(const Origin& origin) {
    Hold h;
    for (const FailureEntry& f : h->slipped)
        if (f.origin == origin) return true;
    return false;
}
void push_slipped(FailureEntry e) { Hold()->slipped.push_back(std::move(e)); }

ShrinkReport take_shrink_report() { return std::exchange(Hold()->report, {}); }
void put_shrink_report(ShrinkReport v) { Hold()->report = std::move(v); }
void update_shrink_report(const std::function<void(ShrinkReport&)>& edit) {
    Hold h;
    edit(h->report);
}
ShrinkReport shrink_report_result() { return Hold()->report_result; }

void set_minimal_choices(std::vector<py::Ref> v) {
    std::vector<py::Ref> old = std::exchange(Hold()->minimal, std::move(v));
}
std::vector<py::Ref> minimal_choices_result() { return Hold()->minimal_result; }

// ---------------------------------------------------------------------------

RunNativeGuard::RunNativeGuard() {
    {
        Hold h;
        slip_enabled_ = h->slip_enabled;
        slipped_ = std::exchange(h->slipped, {});
        shrink_calls_ = h->shrink_calls;
    }
    last_draw_secs_ = last_draw_secs();
    use_py_clock_ = use_py_clock();
    inject_ = data::take_inject_candidates();
    {
        Hold h;
        report_ = std::exchange(h->report, {});
        minimal_ = std::exchange(h->minimal, {});
    }
    deferred_ = data::take_deferred_cache();
    infer_ = data::take_builds_infer_cache();
    strategies_ = data::take_builds_strategy_cache();
    {
        Hold h;
        h->report = ShrinkReport{};
        h->slipped.clear();
        h->slip_enabled = true;
        h->minimal.clear();
    }
    data::enter_run();
}

RunNativeGuard::~RunNativeGuard() {
    // What the run leaves behind is dropped only after every slot is back,
    // so Python code run by those drops sees the restored state.
    Failures run_slipped;
    std::vector<py::Ref> old_result;
    try {
        {
            Hold h;
            h->report_result = std::exchange(h->report, std::move(report_));
            old_result = std::exchange(h->minimal_result, std::exchange(h->minimal, std::move(minimal_)));
            h->slip_enabled = slip_enabled_;
            run_slipped = std::exchange(h->slipped, std::move(slipped_));
            h->shrink_calls = shrink_calls_;
        }
        set_last_draw_secs(last_draw_secs_);
        set_use_py_clock(use_py_clock_);
        data::set_inject_candidates(std::move(inject_));
        data::put_deferred_cache(std::move(deferred_));
        data::put_builds_infer_cache(std::move(infer_));
        data::put_builds_strategy_cache(std::move(strategies_));
        data::leave_run();
    } catch (...) {
        // Only a broken slot invariant lands here; nothing can be restored.
        py::ErrorStash pending;
        py::set_fault("engine run state could not be restored");
        PyErr_WriteUnraisable(nullptr);
    }
}

}  // namespace engine

// The draw clock: how long the draws of one example took (and the engine's
// other timings), read from Python's time.perf_counter while the thread's
// USE_PY_CLOCK is set (so tests can drive it), else from the monotonic
// clock; and the thread's LAST_DRAW_SECS, where the draw time of the
// current example adds up.
#pragma once

#include <chrono>

namespace timing {

// ---- slots (calling thread)
bool use_py_clock();
void set_use_py_clock(bool v);

double last_draw_secs();
void set_last_draw_secs(double v);
void add_last_draw_secs(double v);

// time.perf_counter(), looked up at each call; 0.0 on any failure.
double perf_counter();

class DrawClock {
public:
    DrawClock() : py_(use_py_clock()) {
        if (py_) start_py_ = perf_counter();
        else start_ = std::chrono::steady_clock::now();
    }
    // Seconds since construction (never negative on the monotonic clock).
    double elapsed() const {
        if (py_) return perf_counter() - start_py_;
        auto end = std::chrono::steady_clock::now();
        if (end < start_) return 0.0;
        auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(end - start_).count();
        return static_cast<double>(ns / 1000000000) + static_cast<double>(ns % 1000000000) / 1e9;
    }

private:
    bool py_;
    double start_py_ = 0.0;
    std::chrono::steady_clock::time_point start_;
};

}  // namespace timing

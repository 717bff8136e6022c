// Student-t functions and the distribution that integer sizes are drawn from.
// Plain C++ on doubles: no Python here (the module functions live in
// statistics_py.cpp). Every libm call is one of tgamma, lgamma_r, exp, log,
// log1p, expm1, log2, pow, atan, sin, cos and sqrt, so results are the same
// wherever the same libm runs.
#pragma once

#include <cstdint>

namespace statistics {

// Student-t CDF with df degrees of freedom at t. Odd positive df use the
// arctangent series, every other df the even series.
double stdtr(int64_t df, double t);

// Student-t quantile: closed forms for df 1 and 2, else bracket and a
// safeguarded Newton refinement of at most 50 passes.
double stdtrit(int64_t df, double p);

// A uniform block on [-half_width, half_width] between two tails in which
// log2(|x| + 1) / scale follows a Student-t law with df degrees of freedom.
struct Piecewise {
    double half_width;
    double scale;
    uint64_t df;
    double cutoff;
    double tail_weight;
    double centre_weight;
    double centre_mass;
    double left_mass;
    double centre_offset;
    double right_offset;

    double cdf(double x) const;
    double inverse_cdf(double u) const;
};

// The process-wide instance, built on first use.
const Piecewise& integers_distribution();

}  // namespace statistics

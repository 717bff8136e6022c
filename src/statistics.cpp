#include "statistics.hpp"

#include <cmath>

namespace statistics {

namespace {

constexpr double PI = 3.141592653589793;
constexpr double TWO_OVER_PI = 0.6366197723675814;
constexpr double LN2 = 0.6931471805599453;

// 1 + sum of term_k, term_k = term_{k-1} * (j - 1) / (z * j) for j = first,
// first + 2, ... while j <= df - 2. With z >= 1 the terms never grow, so once
// adding one leaves f unchanged (or f is NaN) no later term can change it:
// stopping there gives the same bits sooner.
double series(int64_t df, int64_t first, double z) {
    double f = 1.0, term = 1.0;
    if (df < first + 2) return f;
    for (int64_t j = first; j <= df - 2; j += 2) {
        term = term * static_cast<double>(j - 1) / (z * static_cast<double>(j));
        const double next = f + term;
        if (next == f || std::isnan(next)) return next;
        f = next;
    }
    return f;
}

}  // namespace

double stdtr(int64_t df, double t) {
    if (t == 0.0) return 0.5;
    const double r = static_cast<double>(df);
    const double m = std::fabs(t);
    const double z = 1.0 + t * t / r;
    double P;
    if (df > 0 && df % 2 == 1) {
        const double s = m / std::sqrt(r);
        double theta = std::atan(s);
        if (df >= 3) theta = theta + s * series(df, 3, z) / z;
        P = theta * TWO_OVER_PI;
    } else {
        // t * t overflows for |t| beyond about 1.3e154; the even form would
        // then read inf / inf as 0 and answer 0.5. The CDF's limit is meant.
        if (df > 0 && std::isinf(z) && std::isfinite(t)) return t < 0 ? 0.0 : 1.0;
        P = m * series(df, 2, z) / std::sqrt(z * r);
    }
    return t < 0 ? 0.5 - P / 2.0 : 0.5 + P / 2.0;
}

double stdtrit(int64_t df, double p) {
    if (p == 0.5) return 0.0;
    if (df == 2) return (2.0 * p - 1.0) / std::sqrt(2.0 * p * (1.0 - p));
    if (df == 1) {
        if (p > 0.5) return std::cos(PI * (1.0 - p)) / std::sin(PI * (1.0 - p));
        return -std::cos(PI * p) / std::sin(PI * p);
    }
    const double q = p > 0.5 ? p : 1.0 - p;
    double hi = 1.0;
    while (stdtr(df, hi) < q) hi = 2.0 * hi;

    const double dfd = static_cast<double>(df);
    int sign;
    const double lognorm = lgamma_r((dfd + 1.0) / 2.0, &sign) - 0.5 * std::log(dfd * PI) -
                           lgamma_r(dfd / 2.0, &sign);
    double lo = 0.0;
    double x = (hi + lo) / 2.0;
    for (int pass = 0; pass < 50; ++pass) {
        const double c = stdtr(df, x);
        if (c < q) lo = x;
        else hi = x;
        const double density = std::exp(lognorm - ((dfd + 1.0) / 2.0) * std::log1p(x * x / dfd));
        const double newton = x - (c - q) / density;
        const double mid = (lo + hi) / 2.0;
        x = (density != 0.0 && lo <= newton && newton <= hi) ? newton : mid;
        if (hi - lo < (std::fabs(x) + 1.0) * 1e-10) break;
    }
    return p > 0.5 ? x : -x;
}

double Piecewise::cdf(double x) const {
    auto tail = [&](double v) {
        const double s = std::copysign(std::log2(std::fabs(v) + 1.0), v);
        return stdtr(static_cast<int64_t>(df), s / scale);
    };
    if (x <= -cutoff) return tail_weight * tail(x);
    if (-cutoff < x && x < cutoff) {
        double c;
        if (x < -half_width) c = 0.0;
        else if (x > half_width) c = 1.0;
        else c = (x + half_width) / (2.0 * half_width);
        return left_mass + centre_weight * (c - centre_offset);
    }
    return left_mass + centre_mass + tail_weight * (tail(x) - right_offset);
}

double Piecewise::inverse_cdf(double u) const {
    const auto sdf = static_cast<int64_t>(df);
    double t;
    if (u <= left_mass) {
        t = scale * stdtrit(sdf, u / tail_weight);
    } else if (u < left_mass + centre_mass) {
        return 2.0 * half_width * (centre_offset + (u - left_mass) / centre_weight) - half_width;
    } else {
        t = scale * stdtrit(sdf, (u - left_mass - centre_mass) / tail_weight + right_offset);
    }
    double m = t;
    if (m < -1023.0) m = -1023.0;
    else if (m > 1023.0) m = 1023.0;
    return std::copysign(std::expm1(std::fabs(m) * LN2), m);
}

namespace {

Piecewise build_integers_distribution() {
    const double density0 = std::tgamma(1.5) / (std::tgamma(1.0) * 2.5066282746310002);
    const double a = density0 * 0.7707084176899679 / 2315.804730250777;
    const double n = 1.0 / (a * 512.0 + 0.6007604391609849);
    Piecewise d;
    d.half_width = 256.0;
    d.scale = 13.0;
    d.df = 2;
    d.cutoff = 256.0;
    d.tail_weight = n;
    d.centre_weight = a * n * 512.0;
    d.centre_mass = a * n * 512.0;
    d.left_mass = n * 0.30038021958049244;
    d.centre_offset = 0.0;
    d.right_offset = 0.6996197804195076;
    return d;
}

}  // namespace

const Piecewise& integers_distribution() {
    // Built once; a thread that arrives during construction waits for it.
    static const Piecewise d = build_integers_distribution();
    return d;
}

}  // namespace statistics

#include "LeakFit.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace vg57 {

TLineFit FitLine(std::span<const double> t, std::span<const double> p) {
    TLineFit line;
    const std::size_t n = t.size();
    if (n < 2) return line;
    double tMean = 0, pMean = 0;
    for (std::size_t i = 0; i < n; ++i) {
        tMean += t[i];
        pMean += p[i];
    }
    tMean /= static_cast<double>(n);
    pMean /= static_cast<double>(n);
    double sxx = 0, sxy = 0, syy = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double dt = t[i] - tMean, dp = p[i] - pMean;
        sxx += dt * dt;
        sxy += dt * dp;
        syy += dp * dp;
    }
    if (!(sxx > 0)) return line;
    line.slope = sxy / sxx;
    line.intercept = pMean - line.slope * tMean;
    for (std::size_t i = 0; i < n; ++i) {
        const double r = p[i] - (line.intercept + line.slope * t[i]);
        line.ssResidual += r * r;
    }
    line.ssTotal = syy;
    line.slopeStderr = n > 2 ? std::sqrt(line.ssResidual / static_cast<double>(n - 2) / sxx) : 0.0;
    line.ok = true;
    return line;
}

double TSaturatingFit::At(double t) const {
    return p0 + rate * t - amplitude * std::expm1(-t / tau);
}

double TSaturatingFit::SlopeAt(double t) const {
    return rate + amplitude / tau * std::exp(-t / tau);
}

double TSaturatingFit::Bend(double duration) const {
    if (!(tau > 0) || !(duration > 0)) return 0;
    // With u = t/duration and k = duration/τ the bend is A·(g(u) − u·g(1)), g(u) = 1 − e^(−ku),
    // largest where g'(u) = g(1).
    const double k = duration / tau;
    const double g1 = -std::expm1(-k);
    const double u = std::clamp(-std::log(g1 / k) / k, 0.0, 1.0);
    return std::fabs(amplitude) * (-std::expm1(-k * u) - u * g1);
}

namespace {

constexpr double kMinK = 0.1, kMaxK = 50.0; // k = duration/τ
constexpr int kGrid = 24, kGolden = 30;

// The readings the search runs over: u = t/duration in [0, 1], pressures about their mean, each
// a mean of `w` readings.
struct TSearchSet {
    std::vector<double> u, p, w;
    double wSum = 0, uMean = 0, suu = 0, sup = 0, spp = 0;
    std::vector<double> g; // scratch
};

TSearchSet MakeSearchSet(std::span<const double> t, std::span<const double> p, double pMean,
                         double duration) {
    TSearchSet s;
    const std::size_t n = t.size();
    const std::size_t per = (n + kSaturatingSearchPoints - 1) / kSaturatingSearchPoints;
    for (std::size_t i = 0; i < n; i += per) {
        const std::size_t end = std::min(n, i + per);
        double tu = 0, tp = 0;
        for (std::size_t j = i; j < end; ++j) {
            tu += t[j];
            tp += p[j] - pMean;
        }
        const double w = static_cast<double>(end - i);
        s.u.push_back(tu / w / duration);
        s.p.push_back(tp / w);
        s.w.push_back(w);
    }
    double uw = 0;
    for (std::size_t i = 0; i < s.u.size(); ++i) {
        s.wSum += s.w[i];
        uw += s.w[i] * s.u[i];
    }
    s.uMean = uw / s.wSum;
    double pw = 0;
    for (std::size_t i = 0; i < s.u.size(); ++i)
        pw += s.w[i] * s.p[i];
    const double pm = pw / s.wSum;
    for (std::size_t i = 0; i < s.u.size(); ++i) {
        const double du = s.u[i] - s.uMean, dp = s.p[i] - pm;
        s.suu += s.w[i] * du * du;
        s.sup += s.w[i] * du * dp;
        s.spp += s.w[i] * dp * dp;
    }
    s.g.resize(s.u.size());
    return s;
}

struct TLinearPart {
    double a = 0, b = 0, c = 0; // p = a + b·u + c·(1 − e^(−k·u)), about the pressures' mean
    double rss = std::numeric_limits<double>::infinity();
};

// The best a, b, c for one k: the model is linear in them.
TLinearPart SolveAt(TSearchSet& s, double k) {
    TLinearPart out;
    double gw = 0, pw = 0;
    for (std::size_t i = 0; i < s.u.size(); ++i) {
        s.g[i] = -std::expm1(-k * s.u[i]);
        gw += s.w[i] * s.g[i];
        pw += s.w[i] * s.p[i];
    }
    const double gMean = gw / s.wSum, pMean = pw / s.wSum;
    double sgg = 0, sug = 0, sgp = 0;
    for (std::size_t i = 0; i < s.u.size(); ++i) {
        const double dg = s.g[i] - gMean;
        sgg += s.w[i] * dg * dg;
        sug += s.w[i] * dg * (s.u[i] - s.uMean);
        sgp += s.w[i] * dg * (s.p[i] - pMean);
    }
    const double det = s.suu * sgg - sug * sug;
    if (!(det > 1e-14 * s.suu * sgg)) return out; // g indistinguishable from a line
    out.b = (s.sup * sgg - sgp * sug) / det;
    out.c = (sgp * s.suu - s.sup * sug) / det;
    out.a = pMean - out.b * s.uMean - out.c * gMean;
    out.rss = std::max(0.0, s.spp - out.b * s.sup - out.c * sgp);
    return out;
}

// Solves J^T J x = e_1 for the covariance's second diagonal element, by Gauss-Jordan with
// partial pivoting on the columns scaled to unit length. NaN when singular.
double SecondVariance(std::array<std::array<double, 4>, 4> m) {
    std::array<double, 4> scale{};
    for (int i = 0; i < 4; ++i)
        scale[i] = m[i][i] > 0 ? 1.0 / std::sqrt(m[i][i]) : 1.0;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            m[i][j] *= scale[i] * scale[j];
    std::array<double, 4> rhs{0, 1, 0, 0};
    for (int col = 0; col < 4; ++col) {
        int pivot = col;
        for (int r = col + 1; r < 4; ++r)
            if (std::fabs(m[r][col]) > std::fabs(m[pivot][col])) pivot = r;
        if (!(std::fabs(m[pivot][col]) > 1e-13)) return std::numeric_limits<double>::quiet_NaN();
        std::swap(m[pivot], m[col]);
        std::swap(rhs[pivot], rhs[col]);
        for (int r = 0; r < 4; ++r) {
            if (r == col) continue;
            const double f = m[r][col] / m[col][col];
            for (int c = col; c < 4; ++c)
                m[r][c] -= f * m[col][c];
            rhs[r] -= f * rhs[col];
        }
    }
    return rhs[1] / m[1][1] * scale[1] * scale[1];
}

} // namespace

TSaturatingFit FitSaturating(std::span<const double> t, std::span<const double> p) {
    TSaturatingFit fit;
    const std::size_t n = t.size();
    if (n < 5 || !(t.back() > t.front())) return fit;
    const double duration = t.back();
    double pMean = 0;
    for (double v : p)
        pMean += v;
    pMean /= static_cast<double>(n);

    TSearchSet s = MakeSearchSet(t, p, pMean, duration);
    // A grid over log k finds the valley; a golden section narrows it.
    const double lo = std::log(kMinK), hi = std::log(kMaxK);
    auto rssAt = [&](double x) { return SolveAt(s, std::exp(x)).rss; };
    int best = 0;
    double bestRss = std::numeric_limits<double>::infinity();
    for (int i = 0; i < kGrid; ++i) {
        const double r = rssAt(lo + (hi - lo) * i / (kGrid - 1));
        if (r < bestRss) bestRss = r, best = i;
    }
    if (!std::isfinite(bestRss)) return fit;
    double a = lo + (hi - lo) * std::max(0, best - 1) / (kGrid - 1);
    double b = lo + (hi - lo) * std::min(kGrid - 1, best + 1) / (kGrid - 1);
    const double phi = (std::sqrt(5.0) - 1) / 2;
    double x1 = b - phi * (b - a), x2 = a + phi * (b - a);
    double f1 = rssAt(x1), f2 = rssAt(x2);
    for (int i = 0; i < kGolden; ++i) {
        if (f1 <= f2) {
            b = x2, x2 = x1, f2 = f1;
            x1 = b - phi * (b - a), f1 = rssAt(x1);
        } else {
            a = x1, x1 = x2, f1 = f2;
            x2 = a + phi * (b - a), f2 = rssAt(x2);
        }
    }
    const double k = std::exp(f1 <= f2 ? x1 : x2);

    // The final solve over every reading at that k.
    TSearchSet all;
    if (n <= kSaturatingSearchPoints) {
        all = std::move(s);
    } else {
        all.u.resize(n);
        all.p.resize(n);
        all.w.assign(n, 1.0);
        for (std::size_t i = 0; i < n; ++i)
            all.u[i] = t[i] / duration, all.p[i] = p[i] - pMean;
        double uw = 0, pw = 0;
        for (std::size_t i = 0; i < n; ++i)
            uw += all.u[i], pw += all.p[i];
        all.wSum = static_cast<double>(n);
        all.uMean = uw / all.wSum;
        const double pm = pw / all.wSum;
        for (std::size_t i = 0; i < n; ++i) {
            const double du = all.u[i] - all.uMean, dp = all.p[i] - pm;
            all.suu += du * du, all.sup += du * dp, all.spp += dp * dp;
        }
        all.g.resize(n);
    }
    const TLinearPart part = SolveAt(all, k);
    if (!std::isfinite(part.rss)) return fit;

    // Residuals and the Jacobian over the readings themselves, and the rate's variance from it.
    std::array<std::array<double, 4>, 4> jtj{};
    double rss = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double u = t[i] / duration, e = std::exp(-k * u);
        const double r = p[i] - pMean - (part.a + part.b * u + part.c * (1 - e));
        rss += r * r;
        // ∂/∂a, ∂/∂b, ∂/∂c and ∂/∂ln k.
        const std::array<double, 4> j{1.0, u, 1 - e, part.c * k * u * e};
        for (int x = 0; x < 4; ++x)
            for (int y = x; y < 4; ++y)
                jtj[x][y] += j[x] * j[y];
    }
    for (int x = 0; x < 4; ++x)
        for (int y = 0; y < x; ++y)
            jtj[x][y] = jtj[y][x];
    const double variance = n > 4 ? SecondVariance(jtj) * rss / static_cast<double>(n - 4) : 0;

    fit.tau = duration / k;
    fit.rate = part.b / duration;
    fit.amplitude = part.c;
    fit.p0 = part.a + pMean;
    fit.ssResidual = rss;
    fit.rateStderr = std::isfinite(variance) ? std::sqrt(std::max(0.0, variance)) / duration
                                             : std::numeric_limits<double>::infinity();
    fit.ok = true;
    return fit;
}

double LeastSquaresAic(double ssResidual, std::size_t n, int k, double scale) {
    const double count = static_cast<double>(n);
    const double floor = count * std::pow(1e-13 * std::max(std::fabs(scale), 1e-300), 2);
    return count * std::log(std::max(ssResidual, floor) / count) + 2.0 * k;
}

namespace {
// Count, means and central sums of a run of readings; two runs merge exactly (Chan's update),
// so that overlapping windows cost one pass over the readings.
struct TMoments {
    double n = 0, t = 0, p = 0, tt = 0, tp = 0, pp = 0;
    void Merge(const TMoments& o) {
        if (o.n == 0) return;
        const double total = n + o.n, dx = o.t - t, dy = o.p - p, w = n * o.n / total;
        tt += o.tt + dx * dx * w;
        tp += o.tp + dx * dy * w;
        pp += o.pp + dy * dy * w;
        t += dx * o.n / total;
        p += dy * o.n / total;
        n = total;
    }
};
} // namespace

std::vector<TSlopePoint> SlidingSlopes(std::span<const double> t, std::span<const double> p) {
    std::vector<TSlopePoint> out;
    if (t.size() < 3 || !(t.back() > t.front())) return out;
    const double duration = t.back() - t.front();
    constexpr int kSteps = 20, kWide = 4; // windows 4/20 of the interval, stepped by 1/20
    // Plain sums about each block's first reading (no division per reading), turned into
    // central moments once per block.
    std::vector<TMoments> blocks(kSteps);
    const double perBlock = kSteps / duration;
    for (std::size_t i = 0; i < t.size();) {
        const int b = std::min(kSteps - 1, static_cast<int>((t[i] - t.front()) * perBlock));
        const double x0 = t[i], y0 = p[i];
        double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0, syy = 0;
        for (; i < t.size() &&
               std::min(kSteps - 1, static_cast<int>((t[i] - t.front()) * perBlock)) == b;
             ++i) {
            const double x = t[i] - x0, y = p[i] - y0;
            n += 1, sx += x, sy += y, sxx += x * x, sxy += x * y, syy += y * y;
        }
        TMoments& m = blocks[static_cast<std::size_t>(b)];
        m.n = n;
        m.t = x0 + sx / n;
        m.p = y0 + sy / n;
        m.tt = sxx - sx * sx / n;
        m.tp = sxy - sx * sy / n;
        m.pp = syy - sy * sy / n;
    }
    for (int i = 0; i + kWide <= kSteps; ++i) {
        TMoments m;
        for (int j = i; j < i + kWide; ++j)
            m.Merge(blocks[static_cast<std::size_t>(j)]);
        if (m.n < 3 || !(m.tt > 0)) continue;
        const double slope = m.tp / m.tt;
        const double residual = std::max(0.0, m.pp - slope * m.tp);
        const double from = t.front() + duration * i / kSteps;
        out.push_back(
            {from + duration * kWide / kSteps / 2, slope, std::sqrt(residual / (m.n - 2) / m.tt)});
    }
    return out;
}

} // namespace vg57

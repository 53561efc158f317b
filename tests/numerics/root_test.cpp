#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include "numerics/root.hpp"

namespace {

using Vec = std::vector<double>;

const double kNan = std::nan("");
const double kInf = INFINITY;

// A residual function with a log of every point it was called at.
struct Problem {
  int nf, nx;
  std::function<void(const double* x, double* f)> fn;
  std::vector<Vec> calls;
};

void residual(const double* x, void* param, double* f) {
  auto* p = static_cast<Problem*>(param);
  p->calls.emplace_back(x, x + p->nx);
  p->fn(x, f);
}

struct Outcome {
  Vec x, f;
  int n_evals, err;
};

bool same_bits(const Vec& a, const Vec& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

// mbroot with work arrays of exactly the documented minimum sizes.
Outcome solve(Problem& p, const Vec& x0, int nk, double req_tol, double goal_tol, int max_evals,
              std::vector<int> lock = {}) {
  const int nf = p.nf, nx = p.nx;
  const int k = static_cast<int>(std::min<long long>(std::llabs(static_cast<long long>(nk)), nf));
  const int mp = k == 0 ? nf : nx + nf - k;
  Vec J(nf * nx), dwork(k == 0 ? nf * nf : 2 * mp * mp), rwork(6 * nf + 8 * nx + mp);
  std::vector<int> iwork(3 * (nf + nx) + mp);
  if (lock.empty()) lock.assign(nx, 0);
  Outcome o{x0, Vec(nf, -777.25), -1, -1};
  p.calls.clear();
  mbroot(residual, o.x.data(), &p, nf, nx, nk, lock.data(), req_tol, goal_tol, max_evals, J.data(), dwork.data(),
         rwork.data(), iwork.data(), o.f.data(), &o.n_evals, &o.err);
  EXPECT_EQ(o.n_evals, static_cast<int>(p.calls.size())) << "every call is counted";
  return o;
}

// The returned f must be the residuals at the returned x, bit for bit.
void expect_f_matches_x(const Problem& p, const Outcome& o) {
  Vec f(p.nf);
  p.fn(o.x.data(), f.data());
  EXPECT_TRUE(same_bits(f, o.f));
}

double largest(const Vec& f, int from, int to) {
  double m = 0;
  for (int i = from; i < to; ++i) m = std::max(m, std::fabs(f[i]));
  return m;
}

Problem circle_and_line() {
  return {2, 2, [](const double* x, double* f) {
            f[0] = x[0] * x[0] + x[1] * x[1] - 4.0;
            f[1] = x[0] - x[1];
          }};
}

// x + y = 1 required; x = 2 and y = 0 desired, which it forbids.
Problem pulled_off_line() {
  return {3, 2, [](const double* x, double* f) {
            f[0] = x[0] + x[1] - 1;
            f[1] = x[0] - 2;
            f[2] = x[1];
          }};
}

TEST(RootFinder, SolvesKnownSystems) {
  const double r2 = std::sqrt(2.0);
  struct Case {
    const char* what;
    Problem p;
    Vec x0;
    int nk, err;
    Vec want;
  } cases[] = {
      {"circle and line", circle_and_line(), {1, 0.5}, 0, 0, {r2, r2}},
      {"circle and line from far", circle_and_line(), {30, -7}, 0, 0, {r2, r2}},
      {"linear 3 x 3",
       {3, 3,
        [](const double* x, double* f) {
          f[0] = 2 * x[0] + x[1] - x[2] - 1;
          f[1] = -x[0] + 3 * x[1] + 2 * x[2] - 11;
          f[2] = x[0] - x[1] + 4 * x[2] - 11;
        }},
       {0, 0, 0}, 0, 0, {1, 2, 3}},
      // x + y = 1 required; x - y = 0.2 desired and reachable.
      {"required plus reachable desired",
       {2, 2,
        [](const double* x, double* f) {
          f[0] = x[0] + x[1] - 1;
          f[1] = x[0] - x[1] - 0.2;
        }},
       {0, 0}, 1, 0, {0.6, 0.4}},
      // The constrained least-squares point is (1.5, -0.5), for both measures.
      {"required plus unreachable desired, sum measure",
       pulled_off_line(),
       {0, 0}, 2, 1, {1.5, -0.5}},
      {"required plus unreachable desired, max measure",
       pulled_off_line(),
       {0, 0}, -2, 1, {1.5, -0.5}},
      {"more unknowns than residuals: the nearest root", {1, 2, [](const double* x, double* f) {
                                                             f[0] = x[0] + x[1] - 2;
                                                           }},
       {0, 0}, 0, 0, {1, 1}},
  };
  const double req_tol = 1e-10, goal_tol = 1e-10;
  for (Case& c : cases) {
    const Outcome o = solve(c.p, c.x0, c.nk, req_tol, goal_tol, 400);
    EXPECT_EQ(o.err, c.err) << c.what;
    for (int j = 0; j < c.p.nx; ++j) EXPECT_NEAR(o.x[j], c.want[j], 1e-8) << c.what << " x" << j;
    EXPECT_LE(largest(o.f, 0, c.p.nf - std::abs(c.nk)), req_tol) << c.what;
    EXPECT_LT(o.n_evals, 450) << c.what;
    expect_f_matches_x(c.p, o);
  }
}

// The required residual is a circle; the desired one pulls x towards 2,
// off the circle. A step along the tangent leaves the circle by far more
// than req_tol, so only restored trials can be accepted; the iteration ends
// near the circle's point (1, 0), where the gain per step becomes too small.
TEST(RootFinder, DesiredResidualSlidesAlongTheRequiredOne) {
  Problem p{2, 2, [](const double* x, double* f) {
              f[0] = x[0] * x[0] + x[1] * x[1] - 1.0;
              f[1] = x[0] - 2.0;
            }};
  const Outcome o = solve(p, {0.6, 0.8}, 1, 1e-10, 1e-6, 2000);
  EXPECT_EQ(o.err, 1);
  EXPECT_LE(std::fabs(o.f[0]), 1e-10);
  EXPECT_NEAR(o.x[0], 1.0, 1e-5);
  EXPECT_NEAR(o.x[1], 0.0, 1e-2);
  expect_f_matches_x(p, o);
}

TEST(RootFinder, ExactEvaluationCounts) {
  Problem offset{2, 2, [](const double* x, double* f) {
                   f[0] = x[0] - 1.0;
                   f[1] = x[1] - 2.0;
                 }};
  Problem circle = circle_and_line();
  struct Case {
    const char* what;
    Problem* p;
    Vec x0;
    int nk, max_evals;
    std::vector<int> lock;
    int n_evals, err;
  } cases[] = {
      {"converged start", &offset, {1, 2}, 0, 100, {}, 1, 0},
      {"converged start, all desired", &offset, {1, 2}, 2, 100, {}, 1, 0},
      {"max_evals 1", &circle, {1, 0.5}, 0, 1, {}, 1, 2},
      {"max_evals 0", &circle, {1, 0.5}, 0, 0, {}, 1, 2},
      {"max_evals 1, only the desired missed", &offset, {1, 5}, 1, 1, {}, 1, 1},
      // No Jacobian evaluation, a zero step: three slow trials end each pass.
      {"all locked", &circle, {1, 0.5}, 0, 100, {1, 1}, 7, 2},
      {"all locked, max_evals 3", &circle, {1, 0.5}, 0, 3, {1, 1}, 3, 2},
  };
  for (Case& c : cases) {
    const Outcome o = solve(*c.p, c.x0, c.nk, 1e-12, 1e-12, c.max_evals, c.lock);
    EXPECT_EQ(o.n_evals, c.n_evals) << c.what;
    EXPECT_EQ(o.err, c.err) << c.what;
    EXPECT_TRUE(same_bits(o.x, c.x0)) << c.what << ": x unchanged";
    for (const Vec& at : c.p->calls) EXPECT_TRUE(c.lock.empty() || same_bits(at, c.x0)) << c.what;
    expect_f_matches_x(*c.p, o);
  }
}

// A locked unknown keeps its exact bits in every call and on return, also
// when it is not representable exactly and the residuals depend on it.
TEST(RootFinder, LockedUnknownsStayBitwiseFixed) {
  Problem p{2, 3, [](const double* x, double* f) {
              f[0] = x[0] * x[0] + x[1] - 2.1;
              f[1] = x[2] - x[1] * x[0];
            }};
  const Vec x0 = {3.0, 0.1, -5.0};
  const Outcome o = solve(p, x0, 0, 1e-12, 1e-12, 400, {0, 1, 0});
  EXPECT_EQ(o.err, 0);
  EXPECT_NEAR(o.x[0], std::sqrt(2.0), 1e-10);
  EXPECT_NEAR(o.x[2], 0.1 * std::sqrt(2.0), 1e-10);
  EXPECT_TRUE(same_bits({o.x[1]}, {0.1}));
  for (const Vec& at : p.calls) ASSERT_TRUE(same_bits({at[1]}, {0.1}));
}

// Nothing that is not a number may pass for converged, and the iteration
// still ends within its budget.
TEST(RootFinder, NonFiniteValuesNeverConverge) {
  Problem circle = circle_and_line();
  Problem ignores_x0{1, 2, [](const double* x, double* f) { f[0] = x[1] - 1.0; }};
  Problem always_nan{2, 2, [](const double*, double* f) { f[0] = f[1] = kNan; }};
  Problem nan_desired{2, 1, [](const double* x, double* f) {
                        f[0] = x[0] - 1.0;
                        f[1] = kNan;
                      }};
  // Defined only below x = 1; the root at 2 lies outside.
  Problem domain{1, 1, [](const double* x, double* f) { f[0] = x[0] < 1.0 ? x[0] - 2.0 : kNan; }};
  struct Case {
    const char* what;
    Problem* p;
    Vec x0;
    int nk, err;
    bool start_kept;
  } cases[] = {
      {"NaN start", &circle, {kNan, 0.5}, 0, 2, true},
      {"infinite start", &circle, {kInf, 0.5}, 0, 2, true},
      {"NaN unknown the residuals ignore", &ignores_x0, {kNan, 1.0}, 0, 2, true},
      {"NaN required residuals", &always_nan, {0.0, 0.0}, 0, 2, true},
      {"NaN desired residual, required met", &nan_desired, {1.0}, 1, 1, true},
      {"trials outside the domain", &domain, {0.9}, 0, 2, false},
  };
  for (Case& c : cases) {
    const Outcome o = solve(*c.p, c.x0, c.nk, 1e-10, 1e-10, 300);
    EXPECT_EQ(o.err, c.err) << c.what;
    EXPECT_LT(o.n_evals, 350) << c.what;
    if (c.start_kept) EXPECT_TRUE(same_bits(o.x, c.x0)) << c.what;
  }
  // Outside the domain no trial is accepted: the point stays where f is defined.
  const Outcome o = solve(domain, {0.9}, 0, 1e-10, 1e-10, 300);
  EXPECT_LT(o.x[0], 1.0);
  EXPECT_TRUE(std::isfinite(o.f[0]));
  expect_f_matches_x(domain, o);
}

// k is clamped into 0 .. nf: nk beyond nf acts as nf, any nk below -nf as
// -nf; empty and negative sizes are empty problems.
TEST(RootFinder, ResidualClassCountIsClamped) {
  Problem p{2, 2, [](const double* x, double* f) {
              f[0] = x[0] * x[0] - 2.0;
              f[1] = x[1] + x[0];
            }};
  struct Pair {
    int nk, same_as;
  } pairs[] = {{5, 2}, {INT_MAX, 2}, {-3, -2}, {INT_MIN, -2}};
  for (const Pair& c : pairs) {
    const Outcome a = solve(p, {1, 0}, c.nk, 1e-12, 1e-12, 200);
    const Outcome b = solve(p, {1, 0}, c.same_as, 1e-12, 1e-12, 200);
    EXPECT_EQ(a.err, 0) << c.nk;
    EXPECT_TRUE(same_bits(a.x, b.x)) << c.nk;
    EXPECT_TRUE(same_bits(a.f, b.f)) << c.nk;
    EXPECT_EQ(a.n_evals, b.n_evals) << c.nk;
  }

  for (int n : {0, -3}) {
    int calls = 0, n_evals = -1, err = -1;
    double x[1] = {4.0}, f[1] = {-1.0};
    auto count = [](const double*, void* c, double*) { ++*static_cast<int*>(c); };
    mbroot(count, x, &calls, n, n, 1, nullptr, 1e-12, 1e-12, 100, nullptr, nullptr, nullptr, nullptr, f, &n_evals,
           &err);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(n_evals, 1);
    EXPECT_EQ(err, 0) << "nothing to meet";
    EXPECT_EQ(x[0], 4.0);
  }
}

TEST(RootJacobian, ScaledDifferencesOverUnlockedColumns) {
  Problem p{3, 3, [](const double* x, double* f) {
              f[0] = 2 * x[0] + 8 * x[2];
              f[1] = 1e-20 * x[0];  // below the difference floor
              f[2] = -x[0] + 0.5 * x[1];
            }};
  Vec x = {1.0, 0.1, -3.0}, fbase(3), fwork(3), J(9, -1.0), scale(3, -1.0);
  const Vec x0 = x;
  p.fn(x.data(), fbase.data());
  const int lock[3] = {0, 1, 0};
  int n_evals = 0;
  qel::mbrootjac(residual, x.data(), &p, 3, 3, lock, 1e-6, fbase.data(), fwork.data(), J.data(), &n_evals,
                 scale.data());
  EXPECT_EQ(n_evals, 2) << "one evaluation per unlocked unknown";
  EXPECT_TRUE(same_bits(x, x0)) << "x restored exactly";
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(same_bits({J[i * 3 + 1]}, {0.0})) << "locked column";
  EXPECT_NEAR(J[0], 0.25, 1e-9);
  EXPECT_NEAR(J[2], 1.0, 1e-15);
  EXPECT_NEAR(scale[0], 0.125, 1e-10);
  EXPECT_EQ(J[3], 0.0);
  EXPECT_EQ(J[5], 0.0);
  EXPECT_EQ(scale[1], 1.0) << "zero row";
  EXPECT_NEAR(J[6], -1.0, 1e-15);
  EXPECT_EQ(J[8], 0.0);
  // The perturbation of unknown j is (|x_j| + 1) delta.
  EXPECT_EQ(p.calls[0][0], 2e-6 + 1.0);
  EXPECT_EQ(p.calls[1][2], 4e-6 + -3.0);
}

struct StepRun {
  Vec xnew, ftrial;
  int n_evals;
};

StepRun step(Problem& p, const Vec& x, const Vec& dx, double hard0, double soft0) {
  StepRun r{Vec(p.nx), Vec(p.nf), 0};
  p.calls.clear();
  qel::mbrootstep(residual, x.data(), &p, p.nf, 0, 0, p.nx, dx.data(), 1.0, hard0, soft0, 0.0, &r.n_evals,
                  r.xnew.data(), r.ftrial.data());
  return r;
}

TEST(RootStep, LimitedStepGrowsWhileTrialsImprove) {
  // f = x - 100 from 0 along the full step to 100: the first trial moves by
  // 1 (alpha 0.01), then alpha grows by 1.25 for four trials and by 2 after,
  // until it passes 0.5 on the tenth trial.
  Problem line{1, 1, [](const double* x, double* f) { f[0] = x[0] - 100.0; }};
  const StepRun grow = step(line, {0.0}, {-100.0}, 100.0, 0.0);
  double alpha = 1.0 / 100.0;
  for (int i = 0; i < 4; ++i) alpha = alpha * 1.25;
  for (int i = 0; i < 5; ++i) alpha = alpha * 2.0;
  EXPECT_EQ(grow.n_evals, 10);
  EXPECT_EQ(grow.xnew[0], 0.0 - (-100.0 * 1.0) * alpha);

  // |x - 1.5|: the fourth trial overshoots, so the third is evaluated again
  // and returned.
  Problem vee{1, 1, [](const double* x, double* f) { f[0] = std::fabs(x[0] - 1.5); }};
  const StepRun back = step(vee, {0.0}, {-100.0}, 1.5, 0.0);
  EXPECT_EQ(back.n_evals, 5);
  EXPECT_EQ(back.xnew[0], 100.0 * (0.01 * 1.25 * 1.25));
  EXPECT_TRUE(same_bits(vee.calls[4], vee.calls[2]));
  EXPECT_EQ(back.ftrial[0], std::fabs(back.xnew[0] - 1.5));
}

// A residual that claims to improve at every call, whatever the point: a
// step that cannot be measured must still end after its first trial.
TEST(RootStep, UnmeasurableStepEndsAtOnce) {
  int calls = 0;
  Problem fake{1, 1, [&calls](const double*, double* f) { f[0] = 1.0 / ++calls; }};
  for (double d : {kInf, -kInf, kNan}) {
    calls = 0;
    const StepRun r = step(fake, {0.0}, {d}, 2.0, 0.0);
    EXPECT_EQ(r.n_evals, 1) << d;
  }
}

}  // namespace

// The analysis drivers' bookkeeping: how many evaluations each makes, what
// it leaves in the host's state vector and in the module state, and the
// motion drivers' first-call and step handling.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "analysis/analysis.hpp"
#include "model/records.hpp"
#include "model/state.hpp"
#include "unit/creature_unit.hpp"

namespace {

using namespace qel;
using qelunit::Rng;
using qelunit::State;

constexpr int kLen = nq + nu;

int answer_none(void*, int* routine, int* code) {
  *routine = 0;
  *code = 0;
  return 0;
}

class AnalysisDrivers : public ::testing::Test {
 protected:
  void SetUp() override { use_creature(nullptr); }
  void TearDown() override { set_test_load_hook(nullptr); }

  void use_creature(const double* g) {
    set_test_load_hook(nullptr);
    mberrorRegister(nullptr, &answer_none);
    qelunit::supply_creature(5, g);
    Rng r(17);
    s = qelunit::set_random_state(r);
    std::memcpy(vec, s.q, sizeof s.q);
    std::memcpy(vec + nq, s.u, sizeof s.u);
    qelunit::take_reports();
  }

  State s;
  double vec[kLen];  // the host's state vector: q, then u
};

bool same_bits(const double* a, const double* b, int n) { return std::memcmp(a, b, n * sizeof(double)) == 0; }

// The root quaternion of v is unit length and, up to sign, the direction of e.
void expect_same_orientation(const double* v, const double e[4]) {
  const double got[4] = {v[3], v[4], v[5], v[nu]};
  const double ne = std::sqrt(e[0] * e[0] + e[1] * e[1] + e[2] * e[2] + e[3] * e[3]);
  const double sign = got[0] * e[0] + got[1] * e[1] + got[2] * e[2] + got[3] * e[3] < 0 ? -1.0 : 1.0;
  EXPECT_NEAR(std::sqrt(got[0] * got[0] + got[1] * got[1] + got[2] * got[2] + got[3] * got[3]), 1.0, 1e-14);
  for (int i = 0; i < 4; ++i) EXPECT_NEAR(got[i], sign * e[i] / ne, 1e-12) << i;
}

TEST_F(AnalysisDrivers, AssembleEvaluatesOnceAtZeroSpeedsAndNormalizesTheQuaternion) {
  for (int i : {3, 4, 5, nu}) vec[i] *= 1.05;
  const double e[4] = {vec[3], vec[4], vec[5], vec[nu]};
  double before[kLen];
  std::memcpy(before, vec, sizeof vec);
  int n_evals = -1, err = -1;
  mbassemble(0.25, vec, nullptr, 0.0, 0, &n_evals, &err);
  EXPECT_EQ(n_evals, 1);
  EXPECT_EQ(err, 0);
  EXPECT_TRUE(same_bits(vec + nq, before + nq, nu)) << "speeds must not be touched";
  for (int k = 0; k < nu; ++k)
    if (k < 3 || k > 5) EXPECT_EQ(vec[k], before[k]) << k;
  expect_same_orientation(vec, e);
  // The module was left at (t, q, 0) with exactly the q handed back.
  EXPECT_EQ(position.state_time, 0.25);
  EXPECT_TRUE(same_bits(position.state_q, vec, nq));
  for (int k = 0; k < nu; ++k) EXPECT_EQ(velocity.state_u[k], 0.0) << k;
  EXPECT_TRUE(qelunit::take_reports().empty());
}

TEST_F(AnalysisDrivers, InitvelEvaluatesOnceAndLeavesTheStateVector) {
  double before[kLen];
  std::memcpy(before, vec, sizeof vec);
  int n_evals = -1, err = -1;
  mbinitvel(0.5, vec, nullptr, 0.0, 0, &n_evals, &err);
  EXPECT_EQ(n_evals, 1);
  EXPECT_EQ(err, 0);
  EXPECT_TRUE(same_bits(vec, before, kLen));
  EXPECT_EQ(position.state_time, 0.5);
  EXPECT_TRUE(same_bits(position.state_q, vec, nq));
  EXPECT_TRUE(same_bits(velocity.state_u, vec + nq, nu));
  EXPECT_EQ(control.call_state, 2);
}

TEST_F(AnalysisDrivers, StaticAtAnEquilibriumTakesTheSolverEvaluationAndTheFinalOne) {
  // Zero gravity, zero speeds and no loads: every posture is at rest.
  const double g0[3] = {0.0, 0.0, 0.0};
  use_creature(g0);
  for (int k = 0; k < nu; ++k) vec[nq + k] = 0.0;
  const double e[4] = {vec[3], vec[4], vec[5], vec[nu]};
  const int no_lock[nu] = {};
  for (const int* lock : {static_cast<const int*>(nullptr), no_lock}) {
    int n_evals = -1, err = -1;
    mbstatic(0.0, vec, lock, 0.0, 1e-12, 100, &n_evals, &err);
    EXPECT_EQ(n_evals, 2);
    EXPECT_EQ(err, 0);
    expect_same_orientation(vec, e);
    for (int k = 0; k < nu; ++k) EXPECT_EQ(vec[nq + k], 0.0);
    EXPECT_EQ(control.call_state, 3) << "the final evaluation runs mbderiv";
    EXPECT_TRUE(same_bits(position.state_q, vec, nq));
  }
  // mbsteady with no lock table locks nothing and is at rest here too.
  int n_evals = -1, err = -1;
  mbsteady(0.0, vec, nullptr, 0.0, 1e-12, 100, &n_evals, &err);
  EXPECT_EQ(n_evals, 2);
  EXPECT_EQ(err, 0);
  expect_same_orientation(vec, e);
}

TEST_F(AnalysisDrivers, StaticWithABudgetOfOneAwayFromEquilibriumRunsOutOfEvaluations) {
  double before[kLen];
  std::memcpy(before, vec, sizeof vec);
  const double e[4] = {vec[3], vec[4], vec[5], vec[nu]};
  int n_evals = -1, err = -1;
  mbstatic(0.0, vec, nullptr, 0.0, 1e-9, 1, &n_evals, &err);
  EXPECT_EQ(n_evals, 2);
  EXPECT_EQ(err, 2);
  // No step was taken: the coordinates come back as they went in.
  for (int k = 0; k < nu; ++k)
    if (k < 3 || k > 5) EXPECT_NEAR(vec[k], before[k], 1e-12) << k;
  expect_same_orientation(vec, e);
  EXPECT_TRUE(same_bits(vec + nq, before + nq, nu));
}

TEST_F(AnalysisDrivers, SteadyWithEverySpeedLockedMovesOnlyTheCoordinates) {
  double before[kLen];
  std::memcpy(before, vec, sizeof vec);
  int lock[2 * nu] = {};
  for (int k = nu; k < 2 * nu; ++k) lock[k] = 1;
  int n_evals = -1, err = -1;
  mbsteady(0.0, vec, lock, 0.0, 1e-9, 4 * nu, &n_evals, &err);
  EXPECT_GE(n_evals, 2);
  EXPECT_TRUE(same_bits(vec + nq, before + nq, nu)) << "locked speeds changed";
  double moved = 0.0;
  for (int k = 0; k < nq; ++k) moved = std::fmax(moved, std::fabs(vec[k] - before[k]));
  EXPECT_GT(moved, 1e-6) << "the solver should have moved the coordinates";
  // The module state is the returned one.
  EXPECT_TRUE(same_bits(position.state_q, vec, nq));
  EXPECT_TRUE(same_bits(velocity.state_u, vec + nq, nu));
}

TEST_F(AnalysisDrivers, SolversRefuseWhileTheModuleRefusesEvaluations) {
  // A parameter change sends the module back to call state 0: mbstate and
  // mbderiv refuse, so there would be no residuals to solve on.
  mbmass(0, params.body_mass[0] * 1.1);
  ASSERT_EQ(control.call_state, 0);
  qelunit::take_reports();
  double before[kLen];
  std::memcpy(before, vec, sizeof vec);
  const int steady_lock[2 * nu] = {};
  for (bool steady : {false, true}) {
    SCOPED_TRACE(steady ? "mbsteady" : "mbstatic");
    int n_evals = -1, err = -1;
    if (steady)
      mbsteady(0.0, vec, steady_lock, 0.0, 1e-9, 100, &n_evals, &err);
    else
      mbstatic(0.0, vec, nullptr, 0.0, 1e-9, 100, &n_evals, &err);
    EXPECT_EQ(err, 2);
    EXPECT_EQ(n_evals, 1);
    EXPECT_TRUE(same_bits(vec, before, kLen)) << "the host's state vector must be left alone";
    const auto reports = qelunit::take_reports();
    const qelunit::Report why{QEL_R_MBSTATE, QEL_E_NOT_INITIALIZED};
    EXPECT_NE(std::find(reports.begin(), reports.end(), why), reports.end()) << "mbstate tells the host why";
  }
}

TEST_F(AnalysisDrivers, MotionFirstCallFillsTheRatesAndLeavesTimeAndState) {
  double qdot[nq], udot[nu];
  s.set();
  mbderiv(qdot, udot);
  double before[kLen], rate[kLen];
  std::memcpy(before, vec, sizeof vec);
  for (double& x : rate) x = -7.0;
  motion.motion_step = 0.0;
  double t = s.t;
  int flag = 1, err = -1;
  mbmotion(&t, vec, rate, 0.01, 1e-6, 1e-6, &flag, &err);
  EXPECT_EQ(flag, 0);
  EXPECT_EQ(err, 0);
  EXPECT_EQ(t, s.t);
  EXPECT_EQ(motion.motion_step, 0.01);
  EXPECT_TRUE(same_bits(vec, before, kLen));
  EXPECT_TRUE(same_bits(rate, qdot, nq));
  EXPECT_TRUE(same_bits(rate + nq, udot, nu));
}

TEST_F(AnalysisDrivers, MotionKeepsAPositiveStepAndReplacesAnyOther) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const struct {
    double step_before, expect;
  } cases[] = {{0.5, 0.5}, {0.0, 0.02}, {-1.0, 0.02}, {nan, 0.02}};
  for (const auto& c : cases) {
    motion.motion_step = c.step_before;
    double rate[kLen];
    for (double& x : rate) x = -7.0;
    double t = 1.0;
    int flag = 0, err = -1;
    mbmotion(&t, vec, rate, 0.02, 1e-6, 1e-6, &flag, &err);
    EXPECT_EQ(motion.motion_step, c.expect) << c.step_before;
    EXPECT_EQ(err, 0);
    EXPECT_EQ(t, 1.0);
    for (double x : rate) EXPECT_EQ(x, -7.0) << "no evaluation without the first-call flag";
  }
}

TEST_F(AnalysisDrivers, FixedStepMotionReportsNoErrorWithOrWithoutTheFirstCallFlag) {
  double qdot[nq], udot[nu];
  s.set();
  mbderiv(qdot, udot);
  double before[kLen];
  std::memcpy(before, vec, sizeof vec);
  for (int flag_in : {1, 0}) {
    double rate[kLen];
    for (double& x : rate) x = -7.0;
    double t = s.t, err_est = -3.0;
    int flag = flag_in, err = -1;
    mbfmotion(&t, vec, rate, 0.01, 1e-6, &flag, &err_est, &err);
    EXPECT_EQ(err, 0);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(t, s.t);
    EXPECT_EQ(err_est, -3.0);
    EXPECT_TRUE(same_bits(vec, before, kLen));
    if (flag_in) {
      EXPECT_TRUE(same_bits(rate, qdot, nq));
      EXPECT_TRUE(same_bits(rate + nq, udot, nu));
    } else {
      for (double x : rate) EXPECT_EQ(x, -7.0);
    }
  }
}

}  // namespace

// Forward dynamics against the engine's own independent routes: the
// accelerations solve M(q) udot = f with the mass matrix built column by
// column from inverse dynamics; the articulated pass reports every pivot that
// fails and is cached only behind a clean host record.
#include <cmath>
#include <limits>
#include <vector>

#include "dynamics/abi.hpp"
#include "dynamics/inverse.hpp"
#include "dynamics/results.hpp"
#include "dynamics/solve.hpp"
#include "unit/creature_unit.hpp"
#include "unit/state_fixture.hpp"

namespace {

using namespace qel;
using qeltest::Report;

const Report kPivot17{QEL_R_MBDERIV, QEL_E_SMALL_PIVOT};

class ForwardDynamics : public qeltest::EngineTest {
 protected:
  // The query callback answers `answer` as the host's last recorded code
  // and counts the queries.
  void use_query(int code) {
    answer = code;
    mberrorRegister(static_cast<qeltest::EngineTest*>(this), &ForwardDynamics::on_query);
  }
  static int on_query(void* ctx, int* routine, int* code) {
    auto* t = static_cast<ForwardDynamics*>(static_cast<qeltest::EngineTest*>(ctx));
    ++t->queries;
    *routine = t->answer == 0 ? 0 : QEL_R_MBSTATE;
    *code = t->answer;
    return 0;
  }

  // A state of posture seed with random loads of every kind.
  void set_loaded_state(unsigned seed) {
    set_state(qeltest::random_posture(engine, creature, seed));
    qelunit::Rng r(seed);
    qelunit::apply_random_loads(r);
  }

  // A tip body on a pin joint, or -1.
  static int pin_tip() {
    for (int j = njnt - 1; j >= 1; --j)
      if (joint_type[j] == kPinJoint && !has_children(j)) return j;
    return -1;
  }

  // mbderiv's udot at the present state and loads solves M udot = f, with M
  // and f from their own routines, to tol relative to f; returns that scale.
  static double expect_deriv_solves(double tol, double (&udot)[nu]) {
    std::vector<double> M(nu * nu);
    double f[nu], qdot[nq];
    mbmassmtx(M.data());
    mbgetgenf(f);
    mbderiv(qdot, udot);
    const double fscale = qelunit::max_abs(f, nu);
    for (int i = 0; i < nu; ++i) {
      double Mu = 0.0;
      for (int j = 0; j < nu; ++j) Mu += M[i * nu + j] * udot[j];
      EXPECT_NEAR(Mu, f[i], tol * fscale) << "row " << i;
    }
    return fscale;
  }

  int answer = 0;
  int queries = 0;
};

// Over several postures with speeds, gravity and all three kinds of load:
// M udot = f, the residual at mbderiv's answer vanishes, and inverse dynamics
// of the answer without the hinge loads returns those hinge loads.
TEST_F(ForwardDynamics, AccelerationsSolveTheEquationsOfMotion) {
  for (unsigned seed : {41u, 42u, 43u, 44u}) {
    SCOPED_TRACE(seed);
    set_loaded_state(seed);
    double ht_applied[nu];
    for (int k = 0; k < nu; ++k) ht_applied[k] = loads.applied_ht[k];
    double udot[nu];
    const double fscale = expect_deriv_solves(1e-11, udot);

    // The implicit form at the explicit answer.
    double resid[nq + nu];
    mbresid(velocity.state_qdot, udot, nullptr, resid);
    for (int i = 0; i < nq; ++i) EXPECT_EQ(resid[i], 0.0);
    for (int k = 0; k < nu; ++k) EXPECT_NEAR(resid[nq + k], 0.0, 1e-11 * fscale) << "seed " << seed << " axis " << k;

    // The same state and loads less the hinge loads: inverse dynamics asks
    // for exactly the hinge loads that produced udot.
    set_loaded_state(seed);
    for (int j = 0; j < njnt; ++j)
      for (int a = 0; a < joint_dof[j]; ++a) mbhinget(j, a, -loads.applied_ht[joint_first_axis[j] + a]);
    double ht[nu];
    mbinvdyn(udot, nullptr, ht);
    for (int k = 0; k < nu; ++k) EXPECT_NEAR(ht[k], ht_applied[k], 1e-11 * fscale) << "seed " << seed << " axis " << k;
  }
  EXPECT_TRUE(take_reports().empty());
}

// A tip without mass but with inertia drops the force rows of its remainder;
// the answer must still solve the equations of motion.
TEST_F(ForwardDynamics, MasslessTipStillSolves) {
  const int j = pin_tip();
  if (j < 0) GTEST_SKIP() << "no pin tip";
  mbmass(j, 0.0);
  mbinit();
  set_loaded_state(45);
  double udot[nu];
  expect_deriv_solves(1e-10, udot);
  EXPECT_TRUE(take_reports().empty());
}

// The implicit form reads all of its inputs before it writes: residuals
// computed in the caller's input array equal those of separate arrays.
TEST_F(ForwardDynamics, ResidualMayOverwriteItsInputs) {
  set_loaded_state(46);
  double qdot[nq], udot[nu];
  mbderiv(qdot, udot);
  double x[nq + nu], apart[nq + nu];
  for (int i = 0; i < nq; ++i) x[i] = qdot[i] + 0.01 * (i + 1);
  for (int k = 0; k < nu; ++k) x[nq + k] = udot[k] - 0.02 * k;
  double estimate_u[nu];
  for (int k = 0; k < nu; ++k) estimate_u[k] = x[nq + k];
  mbresid(x, x + nq, nullptr, apart);
  double acc_apart[3];
  const double origin[3] = {0, 0, 0};
  mbacc(nbody - 1, origin, acc_apart);
  mbresid(x, x + nq, nullptr, x);
  for (int i = 0; i < nq + nu; ++i) EXPECT_EQ(x[i], apart[i]) << i;
  for (int k = 0; k < nu; ++k) EXPECT_EQ(results.state_udot[k], estimate_u[k]);
  double acc[3];
  mbacc(nbody - 1, origin, acc);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(acc[i], acc_apart[i]);
  EXPECT_TRUE(take_reports().empty());
}

// Installing mbderiv's accelerations gives the same results; installing
// zeros leaves the velocity-product part; neither is accepted before a state.
TEST_F(ForwardDynamics, InstalledAccelerations) {
  mbsetudot(results.state_udot);
  EXPECT_EQ(take_reports(), (std::vector<Report>{{QEL_R_MBSETUDOT, QEL_E_NEEDS_STATE}}));
  EXPECT_EQ(control.call_state, 1);

  set_loaded_state(47);
  double qdot[nq], udot[nu];
  mbderiv(qdot, udot);
  const AccelerationResults after_deriv = results;
  mbsetudot(udot);
  EXPECT_EQ(control.call_state, 3);
  for (int b = 0; b < nbody; ++b)
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(results.body_acc[b][i], after_deriv.body_acc[b][i]);
      EXPECT_EQ(results.body_angacc[b][i], after_deriv.body_angacc[b][i]);
    }

  // Zero accelerations at zero speeds: nothing moves but the hinge record.
  qeltest::Posture s = posture;
  std::fill(s.u.begin(), s.u.end(), 0.0);
  set_state(s);
  mbhinget(0, 0, 1.5);
  const double zero[nu] = {};
  mbsetudot(zero);
  EXPECT_EQ(results.ht_result[0], 1.5);
  for (int b = 0; b < nbody; ++b)
    for (int i = 0; i < 3; ++i) {
      EXPECT_NEAR(results.body_acc[b][i], 0.0, 1e-15);
      EXPECT_NEAR(results.body_angacc[b][i], 0.0, 1e-15);
    }
  EXPECT_TRUE(take_reports().empty());
}

TEST_F(ForwardDynamics, SmallRoutinesAroundTheSolve) {
  double udot[nu];
  for (double& x : udot) x = 9.0;
  mbcompudot(udot);
  mbzeroudot(nullptr, udot);
  EXPECT_EQ(take_reports(),
            (std::vector<Report>{{QEL_R_MBCOMPUDOT, QEL_E_NEEDS_STATE}, {QEL_R_MBZEROUDOT, QEL_E_NEEDS_STATE}}));
  EXPECT_EQ(udot[0], 9.0);

  // The mark never lifts an uninitialized or merely initialized module.
  for (int st : {0, 1, 2, 3}) {
    control.call_state = st;
    control.state_mark = 0;
    mbmarkstate();
    EXPECT_EQ(control.call_state, st == 3 ? 2 : st);
    EXPECT_EQ(control.state_mark, 1);
  }

  set_loaded_state(48);
  double qdot[nq], ud_deriv[nu];
  mbderiv(qdot, ud_deriv);
  mbcompudot(udot);
  EXPECT_EQ(control.call_state, 2);
  for (int k = 0; k < nu; ++k) EXPECT_EQ(udot[k], ud_deriv[k]);
  mbderiv(qdot, ud_deriv);
  mbzeroudot(nullptr, udot);
  EXPECT_EQ(control.call_state, 2);
  for (int k = 0; k < nu; ++k) {
    EXPECT_EQ(udot[k], 0.0);
    EXPECT_EQ(results.state_udot[k], 0.0);
  }
  EXPECT_TRUE(take_reports().empty());
}

// Every entry (r, s) of a contribution to an articulated inertia is its own
// sum over the factor columns, (d_j w_j[r]) w_j[s] in column order; (s, r)
// rounds apart from it, so a block mirrored from its upper triangle fails
// here. The slots that several child joints reach keep each contribution's
// carried columns and pivots, so their inertias can be rebuilt: own inertia
// plus the first arrival, then each later arrival, highest joint first.
TEST_F(ForwardDynamics, ContributionsAreSummedEntryByEntry) {
  int checked = 0;
  for (unsigned seed : {61u, 62u, 63u}) {
    set_loaded_state(seed);
    double qdot[nq], udot[nu];
    mbderiv(qdot, udot);
    for (int n = 0; n < nu; ++n) {
      if (contributor_count(n) < 2) continue;
      SCOPED_TRACE(n);
      // Rows and columns: force components 0..2, moment components 3..5.
      double ia[6][6] = {};
      for (int r = 0; r < 3; ++r) {
        ia[r][r] = params.body_mass[axis_joint[n]];
        for (int s = 0; s < 3; ++s) {
          ia[r][3 + s] = derived.body_mass_skew[n][r][s];
          ia[3 + r][3 + s] = derived.joint_inertia[n][r][s];
        }
      }
      for (int c = nu - 1; c > n; --c) {
        if (inward_slot(c) != n) continue;
        const double(&w)[6][6] = qel::abi.abi_prop_col[held_index[c]];
        const double(&d)[6] = qel::abi.abi_prop_pivot[held_index[c]];
        for (int r = 0; r < 6; ++r)
          for (int s = (r < 3 ? 0 : 3); s < 6; ++s) {
            double sum = (d[0] * w[0][r]) * w[0][s];
            for (int j = 1; j < 6; ++j) sum += (d[j] * w[j][r]) * w[j][s];
            ia[r][s] = sum + ia[r][s];
          }
      }
      for (int r = 0; r < 3; ++r)
        for (int s = 0; s < 3; ++s) {
          EXPECT_EQ(qel::abi.abi_inertia[0][n][r][s], ia[r][s]) << "M " << r << s;
          EXPECT_EQ(qel::abi.abi_inertia[1][n][r][s], ia[r][3 + s]) << "H " << r << s;
          EXPECT_EQ(qel::abi.abi_inertia[2][n][r][s], ia[3 + r][3 + s]) << "J " << r << s;
        }
      ++checked;
    }
  }
  EXPECT_GT(checked, 0);
  EXPECT_TRUE(take_reports().empty());
}

// One massless tip body on a pin joint with inertia diag(jxx, 1, 1) about
// its pin (1, 0, 0): its pivot is exactly jxx.
struct PivotCase {
  const char* name;
  double jxx;
  bool passes;
};

TEST_F(ForwardDynamics, PivotTestsAndTheirReports) {
  const int j = pin_tip();
  if (j < 0) GTEST_SKIP() << "no pin tip";
  const int L = joint_first_axis[j];
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const PivotCase cases[] = {
      {"at the tolerance", 1e-13, true}, {"just below", 0.99e-13, false}, {"zero", 0.0, false},
      {"negative", -1e-3, false},        {"not a number", nan, false},
  };
  // Axes whose pivot a NaN reaches: the tip's joint and every joint inward.
  int path_axes = 6;
  for (int b = j; b >= 1; b = joint_inboard[b]) path_axes += joint_dof[b];

  for (const PivotCase& c : cases) {
    SCOPED_TRACE(c.name);
    const double I[9] = {c.jxx, 0, 0, 0, 1, 0, 0, 0, 1};
    const double pin[3] = {1, 0, 0};
    mbmass(j, 0.0);
    mbiner(j, I);
    mbpin(j, 0, pin);
    mbinit();
    set_loaded_state(49);
    for (int routine : {QEL_R_MBDERIV, QEL_R_MBCOMPUDOT}) {
      double qdot[nq], udot[nu];
      if (routine == QEL_R_MBDERIV) mbderiv(qdot, udot);
      else mbcompudot(udot);
      const std::vector<Report> got = take_reports();
      // Non-root pivots report under mbderiv's number whoever began.
      const size_t expected = c.passes ? 0 : std::isnan(c.jxx) ? path_axes : 1;
      EXPECT_EQ(got.size(), expected);
      // A NaN reaches the root, whose six axes report under the caller's.
      for (size_t i = 0; i < got.size(); ++i)
        EXPECT_EQ(got[i], (i + 6 < expected || expected == 1 ? kPivot17 : Report{routine, QEL_E_SMALL_PIVOT}));
      EXPECT_EQ(control.abi_valid, c.passes ? 1 : 0);
      // A passing pivot is stored inverted, a failing one raw, and the gains
      // scale the column by what is stored.
      const double stored = qel::abi.axis_pivot_inv[L];
      if (c.passes) EXPECT_EQ(stored, 1.0 / c.jxx);
      else if (std::isnan(c.jxx)) EXPECT_TRUE(std::isnan(stored));
      else EXPECT_EQ(stored, c.jxx);
      if (!std::isnan(c.jxx)) {
        EXPECT_EQ(qel::abi.abi_gain[1][L][0], c.jxx * stored);
        for (int i = 0; i < 3; ++i) EXPECT_EQ(qel::abi.abi_gain[0][L][i], 0.0);
      }
    }
  }
}

// With no mass anywhere the root's translations have no pivot: each reports
// under the routine that began the evaluation, and their slots keep what an
// earlier pass left.
TEST_F(ForwardDynamics, FailedRootPivotsKeepTheirSlots) {
  for (int b = 0; b < nbody; ++b) mbmass(b, 0.0);
  mbinit();
  for (int routine : {QEL_R_MBCOMPUDOT, QEL_R_MBDERIV}) {
    set_loaded_state(50 + routine);
    for (int k = 0; k < 3; ++k) qel::abi.axis_pivot_inv[k] = 7.0 + k;
    double qdot[nq], udot[nu];
    if (routine == QEL_R_MBDERIV) mbderiv(qdot, udot);
    else mbcompudot(udot);
    const Report root{routine, QEL_E_SMALL_PIVOT};
    EXPECT_EQ(take_reports(), (std::vector<Report>{root, root, root}));
    for (int k = 0; k < 3; ++k) EXPECT_EQ(qel::abi.axis_pivot_inv[k], 7.0 + k);
    EXPECT_EQ(control.abi_valid, 0);
  }
}

// The pass is cached only behind a clean record: while the host answers a
// nonzero code it runs (and queries) on every evaluation with the same
// results; with a zero answer it runs once per coordinate change.
TEST_F(ForwardDynamics, QueryDecidesWhetherThePassIsReused) {
  use_query(QEL_E_GIMBAL_LOCK);
  set_loaded_state(51);
  double qdot[nq], first[nu], again[nu];
  mbderiv(qdot, first);
  EXPECT_EQ(queries, 1);
  mbderiv(qdot, again);
  mbderiv(qdot, again);
  EXPECT_EQ(queries, 3);
  for (int k = 0; k < nu; ++k) EXPECT_EQ(again[k], first[k]);

  // The host clears its record: one more pass, then none while q holds,
  // whatever the speeds and loads.
  answer = 0;
  mbderiv(qdot, again);
  EXPECT_EQ(queries, 4);
  for (int k = 0; k < nu; ++k) EXPECT_EQ(again[k], first[k]);
  qeltest::Posture s = qeltest::random_posture(engine, creature, 51);
  for (double& u : s.u) u *= -0.5;
  set_state(s);
  mbhinget(1, 0, 0.7);
  mbderiv(qdot, again);
  mbderiv(qdot, again);
  EXPECT_EQ(queries, 4);
  s.q[6] += 0.1;
  set_state(s);
  mbderiv(qdot, again);
  EXPECT_EQ(queries, 5);
  EXPECT_TRUE(take_reports().empty());
}

// A pass with a failing pivot is never reused, even when the host keeps no
// record of the failure (or has no query callback at all).
TEST_F(ForwardDynamics, FailedPassIsNeverReused) {
  const int j = pin_tip();
  if (j < 0) GTEST_SKIP() << "no pin tip";
  const double I[9] = {0, 0, 0, 0, 0, 0, 0, 0, 0};
  mbmass(j, 0.0);
  mbiner(j, I);
  mbinit();
  use_query(0);
  set_loaded_state(52);
  double qdot[nq], udot[nu];
  mbderiv(qdot, udot);
  mbderiv(qdot, udot);
  EXPECT_EQ(queries, 2);
  EXPECT_EQ(take_reports(), (std::vector<Report>{kPivot17, kPivot17}));

  mberrorRegister(static_cast<qeltest::EngineTest*>(this), nullptr);
  mbderiv(qdot, udot);
  EXPECT_EQ(take_reports(), (std::vector<Report>{kPivot17}));
  EXPECT_EQ(control.abi_valid, 0);

  // Without a query callback a clean pass is reused.
  mbmass(j, 1.0);
  mbiner(j, creature.inertia[j].data());
  mbinit();
  set_loaded_state(52);
  mbderiv(qdot, udot);
  EXPECT_EQ(control.abi_valid, 1);
  EXPECT_TRUE(take_reports().empty());
}

}  // namespace

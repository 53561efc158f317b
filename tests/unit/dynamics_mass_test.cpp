// The mass matrix, inverse dynamics and the generalized forces against
// references built from the kinematics alone: the kinetic energy, finite
// differences of velocities, the virtual power of the loads and the moments
// of the weights; and the caching of the force terms.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <vector>

#include "dynamics/forces.hpp"
#include "dynamics/inverse.hpp"
#include "unit/creature_unit.hpp"

namespace {

using namespace qel;
using qelunit::Report;
using qelunit::State;
using qelunit::take_reports;
using Vec = std::vector<double>;

constexpr unsigned kSeeds[] = {501, 502, 503};
const double kNoGravity[3] = {0.0, 0.0, 0.0};
const double kOrigin[3] = {0.0, 0.0, 0.0};

int no_error(void*, int* routine, int* code) {
  *routine = 0;
  *code = 0;
  return 0;
}

class Mass : public ::testing::Test {
 protected:
  void SetUp() override {
    mberrorRegister(nullptr, &no_error);
    mbstab(0.0, 0.0);
  }
  void TearDown() override { mberrorRegister(nullptr, nullptr); }

  // A creature with the given gravity and a random state away from gimbal lock.
  State creature(unsigned seed, const double* g = nullptr, double speed = 1.0) {
    qelunit::supply_creature(seed, g);
    qelunit::Rng r(seed + 7);
    const State s = qelunit::set_random_state(r, speed);
    take_reports();
    return s;
  }
};

Vec mass_matrix() {
  Vec mm(nu * nu);
  mbmassmtx(mm.data());
  return mm;
}
Vec genf() {
  Vec g(nu);
  mbgetgenf(g.data());
  return g;
}
Vec invdyn(const Vec& udot) {
  Vec ht(nu);
  mbinvdyn(udot.data(), nullptr, ht.data());
  return ht;
}
Vec loadht() {
  Vec ht(nu);
  mbloadht(ht.data());
  return ht;
}

double max_abs(const Vec& v) { return qelunit::max_abs(v.data(), static_cast<int>(v.size())); }

void expect_near(const Vec& got, const Vec& want, double tol, const char* what) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], want[i], tol) << what << " entry " << i;
}

// Smallest pivot of a Cholesky factorization (negative or NaN when the
// matrix is not positive definite).
double smallest_cholesky_pivot(Vec a) {
  double smallest = std::numeric_limits<double>::infinity();
  for (int k = 0; k < nu; ++k) {
    double d = a[k * nu + k];
    for (int m = 0; m < k; ++m) d -= a[k * nu + m] * a[k * nu + m];
    if (!(d > 0.0)) return d;
    smallest = std::fmin(smallest, d);
    const double l = std::sqrt(d);
    a[k * nu + k] = l;
    for (int i = k + 1; i < nu; ++i) {
      double s = a[i * nu + k];
      for (int m = 0; m < k; ++m) s -= a[i * nu + m] * a[k * nu + m];
      a[i * nu + k] = s / l;
    }
  }
  return smallest;
}

// Whether body b is joint j's body or lies outboard of it.
bool carried_by(int b, int j) {
  while (b > j) b = joint_inboard[b];
  return b == j;
}

// The records the dynamics stages compute, apart from the sweep scratch, and
// everything they read: a snapshot to show that a routine changed none of it.
struct Snapshot {
  Control c = control;
  LoadAccumulators l = loads;
  Vec g{forces.gen_force, forces.gen_force + nu};
  Vec vp_ang{&forces.velprod_ang[0][0], &forces.velprod_ang[0][0] + 3 * nu};
  Vec vp_lin{&forces.velprod_lin[0][0], &forces.velprod_lin[0][0] + 3 * nu};
  bool operator==(const Snapshot& o) const {
    return std::memcmp(&c, &o.c, sizeof c) == 0 && std::memcmp(&l, &o.l, sizeof l) == 0 &&
           std::memcmp(g.data(), o.g.data(), nu * sizeof(double)) == 0 && vp_ang == o.vp_ang && vp_lin == o.vp_lin;
  }
};

// Applied loads of every kind, and their generalized forces as virtual
// power: the load dotted with its point's velocity at the unit speed e_k.
struct Load {
  enum Kind { kHinge, kPoint, kTorque } kind;
  int index, axis;  // joint and axis (hinge) or body
  double point[3], vec[3];
  void apply() const {
    if (kind == kHinge) mbhinget(index, axis, vec[0]);
    if (kind == kPoint) mbpointf(index, point, vec);
    if (kind == kTorque) mbbodyt(index, vec);
  }
};

std::vector<Load> random_loads(qelunit::Rng& r) {
  std::vector<Load> out;
  for (int j = 0; j < njnt; j += 3)
    out.push_back({Load::kHinge, j, joint_dof[j] - 1, {0, 0, 0}, {r.in(-2.0, 2.0), 0, 0}});
  for (int b = 1; b < nbody; b += 2)
    out.push_back({Load::kPoint, b, 0, {r.in(-0.2, 0.2), r.in(-0.2, 0.2), r.in(-0.2, 0.2)},
                   {r.in(-5.0, 5.0), r.in(-5.0, 5.0), r.in(-5.0, 5.0)}});
  for (int b = 0; b < nbody; b += 4)
    out.push_back({Load::kTorque, b, 0, {0, 0, 0}, {r.in(-1.0, 1.0), r.in(-1.0, 1.0), r.in(-1.0, 1.0)}});
  return out;
}

// Leaves the state at (s.t, s.q, e_{nu-1}): the caller sets its state again.
Vec virtual_power(const State& s, const std::vector<Load>& ls) {
  Vec g(nu, 0.0);
  for (int k = 0; k < nu; ++k) {
    double e[nu] = {};
    e[k] = 1.0;
    mbstate(s.t, s.q, e);
    for (const Load& l : ls) {
      if (l.kind == Load::kHinge) {
        if (joint_first_axis[l.index] + l.axis == k) g[k] += l.vec[0];
      } else if (l.kind == Load::kPoint) {
        double R[3][3], f[3], v[3];
        mborient(l.index, R);
        mat_vec(R, l.vec, f);
        mbvel(l.index, l.point, v);
        g[k] += dot3(f, v);
      } else {
        double w[3];
        mbangvel(l.index, w);
        g[k] += dot3(l.vec, w);
      }
    }
  }
  return g;
}

TEST_F(Mass, MassMatrixIsTheKineticEnergyFormAndPositiveDefinite) {
  for (unsigned seed : kSeeds) {
    SCOPED_TRACE(seed);
    const State s = creature(seed);
    const Vec ref = qelunit::reference_mass_matrix(s);
    const Vec mm = mass_matrix();
    const double scale = max_abs(ref);
    expect_near(mm, ref, 1e-12 * scale, "mass matrix");
    for (int i = 0; i < nu; ++i)
      for (int j = 0; j < i; ++j) ASSERT_EQ(mm[i * nu + j], mm[j * nu + i]) << i << ", " << j;
    // The root translations carry every body alike.
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j)
        EXPECT_NEAR(mm[i * nu + j], i == j ? derived.total_mass : 0.0, 1e-13 * derived.total_mass);
    EXPECT_GT(smallest_cholesky_pivot(mm), 1e-9 * scale);
    EXPECT_TRUE(take_reports().empty());
    // 1/2 u^T M u is the kinetic energy of the bodies.
    double lmom[3], amom[3], kinetic = 0.0, uMu = 0.0;
    mbmom(lmom, amom, &kinetic);
    for (int i = 0; i < nu; ++i)
      for (int j = 0; j < nu; ++j) uMu += s.u[i] * mm[i * nu + j] * s.u[j];
    EXPECT_NEAR(kinetic, 0.5 * uMu, 1e-12 * kinetic);
  }
}

TEST_F(Mass, MassMatrixIgnoresSpeedsGravityAndLoadsAndChangesNothing) {
  State s = creature(kSeeds[0]);
  const Vec m0 = mass_matrix();
  const double tol = 1e-12 * max_abs(m0);
  qelunit::Rng r(9);
  for (int k = 0; k < nu; ++k) s.u[k] = r.in(-3.0, 3.0);
  s.set();
  qelunit::apply_random_loads(r);
  genf();
  const Snapshot before;
  expect_near(mass_matrix(), m0, tol, "other speeds and loads");
  EXPECT_TRUE(Snapshot{} == before);
  const double g[3] = {2.0, 5.0, -1.0};
  mbgrav(g);
  mbinit();
  s.set();
  expect_near(mass_matrix(), m0, tol, "other gravity");
  EXPECT_TRUE(take_reports().empty());
}

TEST_F(Mass, MasslessOrUndefinedTipIsReportedOnTheDiagonal) {
  int tip = -1;
  for (int j = 1; j < njnt; ++j)
    if (joint_type[j] == kPinJoint && !has_children(j)) tip = j;
  ASSERT_GT(tip, 0);
  qelunit::supply_creature(kSeeds[1]);
  const double zero[9] = {};
  mbmass(tip, 0.0);
  mbiner(tip, zero);
  mbinit();
  qelunit::Rng r(3);
  const State s = qelunit::set_random_state(r);
  take_reports();
  const Vec mm = mass_matrix();
  EXPECT_EQ(take_reports(), (std::vector<Report>{{QEL_R_MBMASSMTX, QEL_E_SMALL_PIVOT}}));
  const int k = joint_first_axis[tip];
  EXPECT_EQ(mm[k * nu + k], 0.0);
  // Every other entry is still filled.
  const Vec ref = qelunit::reference_mass_matrix(s);
  expect_near(mm, ref, 1e-12 * max_abs(ref), "mass matrix");

  // A mass that is not a number spoils the diagonal of every axis that
  // carries the body, each reported once, in axis order.
  mbmass(tip, std::numeric_limits<double>::quiet_NaN());
  mbinit();
  s.set();
  take_reports();
  const Vec bad = mass_matrix();
  std::vector<Report> want;
  for (int j = 0; j < njnt; ++j)
    for (int a = joint_first_axis[j]; a <= joint_last_axis[j]; ++a) {
      EXPECT_EQ(std::isnan(bad[a * nu + a]), carried_by(tip, j)) << a;
      if (carried_by(tip, j)) want.push_back({QEL_R_MBMASSMTX, QEL_E_SMALL_PIVOT});
    }
  EXPECT_EQ(take_reports(), want);
}

TEST_F(Mass, RoutinesRefuseBeforeAStateAndWriteNothing) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    int routine;
    std::function<void(double*)> call;
  };
  const Vec zero(nu, 0.0);
  const Case cases[] = {
      {QEL_R_MBMASSMTX, [](double* out) { mbmassmtx(out); }},
      {QEL_R_MBINVDYN, [&](double* out) { mbinvdyn(zero.data(), nullptr, out); }},
      {QEL_R_MBUDOT2HT, [&](double* out) { mbudot2ht(zero.data(), out); }},
      {QEL_R_MBMULT2HT, [&](double* out) { mbmult2ht(zero.data(), out); }},
      {QEL_R_MBLOADHT, [](double* out) { mbloadht(out); }},
      {QEL_R_MBGETGENF, [](double* out) { mbgetgenf(out); }},
  };
  qelunit::supply_creature(kSeeds[0]);
  for (int state : {1, 0}) {
    if (state == 0) mbmass(1, 2.0);
    ASSERT_EQ(control.call_state, state);
    take_reports();
    for (const Case& c : cases) {
      SCOPED_TRACE(c.routine);
      Vec out(nu * nu, nan);
      const Snapshot before;
      c.call(out.data());
      EXPECT_EQ(take_reports(), (std::vector<Report>{{c.routine, QEL_E_NEEDS_STATE}}));
      for (double x : out) EXPECT_TRUE(std::isnan(x));
      EXPECT_TRUE(Snapshot{} == before);
    }
  }
}

TEST_F(Mass, InverseDynamicsIsMassMatrixTimesUdotMinusGenForce) {
  for (unsigned seed : kSeeds) {
    SCOPED_TRACE(seed);
    const State s = creature(seed);
    const Vec M = qelunit::reference_mass_matrix(s);
    qelunit::Rng r(seed);
    qelunit::apply_random_loads(r);
    const Vec g = genf();
    Vec udot(nu);
    for (double& x : udot) x = r.in(-2.0, 2.0);
    Vec want(nu);
    for (int i = 0; i < nu; ++i) {
      double mu = 0.0;
      for (int j = 0; j < nu; ++j) mu += M[i * nu + j] * udot[j];
      want[i] = mu - g[i];
    }
    const Snapshot before;
    const Vec ht = invdyn(udot);
    EXPECT_TRUE(Snapshot{} == before);
    expect_near(ht, want, 1e-11 * max_abs(want), "M udot - gen_force");
    Vec minus_g(nu);
    for (int i = 0; i < nu; ++i) minus_g[i] = -g[i];
    expect_near(invdyn(Vec(nu, 0.0)), minus_g, 1e-12 * max_abs(g), "at zero udot");
    Vec ht2(nu);
    mbudot2ht(udot.data(), ht2.data());
    EXPECT_EQ(ht2, ht);
    const Vec garbage(nu, std::numeric_limits<double>::quiet_NaN());
    Vec zeros(nu, 1.0);
    mbmult2ht(garbage.data(), zeros.data());
    EXPECT_EQ(zeros, Vec(nu, 0.0));
    EXPECT_TRUE(take_reports().empty());
  }
  // At rest without gravity or loads nothing is needed, exactly.
  State s = creature(kSeeds[0], kNoGravity);
  for (double& x : s.u) x = 0.0;
  s.set();
  EXPECT_EQ(invdyn(Vec(nu, 0.0)), Vec(nu, 0.0));
}

TEST_F(Mass, VelocityProductsAreTheAccelerationsAtConstantSpeeds) {
  for (unsigned seed : kSeeds) {
    SCOPED_TRACE(seed);
    const State s = creature(seed);
    mbvelprod();
    std::vector<std::array<double, 3>> lin(nbody), ang(nbody);
    for (int b = 0; b < nbody; ++b)
      for (int i = 0; i < 3; ++i) {
        lin[b][i] = forces.velprod_lin[joint_last_axis[b]][i];
        ang[b][i] = b == 0 ? 0.0 : forces.velprod_ang[joint_last_axis[b]][i];
      }
    double R[nbody][3][3];
    for (int b = 0; b < nbody; ++b) mborient(b, R[b]);
    // Central differences along the motion with u held: the change of each
    // ground-frame velocity, turned into the body frame.
    const double h = 1e-5;
    const Vec qdot(velocity.state_qdot, velocity.state_qdot + nq);
    double v[2][nbody][3], w[2][nbody][3];
    for (int side = 0; side < 2; ++side) {
      State p = s;
      for (int k = 0; k < nq; ++k) p.q[k] += (side ? h : -h) * qdot[k];
      p.set();
      for (int b = 0; b < nbody; ++b) {
        double rot[3][3], wb[3];
        mbvel(b, kOrigin, v[side][b]);
        mborient(b, rot);
        mbangvel(b, wb);
        mat_vec(rot, wb, w[side][b]);
      }
    }
    for (int b = 0; b < nbody; ++b) {
      double dv[3], dw[3], a[3], alpha[3];
      for (int i = 0; i < 3; ++i) {
        dv[i] = (v[1][b][i] - v[0][b][i]) / (2 * h);
        dw[i] = (w[1][b][i] - w[0][b][i]) / (2 * h);
      }
      mat_tvec(R[b], dv, a);
      mat_tvec(R[b], dw, alpha);
      for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(lin[b][i], a[i], 1e-6) << "body " << b;
        EXPECT_NEAR(ang[b][i], alpha[i], 1e-6) << "body " << b;
      }
    }
    take_reports();
  }
}

TEST_F(Mass, GravityGivesTheMomentsOfTheOutboardWeights) {
  for (unsigned seed : kSeeds) {
    SCOPED_TRACE(seed);
    State s = creature(seed);
    for (double& x : s.u) x = 0.0;
    s.set();
    const double* g = params.gravity;
    double pos[nbody][3], weight[nbody][3];
    for (int b = 0; b < nbody; ++b) {
      mbpos(b, kOrigin, pos[b]);
      mbvmul(params.body_mass[b], g, weight[b]);
    }
    // Moment of the weights carried by joint j about its joint point, ground.
    auto moment = [&](int j, double* out) {
      double jp[3];
      mbpos(j, params.body_to_joint[j], jp);
      mbvset(0, 0, 0, out);
      for (int b = 0; b < nbody; ++b) {
        if (!carried_by(b, j)) continue;
        double arm[3], m[3];
        mbvsub(pos[b], jp, arm);
        mbvcross(arm, weight[b], m);
        mbvadd(out, m, out);
      }
    };
    Vec want(nu);
    double m0[3], R0[3][3], body0[3];
    for (int i = 0; i < 3; ++i) want[i] = derived.total_mass * g[i];
    moment(0, m0);
    mborient(0, R0);
    mat_tvec(R0, m0, body0);
    for (int i = 0; i < 3; ++i) want[3 + i] = body0[i];
    for (int j = 1; j < njnt; ++j) {
      double mj[3];
      moment(j, mj);
      for (int k = joint_first_axis[j]; k <= joint_last_axis[j]; ++k) {
        double axis[3];
        mat_vec(position.axis_frame_rot[k], params.joint_pin[k], axis);
        want[k] = dot3(axis, mj);
      }
    }
    const double tol = 1e-12 * max_abs(want);
    const Vec at_rest = genf();
    expect_near(at_rest, want, tol, "gen_force at rest");
    // The load-only forces are those of the same sweep, exactly, and ignore the speeds.
    const Vec lh = loadht();
    for (int k = 0; k < nu; ++k) EXPECT_EQ(lh[k], at_rest[k]) << k;
    qelunit::Rng r(seed);
    for (double& x : s.u) x = r.in(-2.0, 2.0);
    s.set();
    const Snapshot before;
    EXPECT_EQ(loadht(), lh);
    EXPECT_TRUE(Snapshot{} == before);
    EXPECT_NE(genf(), lh);  // gen_force has the velocity terms
    EXPECT_TRUE(take_reports().empty());
  }
}

TEST_F(Mass, LoadsEnterAsTheirVirtualPower) {
  for (unsigned seed : kSeeds) {
    SCOPED_TRACE(seed);
    State s = creature(seed, kNoGravity);
    for (double& x : s.u) x = 0.0;
    qelunit::Rng r(seed);
    const std::vector<Load> ls = random_loads(r);
    const Vec want = virtual_power(s, ls);
    s.set();
    for (const Load& l : ls) l.apply();
    const double tol = 1e-12 * max_abs(want);
    expect_near(genf(), want, tol, "gen_force");
    // At rest the load-only forces come out of the same sweep, exactly.
    const Vec lh = loadht();
    for (int k = 0; k < nu; ++k) EXPECT_EQ(lh[k], forces.gen_force[k]) << k;
    EXPECT_TRUE(take_reports().empty());
  }
}

TEST_F(Mass, GenForceIsCachedAndRecomputedAfterEachLoad) {
  const State s = creature(kSeeds[2]);
  qelunit::Rng r(4);
  const std::vector<Load> ls = random_loads(r);
  Vec power[3];  // the virtual power of the first load of each kind
  const Load* first[3] = {};
  for (const Load& l : ls)
    if (!first[l.kind]) first[l.kind] = &l;
  for (int kind = 0; kind < 3; ++kind) power[kind] = virtual_power(s, {*first[kind]});
  s.set();

  Vec g = genf();
  EXPECT_EQ(control.frcterms_valid, 1);
  EXPECT_EQ(control.velprod_valid, 1);
  // While valid nothing is recomputed: a change behind the flags' back stays unseen.
  loads.applied_ht[nu - 1] += 1.0;
  EXPECT_EQ(genf(), g);
  loads.applied_ht[nu - 1] -= 1.0;
  const Vec vp_before(&forces.velprod_ang[0][0], &forces.velprod_ang[0][0] + 3 * nu);
  velocity.axis_pin_rate[nu - 1][0] += 1.0;
  mbvelprod();
  velocity.axis_pin_rate[nu - 1][0] -= 1.0;
  EXPECT_EQ(Vec(&forces.velprod_ang[0][0], &forces.velprod_ang[0][0] + 3 * nu), vp_before);

  // Each load clears the generalized force alone; the velocity products and
  // the articulated-inertia tables stay valid.
  for (int kind = 0; kind < 3; ++kind) {
    SCOPED_TRACE(kind);
    control.abi_valid = 1;
    control.partvel_valid = 1;
    first[kind]->apply();
    EXPECT_EQ(control.frcterms_valid, 0);
    EXPECT_EQ(control.velprod_valid, 1);
    EXPECT_EQ(control.abi_valid, 1);
    EXPECT_EQ(control.partvel_valid, 1);
    const Vec next = genf();
    Vec want(nu);
    for (int k = 0; k < nu; ++k) want[k] = g[k] + power[kind][k];
    expect_near(next, want, 1e-12 * max_abs(want), "after the load");
    g = next;
  }
  EXPECT_TRUE(take_reports().empty());
}

TEST_F(Mass, DerivUsesTheGenForceAndLeavesItForCallState3) {
  for (unsigned seed : kSeeds) {
    SCOPED_TRACE(seed);
    const State s = creature(seed);
    const Vec M = qelunit::reference_mass_matrix(s);
    qelunit::Rng r(seed + 1);
    qelunit::apply_random_loads(r);
    const Vec g = genf();
    Vec qdot(nq), udot(nu);
    mbderiv(qdot.data(), udot.data());
    ASSERT_EQ(control.call_state, 3);
    // Forward dynamics solved M udot = gen_force for this very vector...
    Vec Mu(nu, 0.0);
    for (int i = 0; i < nu; ++i)
      for (int j = 0; j < nu; ++j) Mu[i] += M[i * nu + j] * udot[j];
    expect_near(Mu, g, 1e-9 * max_abs(g), "M udot");
    expect_near(invdyn(udot), Vec(nu, 0.0), 1e-9 * max_abs(g), "inverse of forward dynamics");
    // ... and in call state 3 it is handed out as it was, not recomputed.
    loads.applied_ht[nu - 1] += 1.0;
    EXPECT_EQ(genf(), g);
    loads.applied_ht[nu - 1] -= 1.0;
    EXPECT_EQ(control.call_state, 3);
    EXPECT_TRUE(take_reports().empty());
  }
}

TEST_F(Mass, ForceTotalsCopyOrSumTheGenForce) {
  creature(kSeeds[0]);
  genf();
  forces.gen_force[0] = -0.0;
  mbgenfcopy();
  EXPECT_TRUE(std::signbit(forces.gen_force_total[0]));
  EXPECT_EQ(0, std::memcmp(forces.gen_force_total, forces.gen_force, sizeof forces.gen_force));
  for (auto sum : {&mbgenfsum, &mbgenfsumb}) {
    mbgenfcopy();
    sum();
    EXPECT_FALSE(std::signbit(forces.gen_force_total[0]));
    for (int k = 1; k < nu; ++k) EXPECT_EQ(forces.gen_force_total[k], forces.gen_force[k]);
  }
  mbgenfzerob();
  for (int k = 0; k < nu; ++k) EXPECT_EQ(forces.gen_force_total[k], 0.0);
}

}  // namespace

// mbstate's cache seen from inside: which stages a call reruns, which flags
// it clears, and the coordinate derivatives with their stabilizing term.
#include <cmath>
#include <functional>
#include <limits>
#include <random>

#include "model/kinematics.hpp"
#include "numerics/vec3.hpp"
#include "unit/state_fixture.hpp"

namespace {

using namespace qel;
using qeltest::Posture;
using qeltest::Report;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kMarker = 1e9;

class StateCache : public qeltest::EngineTest {
 protected:
  // Marks one table of each stage so that a rerun shows.
  void mark() {
    position.body_pos[1][0] = kMarker;
    velocity.body_vel[1][0] = kMarker;
  }
  bool position_reran() const { return position.body_pos[1][0] != kMarker; }
  bool velocity_reran() const { return velocity.body_vel[1][0] != kMarker; }

  // e . (quaternion rates): the rate of half the squared norm.
  double norm_rate(const double* q, const double* qdot) const {
    return q[3] * qdot[3] + q[4] * qdot[4] + q[5] * qdot[5] + q[nu] * qdot[nu];
  }
};

TEST_F(StateCache, WhatEachChangeRecomputes) {
  Posture base = posture;
  base.q[0] = 0.0;
  base.u[0] = 0.0;
  const struct Row {
    const char* what;
    std::function<void(Posture&, double&)> change;  // applied to both calls
    std::function<void(Posture&, double&)> second;  // applied to the second only
    bool reinit, positions, speeds;
  } rows[] = {
      {"identical", {}, {}, false, false, false},
      {"time only", {}, [](Posture&, double& t) { t = 1.0; }, false, true, true},
      {"last angle", {}, [](Posture& s, double&) { s.q[nu - 1] += 1e-3; }, false, true, true},
      {"quaternion scalar", {}, [](Posture& s, double&) { s.q[nu] *= 1.01; }, false, true, true},
      {"speeds only", {}, [](Posture& s, double&) { s.u[nu - 1] += 1.0; }, false, false, true},
      {"minus zero", {}, [](Posture& s, double&) { s.q[0] = -0.0, s.u[0] = -0.0; }, false, false, false},
      {"NaN angle repeated", [](Posture& s, double&) { s.q[6] = kNaN; }, {}, false, true, true},
      {"NaN time repeated", [](Posture&, double& t) { t = kNaN; }, {}, false, true, true},
      {"NaN speed repeated", [](Posture& s, double&) { s.u[6] = kNaN; }, {}, false, false, true},
      {"after mbinit", {}, {}, true, true, true},
  };
  for (const Row& r : rows) {
    Posture s = base;
    double t = 0.0;
    if (r.change) r.change(s, t);
    set_state(s, t);
    const double pt[3] = {0.1, 0.2, 0.3};
    mbpointf(1, pt, pt);
    mbhinget(1, 0, 2.0);
    mark();
    control.call_state = 3;
    control.partvel_valid = control.abi_valid = control.state_mark = 1;
    control.velprod_valid = control.frcterms_valid = 1;
    if (r.reinit) mbinit();
    if (r.second) r.second(s, t);
    set_state(s, t);

    EXPECT_EQ(position_reran(), r.positions) << r.what;
    EXPECT_EQ(velocity_reran(), r.speeds) << r.what;
    EXPECT_EQ(control.partvel_valid, r.positions ? 0 : 1) << r.what;
    EXPECT_EQ(control.abi_valid, r.positions ? 0 : 1) << r.what;
    EXPECT_EQ(control.state_mark, r.positions ? 0 : 1) << r.what;
    EXPECT_EQ(control.velprod_valid, r.speeds ? 0 : 1) << r.what;
    EXPECT_EQ(control.frcterms_valid, 0) << r.what;
    EXPECT_EQ(control.call_state, 2) << r.what;
    EXPECT_EQ(loads.applied_force[1][0], 0.0) << r.what;
    EXPECT_EQ(loads.applied_torque[1][2], 0.0) << r.what;
    EXPECT_EQ(loads.applied_ht[6], 0.0) << r.what;
    // The cache keeps the first of two equal values.
    EXPECT_FALSE(std::signbit(position.state_q[0])) << r.what;
  }
}

TEST_F(StateCache, StabilizationDrivesTheNormTowardsOne) {
  const struct {
    double gain, scale, expect;  // expect: e . e-dot = (1 - |e|^2) gain
  } rows[] = {{0.0, 1.05, 0.0},   {1.0, 1.05, 1.0 - 1.1025}, {-0.0, 1.05, 0.0},
              {2.0, 0.9, 2.0 * (1.0 - 0.81)}, {3.0, 1.0, 0.0}};
  for (const auto& r : rows) {
    mbstab(r.gain, 0.5);
    Posture s = posture;
    for (int i : {3, 4, 5, nu}) s.q[i] *= r.scale;
    set_state(s);
    double qdot[nq];
    mbgetqdot(qdot);
    EXPECT_NEAR(norm_rate(s.q.data(), qdot), r.expect, 1e-14) << r.gain << " " << r.scale;
    for (int k = 0; k < nu; ++k)
      if (k < 3 || k > 5) EXPECT_EQ(qdot[k], s.u[k]);
    // Without the term, mbu2qdot gives the same rates.
    double plain[nq];
    mbu2qdot(s.u.data(), plain);
    if (r.gain == 0.0)
      for (int i = 0; i < nq; ++i) EXPECT_EQ(plain[i], qdot[i]);
    EXPECT_NEAR(norm_rate(s.q.data(), plain), 0.0, 1e-15);
  }
  // The identity quaternion gets no term at all.
  Posture s = posture;
  s.q[3] = s.q[4] = s.q[5] = 0.0;
  s.q[nu] = 1.0;
  mbstab(0.0, 0.0);
  set_state(s);
  double off[nq], on[nq];
  mbgetqdot(off);
  mbstab(1.0, 0.0);
  set_state(s);
  mbgetqdot(on);
  for (int i = 0; i < nq; ++i) EXPECT_EQ(on[i], off[i]);
  EXPECT_TRUE(take_reports().empty());
}

// mbstab changes the derivatives of the cached state: the next mbstate with
// the same t, q and u redoes them, and nothing else.
TEST_F(StateCache, StabChangeRedoesTheDerivativesOfTheCachedState) {
  Posture s = posture;
  for (int i : {3, 4, 5, nu}) s.q[i] *= 1.05;
  set_state(s);
  double before[nq];
  mbgetqdot(before);
  EXPECT_NEAR(norm_rate(s.q.data(), before), 0.0, 1e-15);
  mark();
  mbstab(1.0, 0.0);
  set_state(s);
  EXPECT_FALSE(position_reran());
  EXPECT_FALSE(velocity_reran());
  double after[nq];
  mbgetqdot(after);
  EXPECT_NEAR(norm_rate(s.q.data(), after), 1.0 - 1.1025, 1e-14);
  EXPECT_EQ(control.qdot_stale, 0);
}

TEST_F(StateCache, ZeroQuaternionWithStabilizationStaysFinite) {
  mbstab(1.0, 0.0);
  Posture s = posture;
  for (int i : {3, 4, 5, nu}) s.q[i] = 0.0;
  set_state(s);
  EXPECT_EQ(take_reports(), (std::vector<Report>{{8, 14}}));
  double qdot[nq];
  mbgetqdot(qdot);
  for (int i : {3, 4, 5, nu}) EXPECT_EQ(qdot[i], 0.0);
}

// Points and frames along q + h qdot move at the rates mbvel and mbangvel
// give: the quaternion rates are those of body 0's angular velocity.
TEST_F(StateCache, CoordinateDerivativesMovePointsAndFramesAtTheirVelocities) {
  mbstab(0.7, 0.0);  // a unit quaternion gets no stabilizing term
  set_state(posture);
  double qdot[nq];
  mbgetqdot(qdot);
  const double h = 1e-5;
  double pt[nbody][3], vel[nbody][3], w[nbody][3], plus[nbody][3], minus[nbody][3];
  mat33 rot_plus[nbody], rot_minus[nbody];
  std::mt19937 rng(41);
  std::uniform_real_distribution<double> r(-0.3, 0.3);
  for (int b = 0; b < nbody; ++b) {
    mbvset(r(rng), r(rng), r(rng), pt[b]);
    mbvel(b, pt[b], vel[b]);
    mbangvel(b, w[b]);
  }
  for (int side : {1, -1}) {
    Posture s = posture;
    for (int i = 0; i < nq; ++i) s.q[i] += side * h * qdot[i];
    set_state(s);
    for (int b = 0; b < nbody; ++b) {
      mbpos(b, pt[b], side > 0 ? plus[b] : minus[b]);
      mborient(b, side > 0 ? rot_plus[b] : rot_minus[b]);
    }
  }
  set_state(posture);
  for (int b = 0; b < nbody; ++b) {
    for (int i = 0; i < 3; ++i) EXPECT_NEAR((plus[b][i] - minus[b][i]) / (2 * h), vel[b][i], 1e-8) << b;
    // R^T dR/dt = [w]x with w in the body frame.
    mat33 W;
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) {
        W[i][j] = 0.0;
        for (int k = 0; k < 3; ++k)
          W[i][j] += position.body_rot[b][k][i] * (rot_plus[b][k][j] - rot_minus[b][k][j]) / (2 * h);
      }
    const double skew[3] = {W[2][1], W[0][2], W[1][0]}, skew_t[3] = {-W[1][2], -W[2][0], -W[0][1]};
    for (int i = 0; i < 3; ++i) {
      EXPECT_NEAR(skew[i], w[b][i], 1e-8) << b;
      EXPECT_NEAR(skew_t[i], w[b][i], 1e-8) << b;
      EXPECT_NEAR(W[i][i], 0.0, 1e-8) << b;
    }
  }
  EXPECT_TRUE(take_reports().empty());
}

// Within one call the reports come in a fixed order: missing prescribed
// values (first call after mbinit only), the quaternion norm, gimbal lock.
TEST_F(StateCache, ReportsOfOneCallComeInOrder) {
  int locked = 0;
  Posture s = posture;
  for (int j = 1; j < njnt; ++j)
    if (joint_type[j] == kThreeRotation) {
      // With the third pin equal to the first, a zero middle angle locks.
      mbpin(j, 2, params.joint_pin[joint_first_axis[j]]);
      ++locked;
    }
  mbinit();
  for (int k = 6; k < nu; ++k) s.q[k] = 0.0;
  for (int i : {3, 4, 5, nu}) s.q[i] *= 1.2;
  param_status.pres[2] = kToSupply;
  param_status.pres[nu - 1] = kToSupply;
  take_reports();
  set_state(s);
  std::vector<Report> expect = {{8, 31}, {8, 31}, {8, 14}};
  expect.insert(expect.end(), locked, Report{8, 43});
  EXPECT_EQ(take_reports(), expect);
  // A repeated state skips the first two checks but not the gimbal test.
  set_state(s);
  EXPECT_EQ(take_reports(), std::vector<Report>(locked, Report{8, 43}));
  param_status.pres[2] = kFixed;
  param_status.pres[nu - 1] = kFixed;
}

TEST_F(StateCache, U2qdotWorksInPlaceAndBothNeedAState) {
  double qdot[nq], buf[nq];
  std::fill(qdot, qdot + nq, 7.0);
  mbgetqdot(qdot);
  mbu2qdot(posture.u.data(), qdot);
  EXPECT_EQ(take_reports(), (std::vector<Report>{{63, 23}, {64, 23}}));
  for (double x : qdot) EXPECT_EQ(x, 7.0);

  set_state(posture);
  mbu2qdot(posture.u.data(), qdot);
  std::copy(posture.u.begin(), posture.u.end(), buf);
  mbu2qdot(buf, buf);
  for (int i = 0; i < nq; ++i) EXPECT_EQ(buf[i], qdot[i]);
  // It reads the cached coordinates: another u gives other rates, no table changes.
  double other[nq];
  std::vector<double> u = posture.u;
  u[4] += 1.0;
  mbu2qdot(u.data(), other);
  EXPECT_NE(other[3], qdot[3]);
  mbgetqdot(buf);
  for (int i = 0; i < nq; ++i) EXPECT_EQ(buf[i], qdot[i]);
  EXPECT_TRUE(take_reports().empty());
}

TEST_F(StateCache, SystemMassCentre) {
  set_state(posture);
  double sum[3] = {0, 0, 0};
  for (int b = 0; b < nbody; ++b)
    for (int i = 0; i < 3; ++i) sum[i] += params.body_mass[b] * position.body_pos[b][i];
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(position.sys_mass_centre[i], sum[i] / derived.total_mass, 1e-14);
  // A massless model has no mass centre to divide out: zero stands for it.
  for (int b = 0; b < nbody; ++b) mbmass(b, 0.0);
  mbinit();
  set_state(posture);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(position.sys_mass_centre[i], 0.0);
}

TEST_F(StateCache, PsstateNeedsExactlyStateTwo) {
  set_state(posture);
  take_reports();
  mbpsstate();
  control.call_state = 3;
  mbpsstate();
  EXPECT_EQ(take_reports(), (std::vector<Report>{{9, 23}}));
}

}  // namespace

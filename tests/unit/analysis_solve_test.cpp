// Real solves: a test load hook holds the creature on joint springs whose
// stiffness matrix is w^2 times the mass matrix at a rest posture, so every
// mode of small motion about rest has the same frequency w. The Jacobian of
// the accelerations is then -w^2 I at rest (a diagonal stiffness gives these
// creatures conditions of 1e6 and worse), and the gravity case has an exact
// answer: the creature sags as a rigid body by g / w^2. The accelerations
// are M(q)^-1 times the loads, and M(q) changes fast with the posture, so the
// damped Newton steps stall from starts a few tenths of a radian away: the
// starts here are a few hundredths away, still far from equilibrium in
// acceleration. Every solution is checked by evaluating it again with mbderiv.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "analysis/analysis.hpp"
#include "model/records.hpp"
#include "unit/creature_unit.hpp"

namespace {

using namespace qel;
using qelunit::Rng;

constexpr int kLen = nq + nu;
constexpr double kOmega2 = 400.0;  // (20 rad/s)^2
// Postures keep every three-rotation joint's first and third axes this far
// from parallel: near gimbal lock the mass matrix is nearly singular and the
// accelerations, the solver's residuals, blow up.
constexpr double kRestLockDistance = 40 * M_PI / 180, kStartLockDistance = 30 * M_PI / 180;
constexpr int kBudget = 3000;      // evaluations per solve; the solves here take a few hundred

struct Springs {
  double rest[nq];                // rest translations and joint angles; the rest orientation is the identity
  std::vector<double> stiffness;  // (nu x nu) w^2 M(rest), row-major
} springs;

// Hinge loads -K d, with d the displacement from rest: the root's
// orientation enters as twice the vector part of the quaternion, its
// rotation vector to first order (either sign of the quaternion describes the
// orientation: the nearer identity is taken).
void spring_loads(double /*t*/, const double q[nq], const double* /*u*/) {
  double d[nu];
  const double sign = q[nu] < 0.0 ? -1.0 : 1.0;
  for (int k = 0; k < nu; ++k) d[k] = (k >= 3 && k < 6) ? 2.0 * sign * q[k] : q[k] - springs.rest[k];
  for (int j = 0; j < njnt; ++j)
    for (int a = 0; a < joint_dof[j]; ++a) {
      const int k = joint_first_axis[j] + a;
      double load = 0.0;
      for (int i = 0; i < nu; ++i) load -= springs.stiffness[k * nu + i] * d[i];
      mbhinget(j, a, load);
    }
}

int answer_none(void*, int* routine, int* code) {
  *routine = 0;
  *code = 0;
  return 0;
}

// Largest |udot| at the state vector v with the spring loads, by a fresh
// evaluation.
double residual_accel(const double* v) {
  mbstate(0.0, v, v + nq);
  spring_loads(0.0, v, v + nq);
  double qdot[nq], udot[nu];
  mbderiv(qdot, udot);
  return qelunit::max_abs(udot, nu);
}

// The smallest angle (radians) between the first and third axes of any
// three-rotation joint at posture q, in ground: zero is gimbal lock.
double lock_distance(const double q[nq]) {
  const double u0[nu] = {};
  mbstate(0.0, q, u0);
  double least = 0.5 * M_PI;
  for (int j = 1; j < njnt; ++j) {
    if (joint_type[j] != kThreeRotation) continue;
    const int f = joint_first_axis[j];
    double a[3], b[3];
    mat_vec(position.axis_frame_rot[f], params.joint_pin[f], a);
    mat_vec(position.axis_frame_rot[f + 2], params.joint_pin[f + 2], b);
    least = std::fmin(least, std::acos(std::fmin(1.0, std::fabs(dot3(a, b)))));
  }
  return least;
}

class SpringSolve : public ::testing::Test {
 protected:
  void SetUp() override {
    set_test_load_hook(&spring_loads);
    mberrorRegister(nullptr, &answer_none);
  }
  void TearDown() override { set_test_load_hook(nullptr); }

  // A creature under gravity g, a rest posture and a start perturbed from
  // it, both away from gimbal lock. A creature whose three-rotation joint has
  // nearly parallel first and third pins is near lock at every small angle,
  // so the creature is redrawn too; every draw is bounded.
  void prepare(unsigned seed, const double g[3]) {
    bool found = false;
    Rng r(seed + 100);
    for (int creature = 0; creature < 50 && !found; ++creature) {
      qelunit::supply_creature(seed + 1000 * creature, g);
      for (int draw = 0; draw < 20 && !found; ++draw) {
        std::memset(springs.rest, 0, sizeof springs.rest);
        for (int i = 0; i < 3; ++i) springs.rest[i] = r.in(-0.3, 0.3);
        springs.rest[nu] = 1.0;
        for (int k = 6; k < nu; ++k) springs.rest[k] = r.in(-0.4, 0.4);
        if (lock_distance(springs.rest) < kRestLockDistance) continue;
        std::memset(vec, 0, sizeof vec);
        for (int k = 0; k < nu; ++k) vec[k] = springs.rest[k] + (k < 6 ? r.in(-0.025, 0.025) : r.in(-0.05, 0.05));
        // A start orientation about 0.05 rad away from the identity.
        vec[3] = 0.015, vec[4] = -0.0125, vec[5] = 0.0175;
        vec[nu] = std::sqrt(1.0 - vec[3] * vec[3] - vec[4] * vec[4] - vec[5] * vec[5]);
        found = lock_distance(vec) >= kStartLockDistance;
      }
    }
    ASSERT_TRUE(found) << "no creature with rest and start postures away from gimbal lock";
    qelunit::State rest;
    std::memcpy(rest.q, springs.rest, sizeof rest.q);
    springs.stiffness = qelunit::reference_mass_matrix(rest);
    for (double& k : springs.stiffness) k *= kOmega2;
    qelunit::take_reports();
    ASSERT_GT(residual_accel(vec), 1.0) << "the start must be far from equilibrium";
  }

  // The posture of vec is rest with the root shifted by `shift`.
  void expect_rest_posture(const double shift[3]) {
    const double sign = vec[nu] < 0.0 ? -1.0 : 1.0;
    for (int i = 0; i < 3; ++i) {
      EXPECT_NEAR(vec[i], springs.rest[i] + shift[i], 1e-9) << i;
      EXPECT_NEAR(sign * vec[3 + i], 0.0, 1e-9) << "orientation " << i;
    }
    for (int k = 6; k < nu; ++k) EXPECT_NEAR(vec[k], springs.rest[k], 1e-9) << k;
  }

  double vec[kLen];
};

TEST_F(SpringSolve, StaticFindsTheRestPostureInZeroGravityAndTheRigidSagUnderGravity) {
  const double g0[3] = {0.0, 0.0, 0.0}, g[3] = {0.3, -0.4, -9.81};
  for (const double* gravity : {g0, g}) {
    SCOPED_TRACE(gravity == g0 ? "zero gravity" : "gravity");
    ASSERT_NO_FATAL_FAILURE(prepare(3, gravity));
    int n_evals = 0, err = -1;
    mbstatic(0.0, vec, nullptr, 0.0, 1e-10, kBudget, &n_evals, &err);
    EXPECT_EQ(err, 0);
    EXPECT_LT(n_evals, kBudget);
    EXPECT_LE(residual_accel(vec), 1e-10);
    // Gravity's generalized force is M times the free-fall acceleration
    // (every body falling with g, no joint turning), which the springs
    // balance by shifting the whole creature by g / w^2.
    const double sag[3] = {gravity[0] / kOmega2, gravity[1] / kOmega2, gravity[2] / kOmega2};
    expect_rest_posture(sag);
    for (int k = 0; k < nu; ++k) EXPECT_EQ(vec[nq + k], 0.0) << "speeds are not unknowns";
  }
}

TEST_F(SpringSolve, SteadyFindsASpinWithTheJointsAtRest) {
  const double g0[3] = {0.0, 0.0, 0.0};
  ASSERT_NO_FATAL_FAILURE(prepare(6, g0));
  // Spin about body 0's third axis; the solver may tilt the spin (u3, u4)
  // and bend the posture, but keeps the spin rate, the root's translation
  // speeds and every joint rate (zero) where they are.
  const double spin = 3.0;
  vec[nq + 5] = spin;
  int lock[2 * nu] = {};
  for (int k = 0; k < nu; ++k)
    if (k != 3 && k != 4) lock[nu + k] = 1;
  int n_evals = 0, err = -1;
  mbsteady(0.0, vec, lock, 0.0, 1e-10, kBudget, &n_evals, &err);
  EXPECT_EQ(err, 0);
  EXPECT_LT(n_evals, kBudget);
  EXPECT_LE(residual_accel(vec), 1e-10);
  EXPECT_EQ(vec[nq + 5], spin);
  for (int k = 0; k < nu; ++k)
    if (k < 3 || k > 5) EXPECT_EQ(vec[nq + k], 0.0) << k;
  // The spin bends the creature away from its rest posture.
  double bend = 0.0;
  for (int k = 6; k < nu; ++k) bend = std::fmax(bend, std::fabs(vec[k] - springs.rest[k]));
  EXPECT_GT(bend, 1e-4);
}

}  // namespace


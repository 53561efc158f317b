// Partial velocities: weighted by the speeds they add up to the velocities
// of the state, they vanish for axes off the body's path, and their tables
// are filled once per coordinate change.
#include <cmath>

#include "model/kinematics.hpp"
#include "model/partvel.hpp"
#include "numerics/vec3.hpp"
#include "unit/state_fixture.hpp"

namespace {

using namespace qel;
using qeltest::Report;

class PartialVelocity : public qeltest::EngineTest {};

TEST_F(PartialVelocity, SpeedWeightedSumsAreTheVelocities) {
  set_state(posture);
  for (int b = 0; b < nbody; ++b) {
    const double pt[3] = {0.1 * b - 0.4, 0.2, -0.15};
    double lin[3] = {0, 0, 0}, ang[3] = {0, 0, 0};
    for (int k = 0; k < nu; ++k) {
      double l[3], a[3];
      mbpartvel(k, b, pt, l, a);
      for (int i = 0; i < 3; ++i) {
        lin[i] += posture.u[k] * l[i];
        ang[i] += posture.u[k] * a[i];
      }
    }
    double vel[3], vel_body[3], w[3];
    mbvel(b, pt, vel);
    mbtrans(-1, vel, b, vel_body);
    mbangvel(b, w);
    for (int i = 0; i < 3; ++i) {
      EXPECT_NEAR(lin[i], vel_body[i], 1e-13) << "body " << b;
      EXPECT_NEAR(ang[i], w[i], 1e-13) << "body " << b;
    }
  }
  EXPECT_TRUE(take_reports().empty());
}

// One unit speed at a time: the partial velocity is the velocity itself.
TEST_F(PartialVelocity, UnitSpeedsGiveThePartials) {
  const double pt[3] = {0.2, -0.1, 0.05};
  for (int k = 0; k < nu; ++k) {
    qeltest::Posture s = posture;
    std::fill(s.u.begin(), s.u.end(), 0.0);
    s.u[k] = 1.0;
    set_state(s);
    for (int b = 0; b < nbody; ++b) {
      double l[3], a[3], vel[3], w[3];
      mbpartvel(k, b, pt, l, a);
      mbvel(b, pt, vel);
      mbtrans(-1, vel, b, vel);
      mbangvel(b, w);
      for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(l[i], vel[i], 1e-14) << "axis " << k << " body " << b;
        EXPECT_NEAR(a[i], w[i], 1e-14) << "axis " << k << " body " << b;
      }
    }
  }
}

TEST_F(PartialVelocity, TranslationsOffPathAxesAndJointPoints) {
  set_state(posture);
  const double pt[3] = {0.3, 0.1, -0.2};
  for (int b = 0; b < nbody; ++b) {
    double l[3], a[3];
    for (int k = 0; k < 3; ++k) {
      double e[3] = {0, 0, 0};
      e[k] = 1.0;
      mbtrans(-1, e, b, e);
      mbpartvel(k, b, pt, l, a);
      for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(l[i], e[i], 1e-15);
        EXPECT_EQ(a[i], 0.0);
      }
    }
    // Axes of joints off the path to ground move nothing.
    for (int j = 1; j < njnt; ++j) {
      bool on_path = false;
      for (int i = b; i != -1; i = joint_inboard[i]) on_path |= i == j;
      if (on_path) continue;
      mbpartvel(joint_first_axis[j], b, pt, l, a);
      for (int i = 0; i < 3; ++i) EXPECT_EQ(l[i] == 0.0 && a[i] == 0.0, true) << b << " " << j;
    }
    // A rotation of the body's own joint does not move the joint's point.
    if (b > 0)
      for (int k = joint_first_axis[b]; k <= joint_last_axis[b]; ++k) {
        mbpartvel(k, b, params.body_to_joint[b], l, a);
        for (int i = 0; i < 3; ++i) EXPECT_NEAR(l[i], 0.0, 1e-14) << b << " " << k;
      }
  }
  double l[3] = {9, 9, 9}, a[3] = {9, 9, 9};
  mbpartvel(4, -1, pt, l, a);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(l[i] == 0.0 && a[i] == 0.0, true);
  EXPECT_TRUE(take_reports().empty());
}

TEST_F(PartialVelocity, RefusalsReportOnceAndWriteNothing) {
  const double pt[3] = {0, 0, 0};
  double l[3] = {7, 7, 7}, a[3] = {7, 7, 7};
  mbpartvel(0, 0, pt, l, a);  // call state 1
  set_state(posture);
  take_reports();
  mbpartvel(nu, nbody, pt, l, a);
  mbpartvel(-1, 0, pt, l, a);
  mbpartvel(0, nbody, pt, l, a);
  mbpartvel(0, -2, pt, l, a);
  EXPECT_EQ(take_reports(), (std::vector<Report>{{59, 45}, {59, 45}, {59, 15}, {59, 15}}));
  for (int i = 0; i < 3; ++i) EXPECT_EQ(l[i] == 7.0 && a[i] == 7.0, true);
}

TEST_F(PartialVelocity, EitherOutputMayBeThePoint) {
  set_state(posture);
  const int b = nbody - 1;
  for (int k : {1, 4, joint_first_axis[b], joint_last_axis[b]}) {
    const double pt[3] = {0.1, -0.2, 0.3};
    double l[3], a[3];
    mbpartvel(k, b, pt, l, a);
    double buf[3] = {pt[0], pt[1], pt[2]}, other[3];
    mbpartvel(k, b, buf, buf, other);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(buf[i], l[i]) << k;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(other[i], a[i]) << k;
    mbvcopy(pt, buf);
    mbpartvel(k, b, buf, other, buf);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(other[i], l[i]) << k;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(buf[i], a[i]) << k;
  }
}

TEST_F(PartialVelocity, TablesAreFilledOncePerCoordinateChange) {
  set_state(posture);
  EXPECT_EQ(control.partvel_valid, 0);
  const double pt[3] = {0, 0, 0};
  double l[3], a[3];
  mbpartvel(nu - 1, nbody - 1, pt, l, a);
  EXPECT_EQ(control.partvel_valid, 1);
  const double kept = partvel.partvel_axis[nu - 1][0];
  partvel.partvel_axis[nu - 1][0] = 1e9;
  qeltest::Posture s = posture;
  s.u[nu - 1] += 1.0;
  set_state(s);  // speeds only
  mbpartprep();
  EXPECT_EQ(partvel.partvel_axis[nu - 1][0], 1e9);
  s.q[3] += 0.1;  // turns body 0 and with it every axis
  set_state(s);
  mbpartprep();
  EXPECT_NE(partvel.partvel_axis[nu - 1][0], 1e9);
  EXPECT_NE(partvel.partvel_axis[nu - 1][0], kept);
}

}  // namespace

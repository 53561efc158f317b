// The tables mbstate leaves for the dynamics, checked against what they
// stand for, computed another way from the body positions, velocities and
// orientations.
#include "numerics/vec3.hpp"
#include "unit/state_fixture.hpp"

namespace {

using namespace qel;

class StateTables : public qeltest::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    set_state(posture);
  }
  // v in body b's frame, from ground.
  static void to_body(int b, const double* v, double* out) { mat_tvec(position.body_rot[b], v, out); }
};

TEST_F(StateTables, GravityInEveryBodyFrame) {
  for (int b = 0; b < nbody; ++b) {
    double g[3];
    to_body(b, params.gravity, g);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(position.body_gravity[b][i], g[i], 1e-13) << b;
  }
}

TEST_F(StateTables, LoadArmsAndRelativeVelocities) {
  const double zero[3] = {0, 0, 0};
  for (int j = 1; j < njnt; ++j) {
    const int p = joint_inboard[j], f = joint_first_axis[j];
    double arm[3], rel[3], vj[3], vp[3], d[3];
    // Pin joint: the inboard mass centre to this one, in this body's frame.
    // Three-rotation joint: inboard_to_joint in the frame after the first axis.
    if (joint_type[j] == kPinJoint) {
      mbvsub(position.body_pos[j], position.body_pos[p], d);
      to_body(j, d, arm);
    } else {
      mat_vec(position.body_rot[p], params.inboard_to_joint[j], d);
      mat_tvec(position.axis_frame_rot[f], d, arm);
    }
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(position.axis_load_arm[f][i], arm[i], 1e-14) << j;

    // Joint point relative to the inboard mass centre, inboard frame.
    mbvel(j, params.body_to_joint[j], vj);
    mbvel(p, zero, vp);
    mbvsub(vj, vp, d);
    to_body(p, d, rel);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(velocity.joint_arm_vel[f][i], rel[i], 1e-13) << j;
  }
  for (int b = 0; b < nbody; ++b) {
    // Mass centre relative to the joint point, body frame.
    double vj[3], vcm[3], d[3], rel[3];
    mbvel(b, params.body_to_joint[b], vj);
    mbvel(b, zero, vcm);
    mbvsub(vcm, vj, d);
    to_body(b, d, rel);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(velocity.cm_rel_vel[b][i], rel[i], 1e-13) << b;
  }
}

// Rows 3..8 of body_wwmat laid out as [w]x[w]x turn r into w x (w x r).
TEST_F(StateTables, AngularVelocityProducts) {
  const double r[3] = {0.3, -0.7, 0.2};
  for (int b = 0; b < nbody; ++b) {
    auto row = [&](int k) { return velocity.body_wwmat[k * nbody + b]; };
    const double W[3][3] = {{row(8), row(3), row(4)}, {row(3), row(7), row(5)}, {row(4), row(5), row(6)}};
    const double* w = velocity.body_angvel[b];
    double wr[3], wwr[3], got[3];
    mbvcross(w, r, wr);
    mbvcross(w, wr, wwr);
    mat_vec(W, r, got);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(got[i], wwr[i], 1e-13) << b;
    EXPECT_NEAR(row(0) + row(1) + row(2), dot3(w, w), 1e-13);
    // The gyroscopic term is perpendicular to w and to I w.
    double H[3];
    mat_vec(params.body_inertia[b], w, H);
    EXPECT_NEAR(dot3(velocity.body_gyro[b], w), 0.0, 1e-13);
    EXPECT_NEAR(dot3(velocity.body_gyro[b], H), 0.0, 1e-13);
  }
}

}  // namespace

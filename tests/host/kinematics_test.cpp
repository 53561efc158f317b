// The kinematic queries against geometry and physics: velocities are time
// derivatives of positions and orientations, joint points agree from both
// sides, rotations are proper, three-rotation joints with pins x, y, z turn
// by their 1-2-3 angles, and the frame changes are consistent.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <random>

#include "host/creature.hpp"
#include "host/module.hpp"

using qeltest::Module;
using qeltest::ModelDims;
using qeltest::Report;
using qeltest::V3;

namespace {

using M33 = double[3][3];

class Kinematics : public ::testing::TestWithParam<ModelDims> {
 protected:
  Kinematics() : m(GetParam().name), nbody(GetParam().nbody), nu(GetParam().nu) {}

  void setup(unsigned seed) {
    c = qeltest::make_creature(m, seed);
    qeltest::supply(m, c);
    p = qeltest::random_posture(m, c, seed + 100);
    m.mbstate(0.0, p.q.data(), p.u.data());
  }

  // Coordinates a time h along the motion: q + h u for the translations and
  // angles; the quaternion turned exactly by h w about body 0's own axes.
  std::vector<double> advanced(double h) const {
    std::vector<double> q = p.q;
    for (int k = 0; k < nu; ++k)
      if (k < 3 || k > 5) q[k] += h * p.u[k];
    const double w[3] = {p.u[3], p.u[4], p.u[5]};
    const double rate = std::sqrt(w[0] * w[0] + w[1] * w[1] + w[2] * w[2]);
    const double s = std::sin(0.5 * rate * h) / rate, d4 = std::cos(0.5 * rate * h);
    const double d[3] = {s * w[0], s * w[1], s * w[2]};
    const double e[3] = {p.q[3], p.q[4], p.q[5]}, e4 = p.q[nu];
    // e (x) d, scalar last.
    q[3] = e4 * d[0] + d4 * e[0] + (e[1] * d[2] - e[2] * d[1]);
    q[4] = e4 * d[1] + d4 * e[1] + (e[2] * d[0] - e[0] * d[2]);
    q[5] = e4 * d[2] + d4 * e[2] + (e[0] * d[1] - e[1] * d[0]);
    q[nu] = e4 * d4 - (e[0] * d[0] + e[1] * d[1] + e[2] * d[2]);
    return q;
  }

  Module m;
  int nbody, nu;
  qeltest::Creature c;
  qeltest::Posture p;
};

TEST_P(Kinematics, VelocitiesAreTimeDerivativesOfPositionsAndOrientations) {
  const double h = 1e-5;
  for (unsigned seed : {1u, 2u, 3u}) {
    setup(seed);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> r(-0.3, 0.3);
    std::vector<V3> pts(nbody), vel(nbody), w(nbody);
    std::vector<std::array<double, 9>> rot(nbody);
    for (int b = 0; b < nbody; ++b) {
      pts[b] = {r(rng), r(rng), r(rng)};
      m.mbvel(b, pts[b].data(), vel[b].data());
      m.mbangvel(b, w[b].data());
      m.mborient(b, reinterpret_cast<M33*>(rot[b].data())[0]);
    }
    std::vector<V3> pos_plus(nbody), pos_minus(nbody);
    std::vector<std::array<double, 9>> rot_plus(nbody), rot_minus(nbody);
    for (int side : {1, -1}) {
      const std::vector<double> q = advanced(side * h);
      m.mbstate(0.0, q.data(), p.u.data());
      for (int b = 0; b < nbody; ++b) {
        m.mbpos(b, pts[b].data(), (side > 0 ? pos_plus : pos_minus)[b].data());
        m.mborient(b, reinterpret_cast<M33*>((side > 0 ? rot_plus : rot_minus)[b].data())[0]);
      }
    }
    for (int b = 0; b < nbody; ++b) {
      for (int i = 0; i < 3; ++i)
        EXPECT_NEAR((pos_plus[b][i] - pos_minus[b][i]) / (2 * h), vel[b][i], 1e-7) << "body " << b;
      // R^T dR/dt = [w]x, w in the body frame.
      double W[3][3];
      for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
          W[i][j] = 0.0;
          for (int k = 0; k < 3; ++k)
            W[i][j] += rot[b][3 * k + i] * (rot_plus[b][3 * k + j] - rot_minus[b][3 * k + j]) / (2 * h);
        }
      EXPECT_NEAR(W[2][1], w[b][0], 1e-7) << "body " << b;
      EXPECT_NEAR(W[0][2], w[b][1], 1e-7) << "body " << b;
      EXPECT_NEAR(W[1][0], w[b][2], 1e-7) << "body " << b;
      for (int i = 0; i < 3; ++i) EXPECT_NEAR(W[i][i], 0.0, 1e-7);
    }
  }
  EXPECT_TRUE(m.take_reports().empty());
}

TEST_P(Kinematics, JointPointsCoincideFromBothSides) {
  setup(4);
  for (int j = 0; j < nbody; ++j) {
    const int in = qeltest::joint_info(m, j).inboard;
    double out_pos[3], out_vel[3], in_pos[3], in_vel[3];
    m.mbpos(j, c.btj[j].data(), out_pos);
    m.mbvel(j, c.btj[j].data(), out_vel);
    if (in >= 0) {
      m.mbpos(in, c.itj[j].data(), in_pos);
      m.mbvel(in, c.itj[j].data(), in_vel);
    } else {  // the root's joint point rides on the three translations
      for (int i = 0; i < 3; ++i) {
        in_pos[i] = p.q[i] + c.itj[0][i];
        in_vel[i] = p.u[i];
      }
    }
    for (int i = 0; i < 3; ++i) {
      EXPECT_NEAR(out_pos[i], in_pos[i], 1e-14) << "joint " << j;
      EXPECT_NEAR(out_vel[i], in_vel[i], 1e-13) << "joint " << j;
    }
  }
}

TEST_P(Kinematics, RotationsAreProper) {
  setup(5);
  for (int b = 0; b < nbody; ++b) {
    M33 R;
    m.mborient(b, R);
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j)
        EXPECT_NEAR(R[0][i] * R[0][j] + R[1][i] * R[1][j] + R[2][i] * R[2][j], i == j ? 1.0 : 0.0, 1e-14);
    const double det = R[0][0] * (R[1][1] * R[2][2] - R[1][2] * R[2][1]) -
                       R[0][1] * (R[1][0] * R[2][2] - R[1][2] * R[2][0]) +
                       R[0][2] * (R[1][0] * R[2][1] - R[1][1] * R[2][0]);
    EXPECT_NEAR(det, 1.0, 1e-14);
  }
}

TEST_P(Kinematics, ThreeRotationJointWithPinsXYZTurnsByItsAngles) {
  c = qeltest::make_creature(m, 6);
  const std::vector<int> js = qeltest::joints_of_type(m, 3);
  for (int j : js) c.pins[j] = {V3{1, 0, 0}, V3{0, 1, 0}, V3{0, 0, 1}};
  qeltest::supply(m, c);
  p = qeltest::random_posture(m, c, 7);
  m.mbstate(0.0, p.q.data(), p.u.data());
  M33 R0;
  double dc[9];
  m.mborient(0, R0);
  m.mbquat2dc(p.q[3], p.q[4], p.q[5], p.q[nu], dc);
  for (int i = 0; i < 9; ++i) EXPECT_NEAR(R0[i / 3][i % 3], dc[i], 1e-15);
  for (int j : js) {
    const qeltest::JointInfo ji = qeltest::joint_info(m, j);
    M33 Rp, Rj;
    m.mborient(ji.inboard, Rp);
    m.mborient(j, Rj);
    m.mbang2dc(p.q[ji.first_axis], p.q[ji.first_axis + 1], p.q[ji.first_axis + 2], dc);
    for (int r = 0; r < 3; ++r)
      for (int s = 0; s < 3; ++s)
        EXPECT_NEAR(Rp[0][r] * Rj[0][s] + Rp[1][r] * Rj[1][s] + Rp[2][r] * Rj[2][s], dc[3 * r + s], 1e-14)
            << "joint " << j;
  }
}

TEST_P(Kinematics, GroundIsAFixedFrameAtTheOrigin) {
  setup(8);
  const double pt[3] = {0.4, -0.5, 0.6};
  double loc[3], vel[3] = {9, 9, 9}, w[3] = {9, 9, 9};
  M33 R;
  m.mbpos(-1, pt, loc);
  m.mbvel(-1, pt, vel);
  m.mbangvel(-1, w);
  m.mborient(-1, R);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(loc[i], pt[i]);
    EXPECT_EQ(vel[i], 0.0);
    EXPECT_EQ(w[i], 0.0);
    for (int j = 0; j < 3; ++j) EXPECT_EQ(R[i][j], i == j ? 1.0 : 0.0);
  }
  EXPECT_TRUE(m.take_reports().empty());
}

TEST_P(Kinematics, TransMatchesTheOrientationsAndWorksInPlace) {
  setup(9);
  const double v[3] = {0.3, -1.2, 0.7};
  for (int a = -1; a < nbody; ++a) {
    const int b = (a + 5) % nbody;
    double same[3], there[3], back[3], to_ground[3];
    m.mbtrans(a, v, a, same);
    m.mbtrans(a, v, b, there);
    m.mbtrans(b, there, a, back);
    m.mbtrans(a, v, -1, to_ground);
    M33 Ra = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}, Rb;
    if (a >= 0) m.mborient(a, Ra);
    m.mborient(b, Rb);
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(same[i], v[i]);
      EXPECT_NEAR(back[i], v[i], 1e-14);
      EXPECT_NEAR(to_ground[i], Ra[i][0] * v[0] + Ra[i][1] * v[1] + Ra[i][2] * v[2], 1e-15);
      EXPECT_NEAR(there[i], Rb[0][i] * to_ground[0] + Rb[1][i] * to_ground[1] + Rb[2][i] * to_ground[2], 1e-14);
    }
    double buf[3] = {v[0], v[1], v[2]};
    m.mbtrans(a, buf, b, buf);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(buf[i], there[i]);
  }
  EXPECT_TRUE(m.take_reports().empty());
}

TEST_P(Kinematics, PointQueriesWorkInPlace) {
  setup(10);
  for (int b = -1; b < nbody; ++b) {
    const double pt[3] = {0.1, 0.2, -0.3};
    double loc[3], vel[3], buf[3];
    m.mbpos(b, pt, loc);
    m.mbvel(b, pt, vel);
    std::copy(pt, pt + 3, buf);
    m.mbpos(b, buf, buf);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(buf[i], loc[i]);
    std::copy(pt, pt + 3, buf);
    m.mbvel(b, buf, buf);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(buf[i], vel[i]);
  }
}

INSTANTIATE_TEST_SUITE_P(Modules, Kinematics, ::testing::ValuesIn(qeltest::kModels),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

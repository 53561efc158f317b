#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "numerics/orient.hpp"
#include "numerics/vec3.hpp"

namespace {

using qel::mat33;

constexpr double kPi = 3.14159265358979323846;

void rot1(double a, mat33& R) {
  const double c = std::cos(a), s = std::sin(a);
  const mat33 r = {{1, 0, 0}, {0, c, -s}, {0, s, c}};
  qel::mat_copy(r, R);
}
void rot2(double a, mat33& R) {
  const double c = std::cos(a), s = std::sin(a);
  const mat33 r = {{c, 0, s}, {0, 1, 0}, {-s, 0, c}};
  qel::mat_copy(r, R);
}
void rot3(double a, mat33& R) {
  const double c = std::cos(a), s = std::sin(a);
  const mat33 r = {{c, -s, 0}, {s, c, 0}, {0, 0, 1}};
  qel::mat_copy(r, R);
}

void expect_mat_near(const double* a, const double* b, double tol) {
  for (int i = 0; i < 9; ++i) EXPECT_NEAR(a[i], b[i], tol) << "element " << i;
}

void expect_rotation(const double* d) {
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      const double rr = qel::dot3(d + 3 * i, d + 3 * j);
      EXPECT_NEAR(rr, i == j ? 1.0 : 0.0, 1e-14) << i << "," << j;
    }
  const double c[3] = {d[1] * d[5] - d[2] * d[4], d[2] * d[3] - d[0] * d[5], d[0] * d[4] - d[1] * d[3]};
  EXPECT_NEAR(qel::dot3(c, d + 6), 1.0, 1e-14);  // det = (row0 x row1) . row2
}

struct Angles {
  double a1, a2, a3;
};

// Random angles with |a2| well away from 90 degrees.
std::vector<Angles> random_angles(int count) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> full(-kPi, kPi), half(-1.45, 1.45);
  std::vector<Angles> out;
  for (int i = 0; i < count; ++i) out.push_back({full(rng), half(rng), full(rng)});
  return out;
}

TEST(Orientation, AnglesGiveTheProductOfTheThreeAxisRotations) {
  for (const Angles& a : random_angles(50)) {
    mat33 R1, R2, R3, R12, R;
    rot1(a.a1, R1);
    rot2(a.a2, R2);
    rot3(a.a3, R3);
    qel::mat_mul(R1, R2, R12);
    qel::mat_mul(R12, R3, R);
    double dc[9];
    mbang2dc(a.a1, a.a2, a.a3, dc);
    expect_mat_near(dc, &R[0][0], 1e-15);
    expect_rotation(dc);
  }
}

TEST(Orientation, AnglesSurviveARoundTripThroughTheMatrix) {
  for (const Angles& a : random_angles(200)) {
    double dc[9], b1, b2, b3;
    mbang2dc(a.a1, a.a2, a.a3, dc);
    mbdc2ang(dc, &b1, &b2, &b3);
    EXPECT_NEAR(b1, a.a1, 1e-13);
    EXPECT_NEAR(b2, a.a2, 1e-13);
    EXPECT_NEAR(b3, a.a3, 1e-13);
  }
}

TEST(Orientation, GimbalLockPutsTheWholeTurnIntoTheFirstAngle) {
  for (double sign : {1.0, -1.0}) {
    double dc[9], a1, a2, a3;
    mbang2dc(0.3, sign * kPi / 2, 0.2, dc);
    ASSERT_EQ(dc[2], sign);
    mbdc2ang(dc, &a1, &a2, &a3);
    EXPECT_EQ(a2, sign * 1.5707963267949);  // this constant, not the nearest double to pi/2
    EXPECT_NE(a2, sign * kPi / 2);
    EXPECT_EQ(a3, 0.0);
    EXPECT_EQ(a1, std::atan2(dc[7], dc[4]));
    EXPECT_NEAR(a1, 0.3 + sign * 0.2, 1e-15);
  }
}

TEST(Orientation, GimbalMarginIsOneEMinusFifteen) {
  // Doubles just below 1 are spaced 2^-53 apart.
  const double eps = std::ldexp(1.0, -53);
  struct Case {
    double d02;
    bool gimbal;
  } cases[] = {{1.0 - 8 * eps, true}, {-(1.0 - 8 * eps), true}, {1.0 - 10 * eps, false}, {-(1.0 - 10 * eps), false}};
  for (const Case& c : cases) {
    double dc[9] = {0, 0, c.d02, 0, 1, 0, 0, 0, 1}, a1, a2, a3;
    mbdc2ang(dc, &a1, &a2, &a3);
    if (c.gimbal) {
      EXPECT_EQ(std::fabs(a2), 1.5707963267949) << c.d02;
    } else {
      EXPECT_EQ(a2, std::asin(c.d02)) << c.d02;
    }
  }
  double nan_dc[9] = {1, 0, std::nan(""), 0, 1, 0, 0, 0, 1}, a1, a2, a3;
  mbdc2ang(nan_dc, &a1, &a2, &a3);  // a NaN takes the regular case
  EXPECT_TRUE(std::isnan(a2));
  EXPECT_EQ(a1, 0.0);
}

// The quaternion's matrix turns each basis vector as the rotation about its
// axis does.
TEST(Orientation, QuaternionMatrixIsTheRotationAboutItsAxis) {
  std::mt19937 rng(11);
  std::normal_distribution<double> g;
  std::uniform_real_distribution<double> ang(-3.0, 3.0);
  for (int t = 0; t < 50; ++t) {
    double axis[3] = {g(rng), g(rng), g(rng)};
    const double th = ang(rng), len = qel::mbvnrm(axis);
    const double s = std::sin(th / 2) / len;
    double dc[9], dc_neg[9], dc_long[9];
    mbquat2dc(axis[0] * s, axis[1] * s, axis[2] * s, std::cos(th / 2), dc);
    mbquat2dc(-axis[0] * s, -axis[1] * s, -axis[2] * s, -std::cos(th / 2), dc_neg);
    mbquat2dc(3 * axis[0] * s, 3 * axis[1] * s, 3 * axis[2] * s, 3 * std::cos(th / 2), dc_long);
    expect_rotation(dc);
    for (int j = 0; j < 3; ++j) {
      double e[3] = {0, 0, 0}, r[3];
      e[j] = 1;
      qel::mbvrot(e, axis, th, r);
      for (int i = 0; i < 3; ++i) EXPECT_NEAR(dc[3 * i + j], r[i], 1e-14);
    }
    expect_mat_near(dc_neg, dc, 0.0);
    expect_mat_near(dc_long, dc, 4e-15);
  }
}

TEST(Orientation, ZeroQuaternionGivesTheIdentity) {
  const double I[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  double dc[9];
  mbquat2dc(0, 0, 0, 0, dc);
  expect_mat_near(dc, I, 0.0);
  mbquat2dc(0, 0, 0, 2, dc);
  expect_mat_near(dc, I, 0.0);
}

// One case per branch of the matrix-to-quaternion conversion; the scalar part
// is negative throughout, so the sign of the result shows the branch taken:
// it makes that branch's own component positive.
TEST(Orientation, QuaternionSurvivesARoundTripInEveryBranch) {
  struct Case {
    double q[4];
    int positive;  // component the branch keeps positive
  } cases[] = {
      {{0.1, 0.2, -0.3, -0.9}, 3},  // trace
      {{0.9, -0.2, 0.1, -0.3}, 0},  // d(0,0)
      {{0.2, 0.9, -0.1, -0.3}, 1},  // d(1,1)
      {{-0.1, 0.2, 0.9, -0.3}, 2},  // d(2,2)
      {{-0.1, -0.2, -0.9, -0.3}, 2},
  };
  for (const Case& c : cases) {
    const double n = std::sqrt(c.q[0] * c.q[0] + c.q[1] * c.q[1] + c.q[2] * c.q[2] + c.q[3] * c.q[3]);
    double q[4];
    for (int i = 0; i < 4; ++i) q[i] = c.q[i] / n;
    const double sign = q[c.positive] > 0 ? 1.0 : -1.0;
    double dc[9], e[4];
    mbquat2dc(q[0], q[1], q[2], q[3], dc);
    mbdc2quat(dc, &e[0], &e[1], &e[2], &e[3]);
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(e[i], sign * q[i], 1e-15) << "case with branch " << c.positive;
  }
}

TEST(Orientation, MatrixToQuaternionSpecialMatrices) {
  struct Case {
    double dc[9];
    double e[4];
  } cases[] = {
      {{1, 0, 0, 0, 1, 0, 0, 0, 1}, {0, 0, 0, 1}},     // identity: trace branch
      {{1, 0, 0, 0, -1, 0, 0, 0, -1}, {1, 0, 0, 0}},   // half turn about x: tr = -1
      {{-1, 0, 0, 0, 1, 0, 0, 0, -1}, {0, 1, 0, 0}},   // about y
      {{-1, 0, 0, 0, -1, 0, 0, 0, 1}, {0, 0, 1, 0}},   // about z
  };
  for (const Case& c : cases) {
    double e[4];
    mbdc2quat(c.dc, &e[0], &e[1], &e[2], &e[3]);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(e[i], c.e[i]);
  }
}

}  // namespace

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "frame/errors.hpp"
#include "numerics/vec3.hpp"

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Reports {
  std::vector<std::pair<int, int>> seen;
  static int record(void* ctx, int routine, int code) {
    static_cast<Reports*>(ctx)->seen.push_back({routine, code});
    return 0;
  }
};

class VectorRotation : public ::testing::Test {
 protected:
  void SetUp() override { mbseterrRegister(&reports, &Reports::record); }
  void TearDown() override { mbseterrRegister(nullptr, nullptr); }
  Reports reports;
};

TEST_F(VectorRotation, Table) {
  const double nan = std::nan("");
  struct Case {
    const char* what;
    double v[3], axis[3], angle, out[3];
    double tol;
    bool reports;
  } cases[] = {
      {"quarter turn, long axis", {1, 0, 0}, {0, 0, 2}, kPi / 2, {0, 1, 0}, 1e-15, false},
      {"quarter turn about x", {0, 1, 0}, {3, 0, 0}, kPi / 2, {0, 0, 1}, 1e-15, false},
      {"negative angle", {1, 0, 0}, {0, 0, 1}, -kPi / 2, {0, -1, 0}, 1e-15, false},
      {"zero angle", {0.3, -1.7, 2.5}, {1, 2, 3}, 0.0, {0.3, -1.7, 2.5}, 0.0, false},
      {"full turn", {0.3, -1.7, 2.5}, {1, 2, 3}, 2 * kPi, {0.3, -1.7, 2.5}, 1e-15, false},
      {"along the axis", {1, 2, 3}, {2, 4, 6}, 1.0, {1, 2, 3}, 1e-15, false},
      {"zero axis", {0.3, -1.7, 2.5}, {0, 0, 0}, 1.0, {0.3, -1.7, 2.5}, 0.0, true},
      {"NaN axis", {0.3, -1.7, 2.5}, {nan, 0, 1}, 1.0, {0.3, -1.7, 2.5}, 0.0, true},
  };
  for (const Case& c : cases) {
    reports.seen.clear();
    double out[3] = {9, 9, 9};
    qel::mbvrot(c.v, c.axis, c.angle, out);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(out[i], c.out[i], c.tol) << c.what;
    if (c.reports) {
      ASSERT_EQ(reports.seen.size(), 1u) << c.what;
      EXPECT_EQ(reports.seen[0], std::make_pair(62, 46));
    } else {
      EXPECT_TRUE(reports.seen.empty()) << c.what;
    }
  }
}

TEST_F(VectorRotation, OutputMayBeTheVectorOrTheAxis) {
  const double v[3] = {0.3, -1.7, 2.5}, axis[3] = {1, -2, 0.5};
  double expect[3];
  qel::mbvrot(v, axis, 0.7, expect);
  double in_place[3] = {v[0], v[1], v[2]};
  qel::mbvrot(in_place, axis, 0.7, in_place);
  double on_axis[3] = {axis[0], axis[1], axis[2]};
  qel::mbvrot(v, on_axis, 0.7, on_axis);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(in_place[i], expect[i]);
    EXPECT_EQ(on_axis[i], expect[i]);
  }
  // A rotation keeps the length and the component along the axis.
  EXPECT_NEAR(qel::mbvnrm(expect), qel::mbvnrm(v), 1e-15);
  EXPECT_NEAR(qel::mbvdot(expect, axis), qel::mbvdot(v, axis), 1e-15);
  EXPECT_TRUE(reports.seen.empty());
}

TEST(VectorHelpers, DotSumsTheLastTwoProductsFirst) {
  const double a[3] = {1, 1e16, -1e16}, b[3] = {1, 1, 1};
  EXPECT_EQ(qel::mbvdot(a, b), 1.0);  // (1e16 - 1e16) + 1
  EXPECT_EQ(qel::dot3(a, b), 0.0);    // (1 + 1e16) - 1e16
}

TEST(VectorHelpers, OutputMayBeAnInput) {
  const double a0[3] = {1, 2, 3}, b0[3] = {-4, 0.5, 2};
  const double cross[3] = {2 * 2 - 0.5 * 3, -4 * 3 - 1 * 2, 1 * 0.5 - (-4) * 2};
  double a[3], b[3];
  auto reset = [&] {
    qel::mbvcopy(a0, a);
    qel::mbvcopy(b0, b);
  };
  reset();
  qel::mbvcross(a, b, a);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(a[i], cross[i]);
  reset();
  qel::mbvcross(a, b, b);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(b[i], cross[i]);
  reset();
  qel::mbvaxpy(2.0, a, b, b);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(b[i], 2.0 * a0[i] + b0[i]);
  reset();
  qel::mbvsub(a, b, b);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(b[i], a0[i] - b0[i]);
  reset();
  qel::mbvadd(a, a, a);
  qel::mbvmul(0.5, a, a);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(a[i], a0[i]);
  qel::mbvset(7, 8, 9, a);
  EXPECT_EQ(qel::mbvnrm(a), std::sqrt(64.0 + 81.0 + 49.0));
}

}  // namespace

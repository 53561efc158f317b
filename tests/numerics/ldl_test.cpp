#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "numerics/ldl.hpp"
#include "numerics/dense.hpp"

namespace {

using numtest::Matrix;

constexpr double kSentinel = -777.25;

// A logical n x n problem placed at permuted rows and columns of a larger
// ld x ld array; every other element holds a sentinel, and the logical lower
// triangle holds NaN to show that it is never read.
struct Embedded {
  int ld, n;
  std::vector<int> map;
  std::vector<double> A, L, b, x, dinv, w1, w2;

  Embedded(int ld_, std::vector<int> map_) : ld(ld_), n(static_cast<int>(map_.size())), map(std::move(map_)) {
    A.assign(ld * ld, kSentinel);
    L.assign(ld * ld, kSentinel);
    b.assign(ld, kSentinel);
    x.assign(ld, kSentinel);
    dinv.assign(ld, kSentinel);
    w1.assign(n * n, 0.0);
    w2.assign(n, 0.0);
  }
  double& a(int i, int j) { return A[map[i] * ld + map[j]]; }
  double l(int i, int j) const { return L[map[i] * ld + map[j]]; }
  void set(const Matrix& m, const std::vector<double>& rhs) {
    for (int i = 0; i < n; ++i) {
      b[map[i]] = rhs[i];
      for (int j = 0; j < n; ++j) a(i, j) = j >= i ? m[i][j] : std::nan("");
    }
  }
  void solve(double tol) {
    qel::mbldusolve(ld, n, map.data(), tol, w1.data(), w2.data(), A.data(), b.data(), L.data(), dinv.data(),
                    x.data());
  }
  std::vector<double> solution() const {
    std::vector<double> s(n);
    for (int i = 0; i < n; ++i) s[i] = x[map[i]];
    return s;
  }
  bool in_map(int p) const {
    for (int m : map)
      if (m == p) return true;
    return false;
  }
};

TEST(Ldl, SolvesAndReconstructsAPermutedSubMatrix) {
  std::mt19937 rng(3);
  for (int trial = 0; trial < 10; ++trial) {
    Embedded e(9, {6, 1, 4, 0, 8, 3});
    const Matrix m = numtest::random_spd(rng, e.n);
    const std::vector<double> rhs = numtest::random_vector(rng, e.n);
    e.set(m, rhs);
    const std::vector<double> A_before = e.A;
    e.solve(1e-13);

    const std::vector<double> x = e.solution(), r = numtest::apply(m, x);
    for (int i = 0; i < e.n; ++i) EXPECT_NEAR(r[i], rhs[i], 1e-13);

    // L D L^T rebuilds the matrix, D from dinv; L is unit lower triangular.
    for (int i = 0; i < e.n; ++i) {
      EXPECT_EQ(e.l(i, i), 1.0);
      for (int j = 0; j <= i; ++j) {
        double s = 0;
        for (int k = 0; k <= j; ++k) s += e.l(i, k) * e.l(j, k) / e.dinv[e.map[k]];
        EXPECT_NEAR(s, m[i][j], 1e-12) << i << "," << j;
      }
      for (int j = i + 1; j < e.n; ++j) EXPECT_EQ(e.l(i, j), kSentinel) << "above the diagonal";
    }
    // Nothing outside the map is written, and A is only read.
    EXPECT_EQ(std::memcmp(e.A.data(), A_before.data(), e.A.size() * sizeof(double)), 0);
    for (int p = 0; p < e.ld; ++p) {
      if (e.in_map(p)) continue;
      EXPECT_EQ(e.x[p], kSentinel);
      EXPECT_EQ(e.dinv[p], kSentinel);
      for (int q = 0; q < e.ld; ++q) {
        EXPECT_EQ(e.L[p * e.ld + q], kSentinel);
        EXPECT_EQ(e.L[q * e.ld + p], kSentinel);
      }
    }
  }
}

// The middle pivot of [[4, 2, 1], [2, 1.5, 3], [1, 3, 5]] is 1.5 - 2*2/4 = 0.5.
TEST(Ldl, APivotEqualToTheToleranceIsDropped) {
  const Matrix m = {{4, 2, 1}, {2, 1.5, 3}, {1, 3, 5}};
  const std::vector<double> rhs = {1, -2, 3};

  Embedded kept(3, {0, 1, 2});
  kept.set(m, rhs);
  kept.solve(std::nextafter(0.5, 0.0));
  EXPECT_EQ(kept.dinv[1], 2.0);
  const std::vector<double> r = numtest::apply(m, kept.solution());
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(r[i], rhs[i], 1e-14);

  Embedded dropped(3, {0, 1, 2});
  dropped.set(m, rhs);
  dropped.solve(0.5);
  EXPECT_EQ(dropped.dinv[1], 0.0);
  EXPECT_EQ(dropped.x[1], 0.0);
  for (int j = 1; j < 3; ++j) EXPECT_EQ(dropped.l(j, 1), 0.0);

  // The rest comes out as if row and column 1 were not there.
  Embedded without(3, {0, 2});
  without.set({{4, 1}, {1, 5}}, {1, 3});
  without.solve(0.5);
  EXPECT_EQ(dropped.x[0], without.x[0]);
  EXPECT_EQ(dropped.x[2], without.x[2]);
  EXPECT_EQ(dropped.dinv[2], without.dinv[2]);
}

TEST(Ldl, ANonFinitePivotRowLeavesOnlyExactZeros) {
  const double inf = INFINITY;
  Embedded bad(3, {0, 1, 2});
  bad.set({{4, 2, 1}, {2, std::nan(""), inf}, {1, inf, 5}}, {1, -2, 3});
  bad.solve(1e-13);
  EXPECT_EQ(bad.dinv[1], 0.0);
  for (int j = 1; j < 3; ++j) EXPECT_EQ(bad.l(j, 1), 0.0);
  Embedded without(3, {0, 2});
  without.set({{4, 1}, {1, 5}}, {1, 3});
  without.solve(1e-13);
  EXPECT_EQ(bad.x[1], 0.0);
  EXPECT_EQ(bad.x[0], without.x[0]);
  EXPECT_EQ(bad.x[2], without.x[2]);
}

TEST(Ldl, NegativeToleranceDropsZeroPivotsAndEmptyProblemsTouchNothing) {
  Embedded e(2, {0, 1});
  e.set({{2, 0}, {0, 0}}, {4, 1});
  e.solve(-1.0);
  EXPECT_EQ(e.dinv[1], 0.0);
  EXPECT_EQ(e.x[0], 2.0);
  EXPECT_EQ(e.x[1], 0.0);

  // n = 0: no element of any array (here: none at all) is touched.
  qel::mbldusolve(1, 0, nullptr, 1e-13, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
  qel::mbldubslv(1, -1, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
}

}  // namespace

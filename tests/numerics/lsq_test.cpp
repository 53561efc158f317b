#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>
#include <random>
#include <vector>

#include "numerics/dense.hpp"
#include "numerics/lsq.hpp"

namespace {

using numtest::Matrix;
using Vec = std::vector<double>;

constexpr double kSentinel = -777.25;

// A logical m x n problem scattered over permuted rows and columns of a
// larger array. Elements of A and b outside the maps are NaN, so reading one
// spoils the result; elements of x outside var_map hold a sentinel.
struct Scattered {
  int m, n, lda;
  std::vector<int> eq_map, var_map;
  Vec A, b, x;

  Scattered(std::mt19937& rng, const Matrix& a, const Vec& rhs, int spare_rows = 2, int spare_cols = 3)
      : m(static_cast<int>(rhs.size())), n(a.empty() ? 0 : static_cast<int>(a[0].size())), lda(n + spare_cols) {
    eq_map = pick(rng, m, m + spare_rows);
    var_map = pick(rng, n, lda);
    A.assign((m + spare_rows) * lda, std::nan(""));
    b.assign(m + spare_rows, std::nan(""));
    x.assign(lda, kSentinel);
    for (int i = 0; i < m; ++i) {
      b[eq_map[i]] = rhs[i];
      for (int j = 0; j < n; ++j) A[eq_map[i] * lda + var_map[j]] = a[i][j];
    }
  }
  // count distinct indices out of 0 .. range-1, in random order.
  static std::vector<int> pick(std::mt19937& rng, int count, int range) {
    std::vector<int> all(range);
    std::iota(all.begin(), all.end(), 0);
    std::shuffle(all.begin(), all.end(), rng);
    all.resize(count);
    return all;
  }

  // mblsslv with work arrays of exactly the documented minimum sizes; checks
  // that A and b are only read and that x is written only over var_map.
  Vec solve(int ngoal, double tol = 1e-13) {
    const int S = m + n;
    const int mp = ngoal == 0 ? m : n + m - ngoal;
    Vec dwork(ngoal == 0 ? m * m : 2 * mp * mp), rwork(3 * S + mp);
    std::vector<int> iwork(2 * S + mp);
    const Vec A0 = A, b0 = b;
    mblsslv(12345, lda, m, n, ngoal, eq_map.data(), var_map.data(), tol, dwork.data(), rwork.data(), iwork.data(),
            A.data(), b.data(), x.data());
    EXPECT_EQ(std::memcmp(A.data(), A0.data(), A.size() * sizeof(double)), 0);
    EXPECT_EQ(std::memcmp(b.data(), b0.data(), b.size() * sizeof(double)), 0);
    Vec out(n);
    for (int j = 0; j < n; ++j) out[j] = x[var_map[j]];
    for (int p = 0; p < lda; ++p)
      if (std::find(var_map.begin(), var_map.end(), p) == var_map.end()) EXPECT_EQ(x[p], kSentinel) << p;
    return out;
  }
};

void expect_near(const Vec& got, const Vec& want, double tol, const char* what) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], want[i], tol) << what << " component " << i;
}

Matrix rows(const Matrix& a, int from, int to) { return Matrix(a.begin() + from, a.begin() + to); }

// x = A^T (A A^T)^-1 b: the smallest solution of a consistent system.
Vec min_norm(const Matrix& a, const Vec& b) {
  const Matrix at = numtest::transpose(a);
  return numtest::apply(at, numtest::solve(numtest::multiply(a, at), b));
}

// Least squares on the goal rows P subject to E x = b_E, by elimination on
// [[P^T P, E^T], [E, 0]] [x; multipliers] = [P^T b_P; b_E].
Vec constrained_lsq(const Matrix& a, const Vec& b, int mc) {
  const int m = static_cast<int>(a.size()), n = static_cast<int>(a[0].size());
  Matrix kkt = numtest::zeros(n + mc, n + mc);
  Vec rhs(n + mc, 0.0);
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j)
      for (int r = mc; r < m; ++r) kkt[i][j] += a[r][i] * a[r][j];
    for (int r = mc; r < m; ++r) rhs[i] += a[r][i] * b[r];
    for (int t = 0; t < mc; ++t) kkt[i][n + t] = kkt[n + t][i] = a[t][i];
  }
  for (int t = 0; t < mc; ++t) rhs[n + t] = b[t];
  Vec z = numtest::solve(kkt, rhs);
  z.resize(n);
  return z;
}

TEST(LeastSquares, MatchesIndependentEliminationOverScatteredMaps) {
  std::mt19937 rng(11);
  struct Shape {
    const char* what;
    int m, n, ngoal;
  } shapes[] = {
      {"square, exact", 5, 5, 0},
      {"under-determined, exact: minimum norm", 3, 6, 0},
      {"over-determined, goals only: normal equations", 8, 4, 8},
      {"square, goals only", 4, 4, 4},
      {"constraints plus goals", 7, 5, 5},
      {"one constraint, many goals", 9, 4, 8},
  };
  for (const Shape& s : shapes) {
    for (int trial = 0; trial < 5; ++trial) {
      const Matrix a = numtest::random_matrix(rng, s.m, s.n);
      const Vec b = numtest::random_vector(rng, s.m);
      Scattered p(rng, a, b);
      Vec want;
      if (s.ngoal == 0)
        want = s.m == s.n ? numtest::solve(a, b) : min_norm(a, b);
      else
        want = constrained_lsq(a, b, s.m - s.ngoal);
      expect_near(p.solve(s.ngoal), want, 1e-9, s.what);
    }
  }
}

// When constraints and goals together can all be met, the constrained
// solution is the smallest solution of the whole system.
TEST(LeastSquares, MixedSystemThatCanBeMetGivesTheMinimumNormSolution) {
  std::mt19937 rng(5);
  for (int trial = 0; trial < 5; ++trial) {
    const Matrix a = numtest::random_matrix(rng, 4, 7);
    const Vec b = numtest::random_vector(rng, 4);
    Scattered p(rng, a, b);
    expect_near(p.solve(2), min_norm(a, b), 1e-9, "2 constraints + 2 goals");
  }
}

TEST(LeastSquares, RankDeficientAndDegenerateSystems) {
  std::mt19937 rng(2);
  struct Case {
    const char* what;
    Matrix a;
    Vec b;
    int ngoal;
    Vec want;
  } cases[] = {
      {"one equation x0 + x1 = 2", {{1, 1}}, {2}, 0, {1, 1}},
      {"repeated consistent equation", {{1, 1}, {1, 1}}, {2, 2}, 0, {1, 1}},
      {"inconsistent repeated constraint: least squares", {{1, 1}, {1, 1}}, {2, 4}, 0, {1.5, 1.5}},
      {"zero matrix", {{0, 0, 0}, {0, 0, 0}}, {1, -2}, 0, {0, 0, 0}},
      {"zero matrix, goals", {{0, 0}, {0, 0}}, {1, -2}, 1, {0, 0}},
      {"zero column (a locked unknown)", {{2, 0}, {0, 0}}, {4, 1}, 0, {2, 0}},
      {"goals along one direction", {{1, 1}, {2, 2}}, {1, 2}, 2, {0.5, 0.5}},
      {"constraint fixes x0, goal wants x0 = 3 and x1 = 1", {{1, 0}, {1, 0}, {0, 1}}, {2, 3, 1}, 2, {2, 1}},
  };
  for (const Case& c : cases) {
    Scattered p(rng, c.a, c.b);
    expect_near(p.solve(c.ngoal), c.want, 1e-12, c.what);
  }

  // No equations: every unknown over the map is 0, nothing else is written.
  const int var_map[3] = {4, 0, 2};
  Vec x(5, kSentinel), rwork(9);
  std::vector<int> iwork(6);
  mblsslv(0, 5, 0, 3, 0, nullptr, var_map, 1e-13, nullptr, rwork.data(), iwork.data(), nullptr, nullptr, x.data());
  EXPECT_EQ(x, Vec({0, kSentinel, 0, kSentinel, 0}));

  // No unknowns: nothing is read or written.
  mblsslv(0, 1, 2, 0, 0, nullptr, nullptr, 1e-13, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
}

// Q R = A P for the Householder factors, over scattered maps, with the
// diagonal of R non-increasing in magnitude.
TEST(PivotedQr, FactorsReproduceThePermutedMatrix) {
  std::mt19937 rng(7);
  struct Shape {
    int m, n;
  } shapes[] = {{6, 4}, {4, 6}, {5, 5}, {1, 3}, {3, 1}};
  for (const Shape& s : shapes) {
    const Matrix a = numtest::random_matrix(rng, s.m, s.n);
    Scattered p(rng, a, Vec(s.m, 0.0));
    const int ld = p.lda;
    std::vector<double> qraux(s.n);
    std::vector<int> jpvt(s.n);
    qel::mbqrpiv(0, ld, s.m, s.n, p.eq_map.data(), p.var_map.data(), p.A.data(), qraux.data(), jpvt.data());
    auto f = [&](int i, int j) { return p.A[p.eq_map[i] * ld + p.var_map[j]]; };

    std::vector<int> seen = jpvt;
    std::sort(seen.begin(), seen.end());
    for (int j = 0; j < s.n; ++j) ASSERT_EQ(seen[j], j) << "jpvt is a permutation";

    Matrix qr = numtest::zeros(s.m, s.n);  // R, then the reflections applied from the last
    for (int i = 0; i < s.m; ++i)
      for (int j = i; j < s.n; ++j) qr[i][j] = f(i, j);
    const int mn = std::min(s.m, s.n);
    for (int l = mn - 1; l >= 0; --l) {
      if (qraux[l] == 0.0) continue;
      Vec v(s.m, 0.0);
      v[l] = qraux[l];
      for (int i = l + 1; i < s.m; ++i) v[i] = f(i, l);
      for (int j = 0; j < s.n; ++j) {
        double t = 0;
        for (int i = l; i < s.m; ++i) t += v[i] * qr[i][j];
        for (int i = l; i < s.m; ++i) qr[i][j] -= v[i] * t / qraux[l];
      }
    }
    for (int i = 0; i < s.m; ++i)
      for (int j = 0; j < s.n; ++j) EXPECT_NEAR(qr[i][j], a[i][jpvt[j]], 1e-13) << s.m << "x" << s.n;
    for (int l = 1; l < mn; ++l) EXPECT_LE(std::fabs(f(l, l)), std::fabs(f(l - 1, l - 1)) * (1 + 1e-15));
  }
}

TEST(PivotedQr, EqualNormsKeepTheEarlierColumn) {
  struct Case {
    Matrix a;
    std::vector<int> jpvt;
  } cases[] = {
      {{{3, 0, 4}, {4, 0, 3}}, {0, 2, 1}},  // columns 0 and 2 tie for the first pivot
      {{{1, 0, 4}, {0, 5, 3}}, {1, 2, 0}},  // columns 1 and 2 tie
      {{{0, 0}, {0, 0}}, {0, 1}},           // all norms zero: no exchange
  };
  for (Case& c : cases) {
    Matrix a = c.a;
    std::vector<int> ident = {0, 1, 2};
    Vec A;
    for (auto& row : a) A.insert(A.end(), row.begin(), row.end());
    const int n = static_cast<int>(a[0].size());
    Vec qraux(n);
    std::vector<int> jpvt(n);
    qel::mbqrpiv(0, n, 2, n, ident.data(), ident.data(), A.data(), qraux.data(), jpvt.data());
    EXPECT_EQ(jpvt, c.jpvt);
  }
}

// diag(4, 2): |R11| = 0.5 |R00| exactly, so the rank decision at tol 0.5
// keeps one pivot, just below it two. A negative tolerance acts as 0.
TEST(PivotedQr, RankDecisionIsStrictAndReflectorsStayInQraux) {
  struct Case {
    double tol;
    int rank;
    Vec x;
  } cases[] = {
      {0.5, 1, {1, 0}},
      {std::nextafter(0.5, 0.0), 2, {1, 1}},
      {-3.0, 2, {1, 1}},
      {1.0, 0, {0, 0}},  // strict even for the first pivot: nothing is kept
  };
  const std::vector<int> ident = {0, 1};
  for (const Case& c : cases) {
    Vec A = {4, 0, 0, 2}, qraux(2), qty(2), x(2, kSentinel);
    std::vector<int> jpvt(2), jwork(2);
    const Vec b = {4, 2};
    int rank = -1;
    qel::mbqrpiv(0, 2, 2, 2, ident.data(), ident.data(), A.data(), qraux.data(), jpvt.data());
    const Vec factored = A;
    qel::mblsqrank(0, 2, 2, 2, ident.data(), ident.data(), c.tol, qty.data(), jwork.data(), A.data(), qraux.data(),
                   jpvt.data(), b.data(), x.data(), &rank);
    EXPECT_EQ(rank, c.rank) << c.tol;
    expect_near(x, c.x, 1e-15, "diag(4, 2)");
    EXPECT_EQ(std::memcmp(A.data(), factored.data(), sizeof(double) * 4), 0) << "the factors are only read";
  }

  // A zero first pivot gives rank 0 and a zero solution, whatever the tolerance.
  for (double tol : {0.0, -1.0, 1e-13}) {
    Vec A = {0, 0, 0, 0}, qraux(2), qty(2), x(2, kSentinel);
    std::vector<int> jpvt(2), jwork(2);
    const Vec b = {1, 1};
    int rank = -1;
    qel::mblsqsolve(0, 2, 2, 2, ident.data(), ident.data(), tol, jpvt.data(), qraux.data(), qty.data(), jwork.data(),
                    A.data(), b.data(), x.data(), &rank);
    EXPECT_EQ(rank, 0);
    EXPECT_EQ(x, Vec({0, 0}));
  }
}

// A matrix of known rank r: the basic solution has n - r zero components and
// satisfies the normal equations.
TEST(PivotedQr, RankDeficientSolveMeetsTheNormalEquations) {
  std::mt19937 rng(9);
  for (int r = 1; r <= 3; ++r) {
    const Matrix a = numtest::multiply(numtest::random_matrix(rng, 6, r), numtest::random_matrix(rng, r, 4));
    const Vec b = numtest::random_vector(rng, 6);
    Scattered p(rng, a, b);
    Vec qraux(4), qty(6), x(p.lda, kSentinel);
    std::vector<int> jpvt(4), jwork(4);
    int rank = -1;
    qel::mblsqsolve(0, p.lda, 6, 4, p.eq_map.data(), p.var_map.data(), 1e-10, jpvt.data(), qraux.data(), qty.data(),
                    jwork.data(), p.A.data(), p.b.data(), x.data(), &rank);
    EXPECT_EQ(rank, r);
    Vec xs(4);
    int zeros = 0;
    for (int j = 0; j < 4; ++j) {
      xs[j] = x[p.var_map[j]];
      zeros += xs[j] == 0.0;
    }
    EXPECT_EQ(zeros, 4 - r);
    Vec res = numtest::apply(a, xs);
    for (int i = 0; i < 6; ++i) res[i] -= b[i];
    const Vec g = numtest::apply(numtest::transpose(a), res);
    for (int j = 0; j < 4; ++j) EXPECT_NEAR(g[j], 0.0, 1e-12) << "rank " << r;
  }
}

TEST(PivotedQr, EmptyProblemsTouchNothing) {
  const int map[1] = {0};
  double x[1] = {kSentinel};
  int rank = -1;
  // m = 0: no row is read; every unknown of the basic solution is 0.
  double qraux[1], A[1] = {kSentinel};
  int jpvt[1], jwork[1];
  qel::mblsqsolve(0, 1, 0, 1, nullptr, map, 1e-13, jpvt, qraux, nullptr, jwork, A, nullptr, x, &rank);
  EXPECT_EQ(rank, 0);
  EXPECT_EQ(x[0], 0.0);
  // n = 0: nothing at all.
  rank = -1;
  qel::mblsqsolve(0, 1, 3, 0, nullptr, nullptr, 1e-13, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                  &rank);
  EXPECT_EQ(rank, 0);
}

}  // namespace

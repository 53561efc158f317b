// Small dense reference algebra for the numerics tests, written plainly and
// independently of the library: Gaussian elimination with partial pivoting.
#pragma once

#include <cmath>
#include <random>
#include <utility>
#include <vector>

namespace numtest {

using Matrix = std::vector<std::vector<double>>;

inline Matrix zeros(int r, int c) { return Matrix(r, std::vector<double>(c, 0.0)); }

inline Matrix random_matrix(std::mt19937& rng, int r, int c) {
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  Matrix a = zeros(r, c);
  for (auto& row : a)
    for (double& v : row) v = u(rng);
  return a;
}

inline std::vector<double> random_vector(std::mt19937& rng, int n) {
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<double> v(n);
  for (double& x : v) x = u(rng);
  return v;
}

inline Matrix transpose(const Matrix& a) {
  Matrix t = zeros(static_cast<int>(a[0].size()), static_cast<int>(a.size()));
  for (size_t i = 0; i < a.size(); ++i)
    for (size_t j = 0; j < a[0].size(); ++j) t[j][i] = a[i][j];
  return t;
}

inline Matrix multiply(const Matrix& a, const Matrix& b) {
  Matrix c = zeros(static_cast<int>(a.size()), static_cast<int>(b[0].size()));
  for (size_t i = 0; i < a.size(); ++i)
    for (size_t j = 0; j < b[0].size(); ++j)
      for (size_t k = 0; k < b.size(); ++k) c[i][j] += a[i][k] * b[k][j];
  return c;
}

inline std::vector<double> apply(const Matrix& a, const std::vector<double>& x) {
  std::vector<double> y(a.size(), 0.0);
  for (size_t i = 0; i < a.size(); ++i)
    for (size_t k = 0; k < x.size(); ++k) y[i] += a[i][k] * x[k];
  return y;
}

// Solves a x = b for a non-singular square a.
inline std::vector<double> solve(Matrix a, std::vector<double> b) {
  const int n = static_cast<int>(b.size());
  for (int c = 0; c < n; ++c) {
    int p = c;
    for (int r = c + 1; r < n; ++r)
      if (std::fabs(a[r][c]) > std::fabs(a[p][c])) p = r;
    std::swap(a[c], a[p]);
    std::swap(b[c], b[p]);
    for (int r = c + 1; r < n; ++r) {
      const double f = a[r][c] / a[c][c];
      for (int k = c; k < n; ++k) a[r][k] -= f * a[c][k];
      b[r] -= f * b[c];
    }
  }
  std::vector<double> x(n);
  for (int r = n - 1; r >= 0; --r) {
    double s = b[r];
    for (int k = r + 1; k < n; ++k) s -= a[r][k] * x[k];
    x[r] = s / a[r][r];
  }
  return x;
}

// A symmetric positive definite matrix: B B^T + n I.
inline Matrix random_spd(std::mt19937& rng, int n) {
  const Matrix b = random_matrix(rng, n, n);
  Matrix a = multiply(b, transpose(b));
  for (int i = 0; i < n; ++i) a[i][i] += n;
  return a;
}

}  // namespace numtest

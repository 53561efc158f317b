#include "numerics/ldl.hpp"

#include <cmath>

namespace qel {

void mbldudcomp(int ld, int n, const int* map, double tol, double* w1, double* w2, const double* A, double* L,
                double* dinv) {
  if (tol < 0.0) tol = 0.0;  // a zero pivot is never kept
  for (int i = 0; i < n; ++i) {
    const int ri = map[i];
    // Column i of the remaining matrix: A(i, j) less what the kept pivots
    // before i already account for; w1[j][k] holds l_jk d_k.
    for (int j = i; j < n; ++j) {
      double s = A[ri * ld + map[j]];
      for (int k = 0; k < i; ++k) s = s - L[ri * ld + map[k]] * w1[j * n + k];
      w2[j] = s;
    }
    const double d = w2[i];
    if (std::fabs(d) > tol) {
      dinv[ri] = 1.0 / d;
      w1[i * n + i] = d;
      L[ri * ld + ri] = 1.0;
      for (int j = i + 1; j < n; ++j) {
        w1[j * n + i] = w2[j];
        L[map[j] * ld + ri] = w2[j] * dinv[ri];
      }
    } else {
      // Dropped (also a NaN pivot): exact zeros, so nothing of this column,
      // not even a NaN, reaches later columns or the solve.
      dinv[ri] = 0.0;
      for (int j = i; j < n; ++j) {
        w1[j * n + i] = 0.0;
        L[map[j] * ld + ri] = 0.0;
      }
    }
  }
}

void mbldusolve(int ld, int n, const int* map, double tol, double* w1, double* w2, const double* A,
                const double* b, double* L, double* dinv, double* x) {
  mbldudcomp(ld, n, map, tol, w1, w2, A, L, dinv);
  mbldubslv(ld, n, map, w2, L, dinv, b, x);
}

// The intermediate vectors are indexed physically, like x, so they are kept
// in x itself: the work vector (n doubles from mbldusolve) could not hold
// components at map indices of n or more. Each step may run in place.
void mbldubslv(int ld, int n, const int* map, double* work, const double* L, const double* dinv, const double* b,
               double* x) {
  (void)work;
  mbfwdsub(ld, n, map, L, b, x);
  mbdiagscl(ld, n, map, dinv, x, x);
  mbbacksub(ld, n, map, L, x, x);
}

void mbfwdsub(int ld, int n, const int* map, const double* L, const double* b, double* y) {
  if (n <= 0) return;
  y[map[0]] = b[map[0]];
  for (int i = 1; i < n; ++i) {
    double s = 0.0;
    for (int k = 0; k < i; ++k) s = s + L[map[i] * ld + map[k]] * y[map[k]];
    y[map[i]] = b[map[i]] - s;
  }
}

void mbdiagscl(int ld, int n, const int* map, const double* dinv, const double* in, double* out) {
  (void)ld;
  for (int i = 0; i < n; ++i) out[map[i]] = in[map[i]] * dinv[map[i]];
}

void mbbacksub(int ld, int n, const int* map, const double* L, const double* y, double* x) {
  if (n <= 0) return;
  x[map[n - 1]] = y[map[n - 1]];
  for (int i = n - 2; i >= 0; --i) {
    double s = 0.0;
    for (int k = i + 1; k < n; ++k) s = s + L[map[k] * ld + map[i]] * x[map[k]];
    x[map[i]] = y[map[i]] - s;
  }
}

}  // namespace qel
